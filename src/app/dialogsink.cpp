// The message routine's modal boxes for the desktop program.

#include "dialogsink.h"
#include "textdecode.h"

#include "messagebox.h"

#include <QApplication>
#include <QMessageBox>

void InstallDialogMessageSink()
{
    SetMessageSink([](const String& text, TMsgKind kind) {
        QMessageBox::Icon icon = QMessageBox::Information;
        if (kind == TMsgKind::Warning)
            icon = QMessageBox::Warning;
        else if (kind == TMsgKind::Error)
            icon = QMessageBox::Critical;
        // No parent: the box is centred on the screen, not on a window.
        QMessageBox box(icon, QApplication::applicationDisplayName(), DecodeWebText(text),
                        QMessageBox::Ok);
        box.exec();
    });
}
