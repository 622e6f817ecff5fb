// The crawler's queue entries (TObjectUrlInQueue) and their ordering.

#pragma once

#include "nqtypes.h"
#include "stringlist.h"

// What the crawler remembers about an address waiting to be fetched.
class TObjectUrlInQueue : public TListObject
{
public:
    Integer Tries = 0;
    Integer Level = 0;
    Integer CountArea = 0;
    char LinkKind = ' ';
};

// The addresses still to fetch, in arrival order. Duplicates are the caller's
// concern: checking here would cost a scan per link found.
class TUrlInQueue
{
public:
    TUrlInQueue();
    ~TUrlInQueue();
    TUrlInQueue(const TUrlInQueue&) = delete;
    TUrlInQueue& operator=(const TUrlInQueue&) = delete;

    const TStringList& List() const { return m_list; }
    Integer Count() const { return m_list.Count(); }
    const String& Url(Integer Index) const { return m_list.Strings(Index); }
    TObjectUrlInQueue* Item(Integer Index) const;

    void Add(const String& Address, Integer Level, Integer Tries, char LinkKind, Integer CountArea);
    void Delete(Integer Index);
    void Clear();

private:
    TStringList m_list;
};
