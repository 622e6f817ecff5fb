// The about window (TAppDlgForm) with its running logo and links.

#include "aboutwindow.h"

#include "colors.h"
#include "linklabel.h"
#include "logopanel.h"

#include <QEvent>
#include <QLabel>

TAppDlgForm::TAppDlgForm(QWidget* Owner) : QDialog(Owner)
{
    setObjectName(QStringLiteral("AppDlgForm"));
    setFixedSize(390, 156);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);
    // The layout's 8-point "MS Sans Serif", which is 11 pixels high.
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(11);
    setFont(f);

    const auto label = [this](const char* name, int left, int top) {
        auto* l = new QLabel(this);
        l->setObjectName(QLatin1String(name));
        l->move(left, top);
        return l;
    };
    const auto caption = [&](const char* name, int left, int top, const char* text) {
        QLabel* l = label(name, left, top);
        QFont bold = l->font();
        bold.setBold(true);
        l->setFont(bold);
        l->setText(QLatin1String(text));
        l->adjustSize();
        return l;
    };
    const auto link = [this](const char* name, int left, int top, bool mail) {
        auto* l = new TURLLabel(this);
        l->setObjectName(QLatin1String(name));
        l->move(left, top);
        l->MailLabel = mail;
        // The window's button-face background would otherwise make the
        // labels draw in the button-text colour, not their own.
        l->setForegroundRole(QPalette::WindowText);
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, ColorFromTColor(clBlue));
        l->setPalette(p);
        return l;
    };

    Productname = label("Productname", 144, 8);
    Version = label("Version", 144, 24);
    Copyright = label("Copyright", 144, 40);
    Info = label("Info", 216, 24);
    ProgramIcon = label("ProgramIcon", 8, 8);
    ProgramIcon->resize(65, 73);
    ProgramIcon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label1 = caption("Label1", 56, 8, "Productname:");
    Label2 = caption("Label2", 88, 24, "Version:");
    Label3 = caption("Label3", 77, 40, "Copyright:");
    Label4 = caption("Label4", 180, 24, "Date:");
    Label6 = caption("Label6", 108, 64, "Site:");
    Label8 = caption("Label8", 96, 104, "E-mail:");
    Site1 = link("Site1", 144, 64, false);
    Site2 = link("Site2", 144, 80, false);
    EMail = link("EMail", 144, 104, true);
    Zelt1 = new TZelt(this);
    Zelt1->setObjectName(QStringLiteral("Zelt1"));
    Zelt1->setGeometry(296, 8, 76, 42);
    Zelt1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Zelt1->SetCaption(QStringLiteral("Zelt1"));
}

void TAppDlgForm::FormActivate(TObject*)
{
    Zelt1->StartAnimation();
}

void TAppDlgForm::FormClose(TObject*, TCloseAction&)
{
    Zelt1->StopAnimation();
}

void TAppDlgForm::done(int result)
{
    TCloseAction action = TCloseAction::caHide;
    FormClose(this, action);
    QDialog::done(result);
}

bool TAppDlgForm::event(QEvent* event)
{
    // Sent on every activation, also after the user comes back from
    // another program.
    if (event->type() == QEvent::WindowActivate)
        FormActivate(this);
    return QDialog::event(event);
}
