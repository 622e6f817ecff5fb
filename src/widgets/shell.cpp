// The shell layer that opens addresses and files with the desktop's programs.

#include "shell.h"
#include "textdecode.h"

#include <QDesktopServices>
#include <QDir>
#include <QUrl>

namespace {

class DesktopShell final : public IShell
{
public:
    bool Open(const String& text) override
    {
        const QString value = DecodeWebText(text);
        const bool address = value.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive) ||
                             value.contains(QLatin1String("://"));
        const QUrl url = address ? QUrl(value, QUrl::TolerantMode)
                                 : QUrl::fromLocalFile(QDir::current().absoluteFilePath(value));
        return QDesktopServices::openUrl(url);
    }
};

std::unique_ptr<IShell>& current()
{
    static std::unique_ptr<IShell> shell;
    return shell;
}

} // namespace

IShell& Shell()
{
    if (!current())
        current() = std::make_unique<DesktopShell>();
    return *current();
}

std::unique_ptr<IShell> SetShell(std::unique_ptr<IShell> shell)
{
    return std::exchange(current(), std::move(shell));
}
