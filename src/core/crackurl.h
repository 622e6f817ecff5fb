// TCrackUrl: one address split into its parts, over libcurl's URL API.

#pragma once

#include "nqtypes.h"
#include "urlcomponents.h"

#include <array>
#include <cstddef>

// A fixed, NUL-terminated text buffer of one decomposed part: 1,024
// characters and the NUL.
class TUrlPartBuffer
{
public:
    static constexpr std::size_t Capacity = 1025;

    TUrlPartBuffer() { m_data[0] = '\0'; }

    // Writes at most Capacity - 1 characters; the rest is cut.
    void Assign(const String& text);
    String Text() const { return String(m_data.data()); }
    operator String() const { return Text(); }
    const char* c_str() const { return m_data.data(); }
    char* data() { return m_data.data(); }
    bool empty() const { return m_data[0] == '\0'; }
    void clear() { m_data[0] = '\0'; }

private:
    std::array<char, Capacity> m_data;
};

// The decomposed form of one absolute address, reused for one address after
// another: no allocation per crack beyond Directory.
class TCrackUrl
{
public:
    TCrackUrl();

    // Decomposes Address (%xx decoded) and derives Directory from the path.
    // An address longer than 1,024 characters is refused.
    bool Crack(const String& Address);

    String Url() const { return m_address.Text(); }
    const String& Directory() const { return m_directory; }
    bool Valid() const { return m_valid; }
    // The directory Crack derives from a decoded path.
    static String DirectoryOf(String Path);

    TUrlPartBuffer Scheme;
    TUrlPartBuffer HostName;
    INTERNET_PORT Port = 0;
    TUrlPartBuffer UserName;
    TUrlPartBuffer Password;
    TUrlPartBuffer UrlPath;
    TUrlPartBuffer ExtraInfo;

private:
    void clearParts();
    void deriveDirectory();

    TUrlPartBuffer m_address;
    URL_COMPONENTSA m_components{};
    String m_directory = "/";
    bool m_valid = false;
};
