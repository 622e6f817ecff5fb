// TStringList: a list of texts with objects, kept sorted for a logarithmic search.

#include "stringlist.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string_view>
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

TStringList::TStringList(TStringList&& other) noexcept
    : m_nodes(std::move(other.m_nodes)), m_root(std::exchange(other.m_root, kNone)),
      m_free(std::exchange(other.m_free, kNone)), m_random(other.m_random)
{
    other.m_nodes.clear();
}

TStringList& TStringList::operator=(TStringList&& other) noexcept
{
    if (this != &other) {
        m_nodes = std::move(other.m_nodes);
        other.m_nodes.clear();
        m_root = std::exchange(other.m_root, kNone);
        m_free = std::exchange(other.m_free, kNone);
        m_random = other.m_random;
    }
    return *this;
}

void TStringList::checkIndex(Integer Index) const
{
    if (Index < 0 || Index >= Count())
        throw std::out_of_range("TStringList: list index out of bounds (" + std::to_string(Index) +
                                ")");
}

TStringList::Link TStringList::nodeAt(Integer Index) const
{
    checkIndex(Index);
    Link node = m_root;
    for (;;) {
        const Integer before = sizeOf(at(node).left);
        if (Index == before)
            return node;
        if (Index < before) {
            node = at(node).left;
        } else {
            Index -= before + 1;
            node = at(node).right;
        }
    }
}

void TStringList::update(Link node)
{
    Node& n = at(node);
    n.size = 1 + sizeOf(n.left) + sizeOf(n.right);
}

void TStringList::split(Link tree, Integer count, Link& first, Link& rest)
{
    if (tree == kNone) {
        first = kNone;
        rest = kNone;
        return;
    }
    Node& n = at(tree);
    const Integer before = sizeOf(n.left);
    if (count <= before) {
        split(n.left, count, first, n.left);
        rest = tree;
    } else {
        split(n.right, count - before - 1, n.right, rest);
        first = tree;
    }
    update(tree);
}

TStringList::Link TStringList::merge(Link first, Link rest)
{
    if (first == kNone)
        return rest;
    if (rest == kNone)
        return first;
    // The higher priority becomes the root, which keeps the depth
    // logarithmic whatever order the entries arrive in.
    if (at(first).priority > at(rest).priority) {
        const Link right = merge(at(first).right, rest);
        at(first).right = right;
        update(first);
        return first;
    }
    const Link left = merge(first, at(rest).left);
    at(rest).left = left;
    update(rest);
    return rest;
}

std::uint32_t TStringList::nextPriority()
{
    // xorshift32: cheap, and any spread of priorities will do.
    m_random ^= m_random << 13U;
    m_random ^= m_random >> 17U;
    m_random ^= m_random << 5U;
    return m_random;
}

TStringList::Link TStringList::allocate(String text, std::unique_ptr<TListObject> object)
{
    Link slot = m_free;
    if (slot != kNone) {
        m_free = at(slot).right;
    } else {
        if (m_nodes.size() >= static_cast<std::size_t>(std::numeric_limits<Link>::max()))
            throw std::length_error("TStringList: too many entries");
        m_nodes.emplace_back(); // may throw; nothing has changed yet
        slot = static_cast<Link>(m_nodes.size() - 1);
    }
    Node& n = at(slot);
    n.text = std::move(text);
    n.object = std::move(object);
    n.left = kNone;
    n.right = kNone;
    n.size = 1;
    n.priority = nextPriority();
    return slot;
}

const String& TStringList::Strings(Integer Index) const
{
    return at(nodeAt(Index)).text;
}

TListObject* TStringList::Objects(Integer Index) const
{
    return at(nodeAt(Index)).object.get();
}

Integer TStringList::Add(String Text, std::unique_ptr<TListObject> Object)
{
    const Integer index = Count();
    Insert(index, std::move(Text), std::move(Object));
    return index;
}

void TStringList::Insert(Integer Index, String Text, std::unique_ptr<TListObject> Object)
{
    if (Index < 0 || Index > Count())
        throw std::out_of_range("TStringList: list index out of bounds (" + std::to_string(Index) +
                                ")");
    const Link node = allocate(std::move(Text), std::move(Object));
    Link first = kNone;
    Link rest = kNone;
    split(m_root, Index, first, rest);
    m_root = merge(merge(first, node), rest);
}

void TStringList::Delete(Integer Index)
{
    checkIndex(Index);
    Link first = kNone;
    Link rest = kNone;
    Link gone = kNone;
    split(m_root, Index, first, rest);
    split(rest, 1, gone, rest);
    m_root = merge(first, rest);

    Node& n = at(gone);
    String().swap(n.text); // a queue that drains should give its memory back
    n.left = kNone;
    n.right = m_free;
    m_free = gone;
    // Last: the object's destructor sees a consistent list.
    std::unique_ptr<TListObject> object = std::move(n.object);
}

void TStringList::Clear()
{
    m_nodes.clear(); // keeps the reserved room
    m_root = kNone;
    m_free = kNone;
}

void TStringList::Exchange(Integer Index1, Integer Index2)
{
    Node& a = at(nodeAt(Index1));
    Node& b = at(nodeAt(Index2));
    std::swap(a.text, b.text);
    std::swap(a.object, b.object);
}

Integer TStringList::Capacity() const
{
    return static_cast<Integer>(m_nodes.capacity());
}

void TStringList::SetCapacity(Integer NewCapacity)
{
    if (NewCapacity > 0)
        m_nodes.reserve(static_cast<std::size_t>(NewCapacity));
}

bool TStringList::Find(const String& Text, Integer& Index) const
{
    // A descent from the root is the bisection over the sorted entries:
    // each node splits its subtree's positions in two.
    bool found = false;
    Integer below = 0; // entries known to sort before Text
    Link node = m_root;
    while (node != kNone) {
        const Node& n = at(node);
        // The same order as CompareOrdinal: char_traits<char> compares as
        // unsigned char, shorter prefix first; inline, as it runs per level.
        const int c = std::string_view(n.text).compare(Text);
        if (c < 0) {
            below += sizeOf(n.left) + 1;
            node = n.right;
        } else {
            found = found || c == 0;
            node = n.left;
        }
    }
    Index = below;
    return found;
}
