// Reply header parsing: the status line and the header block.

#include "replyheaders.h"

#include "stringhelpers.h"

#include <charconv>

namespace inet {

std::string_view TrimSpace(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

void ReplyHeaders::addLine(std::string_view line)
{
    const std::string_view text = TrimSpace(line);
    if (StartsWithNoCase(line, "HTTP/")) {
        m_block.assign(text);
        m_block += "\r\n";
        m_final = false;
        m_blockDone = false;
        return;
    }
    if (text.empty()) {
        if (m_block.empty())
            return;
        m_block += "\r\n";
        m_blockDone = true;
        if (blockIsFinal())
            makeFinal();
        return;
    }
    m_block.append(text);
    m_block += "\r\n";
}

void ReplyHeaders::endOfHeaders()
{
    if (!m_final && !m_block.empty())
        makeFinal();
}

void ReplyHeaders::makeFinal()
{
    m_finalBlock = m_block;
    m_final = true;
}

// An interim reply (1xx) or a redirect that libcurl is about to follow is
// not the final reply. A redirect that is not followed in the end finishes
// the transfer, which makes it final there.
bool ReplyHeaders::blockIsFinal() const
{
    const auto space = m_block.find(' ');
    int status = 0;
    if (space != std::string::npos)
        std::from_chars(m_block.data() + space + 1, m_block.data() + m_block.size(), status);
    if (status >= 100 && status < 200)
        return false;
    if (status >= 300 && status < 400) {
        std::size_t pos = 0;
        while ((pos = m_block.find("\r\n", pos)) != std::string::npos) {
            pos += 2;
            if (StartsWithNoCase(std::string_view(m_block).substr(pos), "location:"))
                return false;
        }
    }
    return true;
}

bool ReplyHeaders::redirectPending() const
{
    if (m_final || !m_blockDone)
        return false;
    const auto space = m_block.find(' ');
    int status = 0;
    if (space != std::string::npos)
        std::from_chars(m_block.data() + space + 1, m_block.data() + m_block.size(), status);
    // 300 and 304 are never followed, and a redirect without a Location
    // counts as final already.
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::optional<std::string> ReplyHeaders::statusCode() const
{
    const auto first = m_finalBlock.find(' ');
    if (first == std::string::npos)
        return std::nullopt;
    const auto second = m_finalBlock.find_first_of(" \r", first + 1);
    if (second == std::string::npos)
        return std::nullopt;
    return m_finalBlock.substr(first + 1, second - first - 1);
}

std::optional<std::string> ReplyHeaders::field(std::string_view name) const
{
    const std::string wanted = AsciiLower(name);
    std::size_t pos = m_finalBlock.find("\r\n");
    while (pos != std::string::npos) {
        pos += 2;
        const auto end = m_finalBlock.find("\r\n", pos);
        if (end == std::string::npos)
            break;
        const std::string_view line(m_finalBlock.data() + pos, end - pos);
        const auto colon = line.find(':');
        if (colon != std::string_view::npos &&
            AsciiLower(TrimSpace(line.substr(0, colon))) == wanted)
            return std::string(TrimSpace(line.substr(colon + 1)));
        pos = end;
    }
    return std::nullopt;
}

} // namespace inet
