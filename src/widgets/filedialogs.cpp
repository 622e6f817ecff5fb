// The file dialogs layer: where the user picks a folder, a file to save into or one to open.

#include "filedialogs.h"

#include <QFileDialog>
#include <QRegularExpression>

namespace {

class DesktopFileDialogs final : public IFileDialogs
{
public:
    QString ChooseFolder(QWidget* parent, const QString& title, const QString& start) override
    {
        return QFileDialog::getExistingDirectory(parent, title, start);
    }
    QString ChooseSaveFile(QWidget* parent, const QString& title, const QString& start,
                           const QString& filter) override
    {
        QFileDialog dialog(parent, title, start, filter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        // The filter's suffix goes on a name typed without one before the
        // dialog asks whether to replace a file of that name.
        static const QRegularExpression suffix(QStringLiteral(R"(\(\*\.(\w+))"));
        if (const QRegularExpressionMatch match = suffix.match(filter); match.hasMatch())
            dialog.setDefaultSuffix(match.captured(1));
        return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
    }
    QString ChooseOpenFile(QWidget* parent, const QString& title, const QString& start,
                           const QString& filter) override
    {
        return QFileDialog::getOpenFileName(parent, title, start, filter);
    }
};

std::unique_ptr<IFileDialogs>& current()
{
    static std::unique_ptr<IFileDialogs> dialogs;
    return dialogs;
}

} // namespace

IFileDialogs& FileDialogs()
{
    if (!current())
        current() = std::make_unique<DesktopFileDialogs>();
    return *current();
}

std::unique_ptr<IFileDialogs> SetFileDialogs(std::unique_ptr<IFileDialogs> dialogs)
{
    return std::exchange(current(), std::move(dialogs));
}
