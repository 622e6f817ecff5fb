#include "curlhandles.h"
#include "dialogsink.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[])
{
    const CurlGlobal curl;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Netquarry"));
    QApplication::setApplicationDisplayName(QStringLiteral("Netquarry"));
    InstallDialogMessageSink();

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Netquarry"));
    window.resize(640, 480);
    window.show();
    return QApplication::exec();
}
