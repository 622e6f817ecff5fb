// TCompoundForm: a designed form that a compound panel adopts.

#pragma once

#include "form.h"

// The dynamic property that marks an object as being in design state.
inline constexpr const char* kDesignModeProperty = "nqDesignMode";

// A form meant to be adopted by a TCompoundPanel, which hands it its own
// design state.
class TCompoundForm : public TForm
{
    Q_OBJECT

public:
    explicit TCompoundForm(QWidget* Owner = nullptr);

    // Marks the form and every object it owns, at any depth.
    Q_INVOKABLE void SetDesignMode(bool Value);
};
