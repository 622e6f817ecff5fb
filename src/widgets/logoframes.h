// The logo animation's eight frames (TCompForm), never shown.

#pragma once

#include "form.h"

class QLabel;

// The never-shown form that holds the logo animation's eight frames, all
// 70 x 36 at the same place; later ones lie above earlier ones, so I1_9 is
// the one seen. TZelt adopts the pictures; the names tell the frames of
// the cycle that show each one.
class TCompForm : public TForm
{
    Q_OBJECT

public:
    explicit TCompForm(QWidget* Owner = nullptr);

    QLabel* I1_9 = nullptr;
    QLabel* I2_8 = nullptr;
    QLabel* I3_7 = nullptr;
    QLabel* I4_6 = nullptr;
    QLabel* I5 = nullptr;
    QLabel* I10_12 = nullptr;
    QLabel* I11 = nullptr;
    QLabel* I12 = nullptr;
};
