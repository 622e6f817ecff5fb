// Finds the entries of a list of texts by text, without regard to ASCII
// letter case.

#pragma once

#include "nqtypes.h"

#include <cstdint>
#include <string_view>
#include <vector>

// Holds positions in a list the caller keeps, not copies of its texts: for a
// crawl's tens of thousands of addresses that is eight bytes an entry
// instead of a second, lower-case copy in a node of its own.
class TCaseBlindIndex
{
public:
    using List = std::vector<String>;

    // Appends text to list unless an entry equal to it ignoring case is
    // there already; true when appended.
    bool Add(const String& text, List& list);
    bool Contains(std::string_view text, const List& list) const;
    // Indexes the whole list anew, after one of its entries changed.
    void Rebuild(const List& list);
    void Clear();

private:
    struct Slot
    {
        std::uint32_t position = kFree;
        std::uint32_t hash = 0;
    };
    static constexpr std::uint32_t kFree = UINT32_MAX;

    static std::uint32_t hashOf(std::string_view text);
    // The slot holding text, or the free slot where it belongs.
    std::size_t slotOf(std::string_view text, std::uint32_t hash, const List& list) const;
    void grow();

    std::vector<Slot> m_slots; // a power of two of them, at most three quarters in use
    std::size_t m_used = 0;
};
