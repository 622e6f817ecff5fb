// Where the desktop program works: where it was started, or its folder among the documents.

#include "startfolder.h"

#include <QDir>
#include <QStandardPaths>

QString DocumentsWorkFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) +
           QStringLiteral("/Netquarry");
}

QString EnterDocumentsWorkFolder()
{
    const QString folder = DocumentsWorkFolder();
    if (!QDir().mkpath(folder))
        return QStringLiteral("Cannot create the folder ") + QDir::toNativeSeparators(folder);
    if (!QDir::setCurrent(folder))
        return QStringLiteral("Cannot work in the folder ") + QDir::toNativeSeparators(folder);
    return QString();
}
