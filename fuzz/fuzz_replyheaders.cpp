// A server's header lines as libcurl hands them over, one per line end, fed
// to the reply-header parser; then the final block is asked what the layer
// asks of it.
#include "fuzzcheck.h"
#include "replyheaders.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

// Without the blanks HTTP allows around a value (a stray CR is not one).
bool trimmed(const std::string& value)
{
    const auto blank = [](char ch) { return ch == ' ' || ch == '\t'; };
    return value.empty() || (!blank(value.front()) && !blank(value.back()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    inet::ReplyHeaders headers;
    std::size_t from = 0;
    while (from < input.size()) {
        const auto end = input.find('\n', from);
        const std::size_t next = end == std::string_view::npos ? input.size() : end + 1;
        headers.addLine(input.substr(from, next - from));
        from = next;
    }
    headers.endOfHeaders();

    const std::string& block = headers.finalBlock();
    // Once the headers end, whatever block came last is the final one.
    FUZZ_CHECK(headers.isFinal() == !block.empty());
    if (!block.empty())
        FUZZ_CHECK(block.size() >= 2 && block.compare(block.size() - 2, 2, "\r\n") == 0);
    static_cast<void>(headers.statusCode());
    for (const char* name : {"Content-Length", "location", "CONTENT-TYPE", "Transfer-Encoding"}) {
        if (const auto value = headers.field(name)) {
            FUZZ_CHECK(trimmed(*value));
            FUZZ_CHECK(value->find("\r\n") == std::string::npos);
        }
    }
    return 0;
}
