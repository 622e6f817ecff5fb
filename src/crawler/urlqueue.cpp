// The crawler's queue entries (TObjectUrlInQueue) and their ordering.

#include "urlqueue.h"

#include <memory>

namespace {
// A big site queues tens of thousands of links; reserving up front avoids
// regrowing the list while the crawl is under way.
constexpr Integer InitialCapacity = 32000;
} // namespace

TUrlInQueue::TUrlInQueue()
{
    m_list.SetCapacity(InitialCapacity);
}

TUrlInQueue::~TUrlInQueue() = default;

TObjectUrlInQueue* TUrlInQueue::Item(Integer Index) const
{
    // Only Add puts objects into the list, and it only puts these.
    return static_cast<TObjectUrlInQueue*>(m_list.Objects(Index));
}

void TUrlInQueue::Add(const String& Address, Integer Level, Integer Tries, char LinkKind,
                      Integer CountArea)
{
    auto record = std::make_unique<TObjectUrlInQueue>();
    record->Tries = Tries;
    record->Level = Level;
    record->CountArea = CountArea;
    record->LinkKind = LinkKind;
    m_list.Add(Address, std::move(record));
}

void TUrlInQueue::Delete(Integer Index)
{
    m_list.Delete(Index);
}

void TUrlInQueue::Clear()
{
    // The list frees the records with their entries, front to back, in one
    // pass rather than shifting the rest up for every removal.
    m_list.Clear();
}
