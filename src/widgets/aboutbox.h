// The about box component (TAppDlg) that fills and shows the about window.

#pragma once

#include "nqtypes.h"

#include <QObject>

// The about box as a component: seven texts and a modal window that shows
// them. Empty texts get their defaults at the next Execute and keep them.
class TAppDlg : public QObject
{
    Q_OBJECT

public:
    explicit TAppDlg(QObject* Owner = nullptr);

    // Plain texts; empty means the application's title.
    String Productname;
    String Version;
    String Copyright;
    // Shown after "Date:"; the day of construction unless set.
    String Info;
    String Email;
    String Site1;
    String Site2;

    // Shows a fresh about window modally; true only for the OK result,
    // which none of its controls gives, so closing it returns false.
    bool Execute();
};
