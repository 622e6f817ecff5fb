// The link label (TURLLabel): a label that opens its address when clicked.

#pragma once

#include "nqtypes.h"

#include <QLabel>

// A label that looks like a link and, when clicked, hands its caption to
// the shell: a web address or file opens in its associated program, and
// with MailLabel set the caption is opened as a mail address.
class TURLLabel : public QLabel
{
    Q_OBJECT

public:
    explicit TURLLabel(QWidget* Owner = nullptr);

    bool MailLabel = false;
    String Copyright() const;
    void SetCopyright(const String&) {}

    // The label's click event, run first on every click.
    TEvent<> OnClick;

    // The click operation: also callable by the program, on a hidden label.
    // False when the shell could not start a program for it.
    bool Click();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};
