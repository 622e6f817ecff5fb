// TCompoundPanel: a panel that takes over a designed form's controls.

#pragma once

#include <QFrame>

#include <memory>

// A panel that takes over the controls of a separately designed form, so a
// control's look can be laid out as a form and used as one widget.
class TCompoundPanel : public QFrame
{
    Q_OBJECT

public:
    explicit TCompoundPanel(QWidget* Owner = nullptr);
    // Runs the hosted form's close event, then destroys the panel's children
    // (the adopted controls among them), then the hosted form.
    ~TCompoundPanel() override;

    // The panel owns the form from here on, and takes its size; the form's
    // direct child widgets move into the panel at the same positions.
    // A TCompoundForm gets the panel's design state first. Returns form.
    QWidget* AdoptForm(QWidget* form);
    QWidget* HostedForm() const { return m_hostedForm.get(); }

    // Drawn centred, below any children.
    const QString& Caption() const { return m_caption; }
    void SetCaption(const QString& Value);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::unique_ptr<QWidget> m_hostedForm;
    QString m_caption;
};
