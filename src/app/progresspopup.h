// The "Analyzing site..." pop-up (TProgress) shown while the crawl runs.

#pragma once

#include <QWidget>

class QLabel;

// The borderless, stay-on-top "Analyzing site..." pop-up; its picture
// alternates with every link the crawler reports.
class TProgress : public QWidget
{
    Q_OBJECT

public:
    explicit TProgress(QWidget* parent = nullptr);

    void FlipPictures();

    QLabel* Label1 = nullptr;
    QLabel* I1 = nullptr; // the icon
    QLabel* I2 = nullptr; // the bitmap, lying on top of I1
};
