// Passwords in addresses: hidden wherever an address is shown, taken out where one is used.

#include "passwordmask.h"

#include <QByteArray>

namespace {

// Where the authority after "://" at from ends: at the path, query,
// fragment, or anything that cannot be part of an address in running text.
std::size_t authorityEnd(std::string_view text, std::size_t from)
{
    const auto end = text.find_first_of("/?#\\ \t\r\n\"'<>`", from);
    return end == std::string_view::npos ? text.size() : end;
}

String decoded(std::string_view text)
{
    return QByteArray::fromPercentEncoding(
               QByteArray(text.data(), static_cast<qsizetype>(text.size())))
        .toStdString();
}

} // namespace

String MaskPasswords(std::string_view text)
{
    // Nearly every address shown carries no user info: one scan, one copy.
    if (text.find('@') == std::string_view::npos)
        return String(text);
    String out;
    std::size_t done = 0;
    std::size_t sep = 0;
    while ((sep = text.find("://", done)) != std::string_view::npos) {
        const std::size_t from = sep + 3;
        const std::size_t end = authorityEnd(text, from);
        const auto at = text.rfind('@', end == 0 ? 0 : end - 1);
        const auto colon = text.find(':', from);
        if (at != std::string_view::npos && at >= from && at < end && colon < at) {
            out.append(text.substr(done, colon + 1 - done));
            out += "***";
            done = at;
        } else {
            out.append(text.substr(done, from - done));
            done = from;
        }
    }
    out.append(text.substr(done));
    return out;
}

String WithoutUserInfo(const String& address, String* user, String* password)
{
    user->clear();
    password->clear();
    const auto sep = address.find("://");
    if (sep == String::npos)
        return address;
    const std::size_t from = sep + 3;
    const std::size_t end = authorityEnd(address, from);
    const auto at = address.rfind('@', end == 0 ? 0 : end - 1);
    if (at == String::npos || at < from || at >= end)
        return address;
    const std::string_view info = std::string_view(address).substr(from, at - from);
    const auto colon = info.find(':');
    *user = decoded(info.substr(0, colon));
    if (colon != std::string_view::npos)
        *password = decoded(info.substr(colon + 1));
    return address.substr(0, from) + address.substr(at + 1);
}
