// TKsQSort: a quick sort driver whose partition a derived class supplies.

#include "quicksort.h"

#include "messagebox.h"

TKsQSort::TKsQSort()
{
    Partition = [this](Integer& I, Integer PivotIndex, Integer& J) {
        MissingPartition(I, PivotIndex, J);
    };
}

TKsQSort::~TKsQSort() = default;

void TKsQSort::MissingPartition(Integer&, Integer, Integer&)
{
    ShowMessageBox("You have forgotten to assign the Compare function to the herited class.",
                   TMsgKind::Error);
}

void TKsQSort::QuickSort(Integer Lo, Integer Hi)
{
    // The smaller part recurses, the larger one loops: the stack stays
    // logarithmic even when every split is lopsided.
    while (Lo <= Hi) {
        Integer I = Lo;
        Integer J = Hi;
        // Halving the unsigned sum cannot overflow for any pair of indices.
        const auto pivot =
            static_cast<Integer>((static_cast<Cardinal>(Lo) + static_cast<Cardinal>(Hi)) / 2U);
        if (Partition)
            Partition(I, pivot, J);
        else
            MissingPartition(I, pivot, J);
        // A real partition always crosses I and J; anything else means no
        // comparison was done, and carrying on would never end.
        if (I <= J)
            return;

        if (J - Lo < Hi - I) {
            if (Lo < J)
                QuickSort(Lo, J);
            if (I >= Hi)
                return;
            Lo = I;
        } else {
            if (I < Hi)
                QuickSort(I, Hi);
            if (Lo >= J)
                return;
            Hi = J;
        }
    }
}

TKsQSortString::TKsQSortString()
{
    Partition = [this](Integer& I, Integer PivotIndex, Integer& J) {
        PartitionStrings(I, PivotIndex, J);
    };
}

void TKsQSortString::PartitionStrings(Integer& I, Integer PivotIndex, Integer& J)
{
    // Without a list I and J stay put, which ends QuickSort quietly.
    if (List == nullptr)
        return;
    TStringList& list = *List;
    // A copy: the pivot entry itself may be exchanged away below.
    const String pivot = list.Strings(PivotIndex);
    do {
        if (Ascending) {
            while (CompareOrdinal(list.Strings(I), pivot) < 0)
                ++I;
            while (CompareOrdinal(list.Strings(J), pivot) > 0)
                --J;
        } else {
            while (CompareOrdinal(list.Strings(I), pivot) > 0)
                ++I;
            while (CompareOrdinal(list.Strings(J), pivot) < 0)
                --J;
        }
        if (I <= J) {
            list.Exchange(I, J);
            ++I;
            --J;
        }
    } while (I <= J);
}
