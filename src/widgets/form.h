// TForm: the base of our designed forms, with a close event.

#pragma once

#include "nqtypes.h"

#include <QWidget>

// What a form's close handler wants done with the form.
enum class TCloseAction
{
    caNone,
    caHide,
    caFree,
    caMinimize
};

// The base of our designed forms: a top-level widget with a close event.
// The event runs when the form is closed and, for a form that a panel has
// adopted, when that panel goes away.
class TForm : public QWidget
{
    Q_OBJECT

public:
    explicit TForm(QWidget* Owner = nullptr);

    // caNone keeps the form open; the other actions just let it close.
    TEvent<TCloseAction&> OnClose;

protected:
    void closeEvent(QCloseEvent* event) override;
};
