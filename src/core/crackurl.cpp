// TCrackUrl: one address split into its parts, over libcurl's URL API.

#include "crackurl.h"

#include "stringhelpers.h"

#include <algorithm>
#include <cstring>

namespace {
// The capacity announced for every part, terminating NUL included.
constexpr std::uint32_t kAnnounced = 1024;
} // namespace

void TUrlPartBuffer::Assign(const String& text)
{
    const std::size_t n = std::min(text.size(), Capacity - 1);
    std::memcpy(m_data.data(), text.data(), n);
    m_data[n] = '\0';
}

TCrackUrl::TCrackUrl()
{
    m_components.dwStructSize = sizeof(URL_COMPONENTSA);
    m_components.lpszScheme = Scheme.data();
    m_components.lpszHostName = HostName.data();
    m_components.lpszUserName = UserName.data();
    m_components.lpszPassword = Password.data();
    m_components.lpszUrlPath = UrlPath.data();
    m_components.lpszExtraInfo = ExtraInfo.data();
}

bool TCrackUrl::Crack(const String& Address)
{
    // The text up to its first NUL is the address, as a C caller would see it.
    const String text = Address.substr(0, Address.find('\0'));
    m_address.Assign(text);

    m_components.dwSchemeLength = kAnnounced;
    m_components.dwHostNameLength = kAnnounced;
    m_components.dwUserNameLength = kAnnounced;
    m_components.dwPasswordLength = kAnnounced;
    m_components.dwUrlPathLength = kAnnounced;
    m_components.dwExtraInfoLength = kAnnounced;

    m_valid = text.size() < TUrlPartBuffer::Capacity &&
              CrackUrlComponents(m_address.c_str(), static_cast<std::uint32_t>(text.size()),
                                 ICU_ESCAPE | ICU_DECODE, &m_components) == UrlError::None;
    if (m_valid)
        Port = m_components.nPort;
    else
        clearParts(); // a failed crack leaves nothing of the previous address behind
    deriveDirectory();
    return m_valid;
}

void TCrackUrl::clearParts()
{
    Scheme.clear();
    HostName.clear();
    Port = 0;
    UserName.clear();
    Password.clear();
    UrlPath.clear();
    ExtraInfo.clear();
}

void TCrackUrl::deriveDirectory()
{
    m_directory = DirectoryOf(UrlPath.Text());
}

String TCrackUrl::DirectoryOf(String p)
{
    const Integer i = LastCharPos('/', p);
    if (i < static_cast<Integer>(p.size())) {
        // A last segment without a dot names a directory, not a file.
        if (p.find('.', static_cast<std::size_t>(i)) == String::npos)
            p += '/';
    }
    const Integer j = LastCharPos('/', p);
    return j < 2 ? String("/") : p.substr(0, static_cast<std::size_t>(j - 1));
}
