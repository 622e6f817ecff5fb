// The about box component (TAppDlg) that fills and shows the about window.

#include "aboutbox.h"
#include "textdecode.h"

#include "aboutwindow.h"
#include "credits.h"
#include "linklabel.h"

#include <QApplication>
#include <QDate>
#include <QIcon>
#include <QLabel>
#include <QLocale>

#include <memory>

namespace {

constexpr const char* kVersion = "1.1";
constexpr const char* kEmail = "netquarry@example.org";
constexpr const char* kSite1 = "https://netquarry.example.org/";
constexpr const char* kSite2 = "https://www.example.org/netquarry/";

String today()
{
    return ToUtf8(QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat));
}

String applicationTitle()
{
    const QString name = QApplication::applicationDisplayName();
    return ToUtf8(name.isEmpty() ? QApplication::applicationName() : name);
}

void fallBack(String& text, const String& value)
{
    if (text.empty())
        text = value;
}

// A Windows icon is 32 x 32, and the layout leaves room for that much
// beside the captions; a larger size of the icon would cover them.
QPixmap iconPicture(const QIcon& icon)
{
    return icon.pixmap(QSize(32, 32));
}

} // namespace

TAppDlg::TAppDlg(QObject* Owner)
    : QObject(Owner), Version(kVersion), Copyright(kNetquarryCredit), Info(today()), Email(kEmail),
      Site1(kSite1), Site2(kSite2)
{}

bool TAppDlg::Execute()
{
    const auto form = std::make_unique<TAppDlgForm>();
    fallBack(Productname, applicationTitle());
    fallBack(Copyright, kNetquarryCredit);
    fallBack(Info, today());
    fallBack(Version, kVersion);
    fallBack(Site1, kSite1);
    fallBack(Site2, kSite2);
    fallBack(Email, kEmail);

    const auto show = [](QLabel* label, const String& text) {
        label->setText(DecodeWebText(text));
        label->adjustSize();
    };
    show(form->Productname, Productname);
    show(form->Version, Version);
    show(form->Copyright, Copyright);
    show(form->Info, Info);
    show(form->Site1, Site1);
    show(form->Site2, Site2);
    show(form->EMail, Email);
    form->setWindowTitle(QStringLiteral("About ") + DecodeWebText(Productname));
    form->ProgramIcon->setPixmap(iconPicture(QApplication::windowIcon()));
    return form->exec() == QDialog::Accepted;
}
