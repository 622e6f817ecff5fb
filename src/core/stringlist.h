#pragma once

#include "nqtypes.h"

#include <memory>
#include <vector>

// What a list entry may own besides its text; the list frees it with the entry.
class TListObject
{
public:
    virtual ~TListObject() = default;
};

// Byte-wise order of texts: codes compared as unsigned char, case counts, a
// prefix before the longer text. Find and the sorter must agree on it, or a
// sorted list would not be searchable.
Integer CompareOrdinal(const String& a, const String& b);

// An ordered list of texts, each with an optional owned object. Indices are
// 0-based; an index out of range throws std::out_of_range.
class TStringList
{
public:
    TStringList() = default;
    TStringList(const TStringList&) = delete;
    TStringList& operator=(const TStringList&) = delete;
    TStringList(TStringList&&) noexcept = default;
    TStringList& operator=(TStringList&&) noexcept = default;

    Integer Count() const { return static_cast<Integer>(m_entries.size()); }
    const String& Strings(Integer Index) const;
    TListObject* Objects(Integer Index) const;

    Integer Add(String Text, std::unique_ptr<TListObject> Object = nullptr);
    // Index may equal Count, which appends.
    void Insert(Integer Index, String Text, std::unique_ptr<TListObject> Object = nullptr);
    void Delete(Integer Index);
    void Clear();
    void Exchange(Integer Index1, Integer Index2);

    Integer Capacity() const;
    // Only reserves room; the list still grows past it.
    void SetCapacity(Integer NewCapacity);

    // Bisection over a list sorted by CompareOrdinal. Index receives the
    // position where Text is, or where inserting it keeps the order. With
    // duplicates, Index is one of their positions, not necessarily the first.
    bool Find(const String& Text, Integer& Index) const;

private:
    struct Entry
    {
        String text;
        std::unique_ptr<TListObject> object;
    };

    std::size_t checked(Integer Index) const;

    std::vector<Entry> m_entries;
};
