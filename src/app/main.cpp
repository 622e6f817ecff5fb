// netquarry: the desktop program's start-up.

#include "artwork.h"
#include "curlhandles.h"
#include "dialogsink.h"
#include "mainwindow.h"
#include "messagebox.h"
#include "progresspopup.h"
#include "searchrun.h"
#include "startfolder.h"
#include "textdecode.h"
#include "textwindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QScreen>

int main(int argc, char* argv[])
{
    const CurlGlobal curl;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Netquarry"));
    QApplication::setApplicationDisplayName(QStringLiteral("Netquarry"));
    QApplication::setApplicationVersion(QStringLiteral(NQ_VERSION));
    QApplication::setWindowIcon(artwork::ApplicationIcon());

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Searches a web site for keywords. Works in the folder it is started in."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption documents(
        QStringLiteral("documents-folder"),
        QStringLiteral("Work in the Netquarry folder of your documents folder, made when "
                       "missing (the desktop menu's entry starts the program so)."));
    parser.addOption(documents);
    parser.process(app);

    InstallDialogMessageSink();
    // Without it the window stays where it was started: its files go there.
    if (parser.isSet(documents)) {
        if (const QString error = EnterDocumentsWorkFolder(); !error.isEmpty())
            ShowMessageBox(ToUtf8(error), TMsgKind::Error);
    }

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
