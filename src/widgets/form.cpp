// TForm: the base of our designed forms, with a close event.

#include "form.h"

#include <QCloseEvent>

TForm::TForm(QWidget* Owner) : QWidget(Owner) {}

void TForm::closeEvent(QCloseEvent* event)
{
    TCloseAction action = TCloseAction::caHide;
    Fire(OnClose, this, action);
    if (action == TCloseAction::caNone)
        event->ignore();
    else
        event->accept();
}
