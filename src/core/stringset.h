// A set of texts packed end to end in large blocks.

#pragma once

#include "nqtypes.h"

#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_set>
#include <vector>

// What a crawl has met: tens of thousands of addresses, added and looked up,
// never removed one by one. Kept in blocks with an index of offsets, each
// costs its bytes and about twelve more, where a node set spends two heap
// blocks and some forty bytes besides.
class TStringSet
{
public:
    // False when text was there already.
    bool Insert(std::string_view text);
    bool Contains(std::string_view text) const;
    std::size_t Size() const { return m_used + m_long.size(); }
    // Also gives the memory back.
    void Clear();

private:
    struct Slot
    {
        std::uint32_t offset = kFree; // of the text's length in the blocks
        std::uint32_t hash = 0;
    };
    static constexpr std::uint32_t kFree = UINT32_MAX;
    static constexpr std::size_t kBlockBits = 16;
    static constexpr std::size_t kBlockSize = std::size_t{1} << kBlockBits;

    static std::uint32_t hashOf(std::string_view text);
    std::string_view textAt(std::uint32_t offset) const;
    std::size_t slotOf(std::string_view text, std::uint32_t hash) const;
    std::uint32_t store(std::string_view text);
    void grow();

    std::vector<std::unique_ptr<char[]>> m_blocks;
    std::size_t m_end = 0;     // where the next text goes, across the blocks
    std::vector<Slot> m_slots; // a power of two of them, at most three quarters in use
    std::size_t m_used = 0;
    // Texts too long for a block, and any beyond the offsets' range.
    std::unordered_set<String> m_long;
};
