// The about window (TAppDlgForm) with its running logo and links.

#pragma once

#include "form.h"
#include "nqtypes.h"

#include <QDialog>

class QLabel;
class TURLLabel;
class TZelt;

// The about window that TAppDlg fills and shows. Its logo runs while the
// window is active and stops when it closes.
class TAppDlgForm : public QDialog
{
    Q_OBJECT

public:
    explicit TAppDlgForm(QWidget* Owner = nullptr);

    QLabel* Productname = nullptr;
    QLabel* Version = nullptr;
    QLabel* Copyright = nullptr;
    QLabel* Info = nullptr;
    QLabel* ProgramIcon = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label8 = nullptr;
    TURLLabel* Site1 = nullptr;
    TURLLabel* Site2 = nullptr;
    TURLLabel* EMail = nullptr;
    TZelt* Zelt1 = nullptr;

    void FormActivate(TObject* Sender);
    void FormClose(TObject* Sender, TCloseAction& Action);

    // Every way of closing a dialog ends here, not only close().
    void done(int result) override;

protected:
    bool event(QEvent* event) override;
};
