// Reply header parsing: the status line and the header block.

#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace inet {

// Without the blanks, tabs and line ends around it.
std::string_view TrimSpace(std::string_view text);

// The reply header blocks of one transfer, fed line by line as they arrive
// (interim replies and followed redirects included), and the final block
// once it is known: status line and fields, each ending in CR LF, and an
// empty line.
class ReplyHeaders
{
public:
    // One line as received, with or without its line end.
    void addLine(std::string_view line);
    // Body bytes or the transfer's end: the block so far is the final one.
    void endOfHeaders();

    bool isFinal() const { return m_final; }
    // The last block is complete and a redirect (301, 302, 303, 307, 308)
    // with a Location: the transfer goes on at its target.
    bool redirectPending() const;
    // Bytes of the block being received; the caller caps it.
    std::size_t pendingSize() const { return m_block.size(); }
    const std::string& finalBlock() const { return m_finalBlock; }
    // The status code's text from the final status line.
    std::optional<std::string> statusCode() const;
    // The first field of that name (any letter case), its value trimmed.
    std::optional<std::string> field(std::string_view name) const;

private:
    bool blockIsFinal() const;
    void makeFinal();

    std::string m_block;
    std::string m_finalBlock;
    bool m_final = false;
    bool m_blockDone = false;
};

} // namespace inet
