#include "stringlist.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

Integer CompareOrdinal(const String& a, const String& b)
{
    // memcmp compares as unsigned char, so bytes above 0x7F sort after ASCII
    // whatever the signedness of char.
    const std::size_t common = std::min(a.size(), b.size());
    if (common > 0) {
        const int c = std::memcmp(a.data(), b.data(), common);
        if (c != 0)
            return c < 0 ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

std::size_t TStringList::checked(Integer Index) const
{
    if (Index < 0 || Index >= Count())
        throw std::out_of_range("TStringList: list index out of bounds (" + std::to_string(Index) +
                                ")");
    return static_cast<std::size_t>(Index);
}

const String& TStringList::Strings(Integer Index) const
{
    return m_entries[checked(Index)].text;
}

TListObject* TStringList::Objects(Integer Index) const
{
    return m_entries[checked(Index)].object.get();
}

Integer TStringList::Add(String Text, std::unique_ptr<TListObject> Object)
{
    const Integer index = Count();
    m_entries.push_back(Entry{std::move(Text), std::move(Object)});
    return index;
}

void TStringList::Insert(Integer Index, String Text, std::unique_ptr<TListObject> Object)
{
    if (Index < 0 || Index > Count())
        throw std::out_of_range("TStringList: list index out of bounds (" + std::to_string(Index) +
                                ")");
    m_entries.insert(m_entries.begin() + Index, Entry{std::move(Text), std::move(Object)});
}

void TStringList::Delete(Integer Index)
{
    m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(checked(Index)));
}

void TStringList::Clear()
{
    m_entries.clear();
}

void TStringList::Exchange(Integer Index1, Integer Index2)
{
    std::swap(m_entries[checked(Index1)], m_entries[checked(Index2)]);
}

Integer TStringList::Capacity() const
{
    return static_cast<Integer>(m_entries.capacity());
}

void TStringList::SetCapacity(Integer NewCapacity)
{
    if (NewCapacity > 0)
        m_entries.reserve(static_cast<std::size_t>(NewCapacity));
}

bool TStringList::Find(const String& Text, Integer& Index) const
{
    bool found = false;
    Integer low = 0;
    Integer high = Count() - 1;
    while (low <= high) {
        const Integer mid = low + (high - low) / 2;
        const Integer c = CompareOrdinal(m_entries[static_cast<std::size_t>(mid)].text, Text);
        if (c < 0) {
            low = mid + 1;
        } else {
            high = mid - 1;
            if (c == 0) {
                found = true;
                low = mid;
            }
        }
    }
    Index = low;
    return found;
}
