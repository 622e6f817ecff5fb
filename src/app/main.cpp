// netquarry: the desktop program's start-up.

#include "artwork.h"
#include "curlhandles.h"
#include "dialogsink.h"
#include "mainwindow.h"
#include "progresspopup.h"
#include "searchrun.h"
#include "textwindow.h"

#include <QApplication>
#include <QScreen>

int main(int argc, char* argv[])
{
    const CurlGlobal curl;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Netquarry"));
    QApplication::setApplicationDisplayName(QStringLiteral("Netquarry"));
    QApplication::setWindowIcon(artwork::ApplicationIcon());
    InstallDialogMessageSink();

    auto* form1 = new TForm1; // freed when it closes, which ends the program
    form1->setAttribute(Qt::WA_DeleteOnClose);
    auto* form2 = new TForm2(form1);
    auto* progress = new TProgress(form1);
    form1->AttachWindows(form2, progress);
    if (const QScreen* screen = form1->screen())
        form1->move(screen->availableGeometry().center() - form1->rect().center());
    form1->show();
    const int result = QApplication::exec();

    // Closing stopped the crawl and the page fetch; their transfers end on
    // their own and are freed on this thread. Wait for them, but not for
    // long, rather than tear the application down under them.
    WaitForStoppedTransfers(2000);
    return result;
}
