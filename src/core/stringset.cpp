#include "stringset.h"

#include "hashslots.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kLengthBytes = sizeof(std::uint16_t);

} // namespace

std::uint32_t TStringSet::hashOf(std::string_view text)
{
    // FNV-1a: addresses share long prefixes, and it mixes every byte in.
    std::uint64_t h = 14695981039346656037ULL;
    for (const char c : text) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ULL;
    }
    return static_cast<std::uint32_t>(h ^ (h >> 32));
}

std::string_view TStringSet::textAt(std::uint32_t offset) const
{
    const char* at = m_blocks[offset >> kBlockBits].get() + (offset & (kBlockSize - 1));
    std::uint16_t length = 0;
    std::memcpy(&length, at, kLengthBytes);
    return {at + kLengthBytes, length};
}

std::size_t TStringSet::slotOf(std::string_view text, std::uint32_t hash) const
{
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& slot = m_slots[i];
        if (slot.offset == kFree || (slot.hash == hash && textAt(slot.offset) == text))
            return i;
    }
}

bool TStringSet::Contains(std::string_view text) const
{
    if (text.size() + kLengthBytes <= kBlockSize && m_used != 0 &&
        m_slots[slotOf(text, hashOf(text))].offset != kFree)
        return true;
    return !m_long.empty() && m_long.contains(String(text));
}

bool TStringSet::Insert(std::string_view text)
{
    const std::size_t need = kLengthBytes + text.size();
    // A text never straddles two blocks: the rest of a block too short for
    // it stays unused.
    std::size_t at = m_end;
    if (need <= kBlockSize && (at & (kBlockSize - 1)) + need > kBlockSize)
        at = (at | (kBlockSize - 1)) + 1;
    if (need > kBlockSize || at + need >= kFree) {
        if (Contains(text))
            return false;
        return m_long.emplace(text).second;
    }
    if ((m_used + 1) * 4 > m_slots.size() * 3)
        grow();
    const std::uint32_t hash = hashOf(text);
    Slot& slot = m_slots[slotOf(text, hash)];
    if (slot.offset != kFree)
        return false;
    if ((at >> kBlockBits) >= m_blocks.size())
        m_blocks.push_back(std::make_unique_for_overwrite<char[]>(kBlockSize));
    char* to = m_blocks[at >> kBlockBits].get() + (at & (kBlockSize - 1));
    const auto length = static_cast<std::uint16_t>(text.size());
    std::memcpy(to, &length, kLengthBytes);
    std::memcpy(to + kLengthBytes, text.data(), text.size());
    slot = {static_cast<std::uint32_t>(at), hash};
    m_end = at + need;
    ++m_used;
    return true;
}

void TStringSet::grow()
{
    GrowHashSlots<Slot, &Slot::offset>(m_slots, kFree);
}

void TStringSet::Clear()
{
    std::vector<std::unique_ptr<char[]>>().swap(m_blocks);
    std::vector<Slot>().swap(m_slots);
    std::unordered_set<String>().swap(m_long);
    m_end = 0;
    m_used = 0;
}
