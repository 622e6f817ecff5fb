// The file dialogs layer: where the user picks a folder, a file to save into or one to open.

#pragma once

#include <QString>

#include <memory>

class QWidget;

// Our file dialogs: each returns the chosen path, or an empty text when the
// user cancelled. Tests install a recorder that answers without a dialog.
class IFileDialogs
{
public:
    virtual ~IFileDialogs() = default;
    virtual QString ChooseFolder(QWidget* parent, const QString& title, const QString& start) = 0;
    // filter as in "CSV files (*.csv)".
    virtual QString ChooseSaveFile(QWidget* parent, const QString& title, const QString& start,
                                   const QString& filter) = 0;
    virtual QString ChooseOpenFile(QWidget* parent, const QString& title, const QString& start,
                                   const QString& filter) = 0;
};

IFileDialogs& FileDialogs();
// Returns the previous one.
std::unique_ptr<IFileDialogs> SetFileDialogs(std::unique_ptr<IFileDialogs> dialogs);
