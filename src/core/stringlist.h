// TStringList: a list of texts with objects, kept sorted for a logarithmic search.

#pragma once

#include "nqtypes.h"

#include <cstdint>
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
//
// The entries sit in a tree ordered by position (a treap keyed implicitly by
// index), so inserting or deleting anywhere, reading an entry by index and
// Find on a sorted list all take O(log n): the crawler keeps sets of
// hundreds of thousands of addresses sorted by inserting each new one where
// Find left off, which a plain array pays for by moving half its entries.
class TStringList
{
public:
    TStringList() = default;
    TStringList(const TStringList&) = delete;
    TStringList& operator=(const TStringList&) = delete;
    TStringList(TStringList&& other) noexcept;
    TStringList& operator=(TStringList&& other) noexcept;

    Integer Count() const { return sizeOf(m_root); }
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
    using Link = std::int32_t; // a slot in m_nodes, or kNone
    static constexpr Link kNone = -1;

    // What a descent reads comes first, and a node fills one cache line:
    // a search of a large list is bound by the lines it has to fetch.
    struct alignas(64) Node
    {
        Link left = kNone;
        Link right = kNone; // doubles as the next free slot once freed
        Integer size = 1;   // entries in the subtree rooted here
        std::uint32_t priority = 0;
        String text;
        std::unique_ptr<TListObject> object;
    };

    Integer sizeOf(Link node) const
    {
        return node == kNone ? 0 : m_nodes[static_cast<std::size_t>(node)].size;
    }
    Node& at(Link node) { return m_nodes[static_cast<std::size_t>(node)]; }
    const Node& at(Link node) const { return m_nodes[static_cast<std::size_t>(node)]; }
    void checkIndex(Integer Index) const;
    Link nodeAt(Integer Index) const;
    void update(Link node);
    // Splits tree into its first count entries and the rest.
    void split(Link tree, Integer count, Link& first, Link& rest);
    Link merge(Link first, Link rest);
    Link allocate(String text, std::unique_ptr<TListObject> object);
    std::uint32_t nextPriority();

    // Slots of the tree; deleted slots are chained for reuse, so Capacity
    // keeps its meaning: entries the list holds without growing.
    std::vector<Node> m_nodes;
    Link m_root = kNone;
    Link m_free = kNone;
    std::uint32_t m_random = 0x9E3779B9U; // fixed seed: the shape does not matter, only its odds
};
