#include "caseblindindex.h"

#include "hashslots.h"

#include <algorithm>

namespace {

constexpr unsigned char lower(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u >= 'A' && u <= 'Z' ? static_cast<unsigned char>(u + ('a' - 'A')) : u;
}

bool equalNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

} // namespace

std::uint32_t TCaseBlindIndex::hashOf(std::string_view text)
{
    // FNV-1a: addresses share long prefixes, and it mixes every byte in.
    std::uint64_t h = 14695981039346656037ULL;
    for (const char c : text) {
        h ^= lower(c);
        h *= 1099511628211ULL;
    }
    return static_cast<std::uint32_t>(h ^ (h >> 32));
}

std::size_t TCaseBlindIndex::slotOf(std::string_view text, std::uint32_t hash,
                                    const List& list) const
{
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& slot = m_slots[i];
        if (slot.position == kFree || (slot.hash == hash && equalNoCase(list[slot.position], text)))
            return i;
    }
}

std::size_t TCaseBlindIndex::Find(std::string_view text, const List& list) const
{
    if (m_used == 0)
        return kNone;
    const std::uint32_t position = m_slots[slotOf(text, hashOf(text), list)].position;
    return position == kFree ? kNone : position;
}

bool TCaseBlindIndex::Add(const String& text, List& list)
{
    if ((m_used + 1) * 4 > m_slots.size() * 3)
        grow();
    const std::uint32_t hash = hashOf(text);
    Slot& slot = m_slots[slotOf(text, hash, list)];
    if (slot.position != kFree)
        return false;
    list.push_back(text);
    slot = {static_cast<std::uint32_t>(list.size() - 1), hash};
    ++m_used;
    return true;
}

void TCaseBlindIndex::grow()
{
    GrowHashSlots<Slot, &Slot::position>(m_slots, kFree);
}

void TCaseBlindIndex::Rebuild(const List& list)
{
    std::size_t size = 16;
    while (list.size() * 4 > size * 3)
        size *= 2;
    m_slots.assign(size, Slot{});
    m_used = 0;
    for (std::size_t position = 0; position < list.size(); ++position) {
        const std::uint32_t hash = hashOf(list[position]);
        Slot& slot = m_slots[slotOf(list[position], hash, list)];
        if (slot.position != kFree)
            continue;
        slot = {static_cast<std::uint32_t>(position), hash};
        ++m_used;
    }
}

void TCaseBlindIndex::Clear()
{
    m_slots.clear();
    m_used = 0;
}
