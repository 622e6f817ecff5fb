// TCompoundForm: a designed form that a compound panel adopts.

#include "compoundform.h"

TCompoundForm::TCompoundForm(QWidget* Owner) : TForm(Owner) {}

void TCompoundForm::SetDesignMode(bool Value)
{
    setProperty(kDesignModeProperty, Value);
    for (QObject* object : findChildren<QObject*>())
        object->setProperty(kDesignModeProperty, Value);
}
