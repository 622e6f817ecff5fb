#include "urlqueue.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace {

struct Entry
{
    String url;
    Integer level;
    Integer tries;
    char kind;
    Integer area;
};

void AddAll(TUrlInQueue& queue, const std::vector<Entry>& entries)
{
    for (const auto& e : entries)
        queue.Add(e.url, e.level, e.tries, e.kind, e.area);
}

void ExpectHolds(const TUrlInQueue& queue, const std::vector<Entry>& entries, const char* what)
{
    ASSERT_EQ(queue.Count(), static_cast<Integer>(entries.size())) << what;
    ASSERT_EQ(queue.List().Count(), queue.Count()) << what;
    for (Integer i = 0; i < queue.Count(); ++i) {
        const auto& e = entries[static_cast<std::size_t>(i)];
        EXPECT_EQ(queue.Url(i), e.url) << what << ": entry " << i;
        EXPECT_EQ(queue.List().Strings(i), e.url) << what << ": entry " << i;
        const TObjectUrlInQueue* item = queue.Item(i);
        ASSERT_NE(item, nullptr) << what << ": entry " << i;
        EXPECT_EQ(static_cast<const TListObject*>(item), queue.List().Objects(i))
            << what << ": entry " << i;
        EXPECT_EQ(item->Level, e.level) << what << ": entry " << i;
        EXPECT_EQ(item->Tries, e.tries) << what << ": entry " << i;
        EXPECT_EQ(item->LinkKind, e.kind) << what << ": entry " << i;
        EXPECT_EQ(item->CountArea, e.area) << what << ": entry " << i;
    }
}

// Distinct values in every field, so a field stored in the wrong place shows.
const std::vector<Entry> Sample = {
    {"http://example.com/", 1, 1, ' ', 0},           {"http://example.com/a.html", 2, 3, 'F', 4},
    {"http://example.com/b.html", 5, 6, 'I', 7},     {"http://other.example/", 8, 9, 'X', 10},
    {"http://example.com/c.html", 11, 12, '\0', 13},
};

TEST(UrlInQueueTest, StartsEmptyWithRoomReserved)
{
    const TUrlInQueue queue;
    EXPECT_EQ(queue.Count(), 0);
    EXPECT_GE(queue.List().Capacity(), 32000);
}

TEST(UrlInQueueTest, StoresFieldsAsGiven)
{
    TUrlInQueue queue;
    AddAll(queue, Sample);
    ExpectHolds(queue, Sample, "after adding");
}

TEST(UrlInQueueTest, FirstInFirstOut)
{
    TUrlInQueue queue;
    AddAll(queue, Sample);
    for (const auto& e : Sample) {
        ASSERT_GT(queue.Count(), 0);
        EXPECT_EQ(queue.Url(0), e.url);
        EXPECT_EQ(queue.Item(0)->Level, e.level) << e.url;
        queue.Delete(0);
    }
    EXPECT_EQ(queue.Count(), 0);

    // Adding while taking keeps arrival order.
    queue.Add("first", 1, 1, ' ', 0);
    queue.Add("second", 2, 1, ' ', 0);
    queue.Delete(0);
    queue.Add("third", 3, 1, ' ', 0);
    ExpectHolds(queue, {{"second", 2, 1, ' ', 0}, {"third", 3, 1, ' ', 0}}, "interleaved");
}

TEST(UrlInQueueTest, AcceptsDuplicates)
{
    TUrlInQueue queue;
    const std::vector<Entry> entries = {
        {"http://example.com/", 1, 1, ' ', 0},
        {"http://example.com/", 2, 2, 'F', 1},
        {"http://example.com/", 1, 1, ' ', 0},
    };
    AddAll(queue, entries);
    ExpectHolds(queue, entries, "duplicates");
}

TEST(UrlInQueueTest, DeleteInTheMiddleMovesLaterEntriesUp)
{
    for (Integer index = 0; index < static_cast<Integer>(Sample.size()); ++index) {
        TUrlInQueue queue;
        AddAll(queue, Sample);
        queue.Delete(index);
        std::vector<Entry> expected = Sample;
        expected.erase(expected.begin() + index);
        ExpectHolds(queue, expected, ("delete " + std::to_string(index)).c_str());
    }
}

TEST(UrlInQueueTest, DeleteOutOfRangeChangesNothing)
{
    TUrlInQueue queue;
    AddAll(queue, Sample);
    EXPECT_THROW(queue.Delete(static_cast<Integer>(Sample.size())), std::out_of_range);
    EXPECT_THROW(queue.Delete(-1), std::out_of_range);
    ExpectHolds(queue, Sample, "after refused deletes");
}

TEST(UrlInQueueTest, ClearEmptiesAnyQueue)
{
    TUrlInQueue queue;
    queue.Clear();
    EXPECT_EQ(queue.Count(), 0);

    AddAll(queue, Sample);
    queue.Clear();
    EXPECT_EQ(queue.Count(), 0);
    EXPECT_EQ(queue.List().Count(), 0);

    // Still usable afterwards.
    AddAll(queue, Sample);
    ExpectHolds(queue, Sample, "refilled after clear");
}

// Run under AddressSanitizer, a record not freed by Delete, Clear or the
// destructor is reported as a leak.
TEST(UrlInQueueTest, ReservedRoomIsNoLimitAndRecordsAreFreed)
{
    constexpr Integer Many = 32010;
    TUrlInQueue queue;
    for (Integer i = 0; i < Many; ++i)
        queue.Add("http://example.com/" + std::to_string(i), i, 1, 'F', i % 7);
    ASSERT_EQ(queue.Count(), Many);
    EXPECT_EQ(queue.Url(Many - 1), "http://example.com/" + std::to_string(Many - 1));
    EXPECT_EQ(queue.Item(Many - 1)->Level, Many - 1);
    EXPECT_EQ(queue.Item(Many - 1)->CountArea, (Many - 1) % 7);
    queue.Delete(0);
    queue.Delete(queue.Count() - 1);
    EXPECT_EQ(queue.Count(), Many - 2);
    EXPECT_EQ(queue.Url(0), "http://example.com/1");
}

} // namespace
