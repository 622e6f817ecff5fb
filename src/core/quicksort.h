// TKsQSort: a quick sort driver whose partition a derived class supplies.

#pragma once

#include "nqtypes.h"
#include "stringlist.h"

#include <functional>

// Quick sort whose partition step is supplied by a derived class, so one
// driver sorts any kind of list.
class TKsQSort
{
public:
    // Partition(I, PivotIndex, J) receives I = Lo and J = Hi of the range and
    // must leave I > J: [Lo, J] and [I, Hi] are then the parts left to sort.
    using TPartition = std::function<void(Integer& I, Integer PivotIndex, Integer& J)>;

    TKsQSort();
    virtual ~TKsQSort();
    // Partition is bound to this very object.
    TKsQSort(const TKsQSort&) = delete;
    TKsQSort& operator=(const TKsQSort&) = delete;

    // Sorts the range [Lo, Hi]; an empty range (Lo > Hi) is left alone.
    void QuickSort(Integer Lo, Integer Hi);

    TPartition Partition;
    bool Ascending = true;

private:
    void MissingPartition(Integer& I, Integer PivotIndex, Integer& J);
};

// Sorts the texts of a TStringList by CompareOrdinal, objects going along.
class TKsQSortString : public TKsQSort
{
public:
    TKsQSortString();

    TStringList* List = nullptr; // not owned

private:
    void PartitionStrings(Integer& I, Integer PivotIndex, Integer& J);
};
