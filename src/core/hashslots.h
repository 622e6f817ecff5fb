// GrowHashSlots: the growth step of the open-addressing tables.

#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

// Doubles a table of slots (16 at least) and puts every used slot back where
// its hash leads, probing linearly. A slot is free while its Key is free.
template <typename Slot, std::uint32_t Slot::*Key>
void GrowHashSlots(std::vector<Slot>& table, std::uint32_t free)
{
    std::vector<Slot> old(std::max<std::size_t>(16, table.size() * 2));
    old.swap(table);
    const std::size_t mask = table.size() - 1;
    for (const Slot& slot : old) {
        if (slot.*Key == free)
            continue;
        std::size_t i = slot.hash & mask;
        while (table[i].*Key != free)
            i = (i + 1) & mask;
        table[i] = slot;
    }
}
