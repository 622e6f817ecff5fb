// The file dialogs layer: where the user picks a folder or a file to save into.

#include "filedialogs.h"

#include <QFileDialog>

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
        return QFileDialog::getSaveFileName(parent, title, start, filter);
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
