// TCompoundPanel: a panel that takes over a designed form's controls.

#include "compoundpanel.h"

#include "compoundform.h"

#include <QPainter>

TCompoundPanel::TCompoundPanel(QWidget* Owner) : QFrame(Owner)
{
    setFrameStyle(QFrame::Panel | QFrame::Raised);
}

TCompoundPanel::~TCompoundPanel()
{
    // Qt has no separate window-destroyed notice for a child widget; the
    // panel's window goes away here, before its children.
    if (auto* form = qobject_cast<TForm*>(m_hostedForm.get())) {
        TCloseAction ignored = TCloseAction::caHide;
        Fire(form->OnClose, this, ignored);
    }
    // The base destructor would delete the children only after the hosted
    // form, which made them; keep the order the other way round.
    while (!children().isEmpty())
        delete children().constLast();
    m_hostedForm.reset();
}

QWidget* TCompoundPanel::AdoptForm(QWidget* form)
{
    if (auto* compound = qobject_cast<TCompoundForm*>(form))
        compound->SetDesignMode(property(kDesignModeProperty).toBool());
    // A parent would own the form a second time.
    if (form->parent())
        form->setParent(nullptr);
    m_hostedForm.reset(form);
    resize(form->size());
    SetCaption(QString());
    // A copy: reparenting changes the form's list as we go.
    const QObjectList owned = form->children();
    for (QObject* object : owned) {
        auto* control = qobject_cast<QWidget*>(object);
        if (!control || control->isWindow())
            continue;
        // setParent keeps the geometry but hides the widget.
        const bool hidden = control->isHidden();
        control->setParent(this);
        control->setVisible(!hidden);
    }
    return form;
}

void TCompoundPanel::SetCaption(const QString& Value)
{
    m_caption = Value;
    update();
}

void TCompoundPanel::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    if (m_caption.isEmpty())
        return;
    QPainter p(this);
    p.drawText(contentsRect(), Qt::AlignCenter, m_caption);
}
