// An address as strangers write it: decomposed, and combined as a base with
// a relative link (the input split at its first NUL or line break).
#include "crackurl.h"
#include "fuzzcheck.h"
#include "urlcomponents.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

// Buffers of exactly the announced size, so that a write past the end is
// caught.
struct ExactBuffer
{
    explicit ExactBuffer(std::uint32_t capacity)
        : data(std::make_unique<char[]>(capacity)), length(capacity)
    {}
    std::unique_ptr<char[]> data;
    std::uint32_t length;
};

void checkCrack(const String& address)
{
    // Reused, as the crawler and every fetch controller reuse theirs.
    static TCrackUrl parts;
    const bool valid = parts.Crack(address);
    FUZZ_CHECK(valid == parts.Valid());
    FUZZ_CHECK(!parts.Directory().empty() && parts.Directory().front() == '/');
    if (!valid)
        return;
    const String text = address.substr(0, address.find('\0'));
    FUZZ_CHECK(parts.Url() == text);
    FUZZ_CHECK(parts.UrlPath.empty() || parts.UrlPath.c_str()[0] == '/' ||
               std::strcmp(parts.Scheme.c_str(), "http") != 0);
    FUZZ_CHECK(parts.ExtraInfo.empty() || parts.ExtraInfo.c_str()[0] == '?' ||
               parts.ExtraInfo.c_str()[0] == '#');
}

// The layer's decomposition into small buffers: a part that does not fit
// fails the call, and nothing is written past a buffer.
void checkSmallParts(const String& address)
{
    constexpr std::uint32_t capacity = 16;
    ExactBuffer scheme(capacity), host(capacity), user(capacity), password(capacity),
        path(capacity), extra(capacity);
    URL_COMPONENTSA parts{};
    parts.dwStructSize = sizeof(parts);
    parts.lpszScheme = scheme.data.get();
    parts.dwSchemeLength = capacity;
    parts.lpszHostName = host.data.get();
    parts.dwHostNameLength = capacity;
    parts.lpszUserName = user.data.get();
    parts.dwUserNameLength = capacity;
    parts.lpszPassword = password.data.get();
    parts.dwPasswordLength = capacity;
    parts.lpszUrlPath = path.data.get();
    parts.dwUrlPathLength = capacity;
    parts.lpszExtraInfo = extra.data.get();
    parts.dwExtraInfoLength = capacity;
    const String text = address.substr(0, address.find('\0'));
    if (text.empty())
        return;
    if (CrackUrlComponents(text.c_str(), static_cast<std::uint32_t>(text.size()), ICU_DECODE,
                           &parts) != UrlError::None)
        return;
    for (const auto& [buffer, length] : {std::pair{parts.lpszScheme, parts.dwSchemeLength},
                                         std::pair{parts.lpszHostName, parts.dwHostNameLength},
                                         std::pair{parts.lpszUserName, parts.dwUserNameLength},
                                         std::pair{parts.lpszPassword, parts.dwPasswordLength},
                                         std::pair{parts.lpszUrlPath, parts.dwUrlPathLength},
                                         std::pair{parts.lpszExtraInfo, parts.dwExtraInfoLength}}) {
        FUZZ_CHECK(length < capacity);
        FUZZ_CHECK(std::strlen(buffer) == length);
    }
}

// Combines into the crawler's 1,024 bytes; a result that does not fit must
// name the size that does, and fit exactly there.
void checkCombine(const String& base, const String& relative)
{
    ExactBuffer out(1024);
    const UrlError rc =
        CombineUrl(base.c_str(), relative.c_str(), out.data.get(), &out.length, ICU_NO_ENCODE);
    if (rc == UrlError::InvalidUrl)
        return;
    std::uint32_t resultLength = out.length;
    String result;
    if (rc == UrlError::BufferTooSmall) {
        FUZZ_CHECK(out.length > 1024);
        ExactBuffer big(out.length);
        FUZZ_CHECK(CombineUrl(base.c_str(), relative.c_str(), big.data.get(), &big.length,
                              ICU_NO_ENCODE) == UrlError::None);
        FUZZ_CHECK(big.length + 1 == out.length);
        result.assign(big.data.get(), big.length);
        resultLength = big.length;
    } else {
        FUZZ_CHECK(rc == UrlError::None);
        FUZZ_CHECK(out.length < 1024);
        result.assign(out.data.get(), out.length);
    }
    FUZZ_CHECK(std::strlen(result.c_str()) == result.size());

    // One byte short of the NUL does not fit.
    ExactBuffer tight(resultLength);
    if (resultLength > 0) {
        FUZZ_CHECK(CombineUrl(base.c_str(), relative.c_str(), tight.data.get(), &tight.length,
                              ICU_NO_ENCODE) == UrlError::BufferTooSmall);
        FUZZ_CHECK(tight.length == resultLength + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const String input(reinterpret_cast<const char*>(data), size);
    checkCrack(input);
    checkSmallParts(input);

    const auto split = std::min(input.find('\0'), input.find('\n'));
    if (split != String::npos)
        checkCombine(input.substr(0, split), input.substr(split + 1));
    return 0;
}
