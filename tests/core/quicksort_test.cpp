#include "quicksort.h"
#include "messagecapture.h"
#include "stringlist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

const String MissingCompareText =
    "You have forgotten to assign the Compare function to the herited class.";

bool OrdinalLess(const String& a, const String& b)
{
    return CompareOrdinal(a, b) < 0;
}

// Carries a copy of its entry's text, so a test can tell whether it stayed
// with that text.
class TTagObject : public TListObject
{
public:
    explicit TTagObject(String tag, Integer* destroyed = nullptr)
        : Tag(std::move(tag)), m_destroyed(destroyed)
    {}
    ~TTagObject() override
    {
        if (m_destroyed)
            ++*m_destroyed;
    }
    TTagObject(const TTagObject&) = delete;
    TTagObject& operator=(const TTagObject&) = delete;

    String Tag;

private:
    Integer* m_destroyed;
};

String TagOf(const TStringList& list, Integer index)
{
    const auto* o = dynamic_cast<const TTagObject*>(list.Objects(index));
    return o ? o->Tag : "<no object>";
}

void Fill(TStringList& list, const std::vector<String>& texts, bool withObjects = false)
{
    for (const auto& t : texts)
        list.Add(t, withObjects ? std::make_unique<TTagObject>(t) : nullptr);
}

std::vector<String> Texts(const TStringList& list)
{
    std::vector<String> out;
    for (Integer i = 0; i < list.Count(); ++i)
        out.push_back(list.Strings(i));
    return out;
}

void Sort(TStringList& list, bool ascending)
{
    TKsQSortString sorter;
    sorter.List = &list;
    sorter.Ascending = ascending;
    sorter.QuickSort(0, list.Count() - 1);
}

// --- ordinal comparison and bisection --------------------------------------

TEST(CompareOrdinalTest, OrdersBytesAsUnsignedCodesWithCaseAndPrefix)
{
    struct Row
    {
        const char* name;
        String a;
        String b;
        int sign;
    };
    const Row rows[] = {
        {"equal", "abc", "abc", 0},
        {"both empty", "", "", 0},
        {"empty before text", "", "a", -1},
        {"prefix before longer", "abc", "abcd", -1},
        {"longer after prefix", "abcd", "abc", 1},
        {"upper before lower", "Z", "a", -1},
        {"case counts", "abc", "ABC", 1},
        {"first difference decides", "abz", "acA", -1},
        {"high byte after ASCII", "\x80", "z", 1},
        {"0xFF after 0x80", "\xFF", "\x80", 1},
        {"embedded NUL before other bytes", String("a\0b", 3), "a\x01", -1},
        {"NUL tail after prefix", String("a\0", 2), "a", 1},
    };
    for (const auto& r : rows) {
        const Integer c = CompareOrdinal(r.a, r.b);
        const int sign = c < 0 ? -1 : (c > 0 ? 1 : 0);
        EXPECT_EQ(sign, r.sign) << r.name;
        const Integer back = CompareOrdinal(r.b, r.a);
        EXPECT_EQ(back < 0 ? -1 : (back > 0 ? 1 : 0), -r.sign) << r.name << " (swapped)";
    }
}

TEST(StringListFindTest, EmptyListGivesFalseAndIndexZero)
{
    const TStringList list;
    Integer index = -7;
    EXPECT_FALSE(list.Find("anything", index));
    EXPECT_EQ(index, 0);
    EXPECT_FALSE(list.Find("", index));
    EXPECT_EQ(index, 0);
}

TEST(StringListFindTest, SmallSortedListTable)
{
    TStringList list;
    Fill(list, {"B", "a", "b", "bb", "c"});
    struct Row
    {
        String text;
        bool found;
        Integer index;
    };
    const Row rows[] = {
        {"", false, 0},   {"A", false, 0}, {"B", true, 0},   {"Ba", false, 1},
        {"a", true, 1},   {"b", true, 2},  {"ba", false, 3}, {"bb", true, 3},
        {"bc", false, 4}, {"c", true, 4},  {"d", false, 5},  {"\x80", false, 5},
    };
    for (const auto& r : rows) {
        Integer index = -1;
        EXPECT_EQ(list.Find(r.text, index), r.found) << "'" << r.text << "'";
        EXPECT_EQ(index, r.index) << "'" << r.text << "'";
    }
}

// --- list operations the sorter and the queue rely on ----------------------

TEST(StringListTest, InsertDeleteExchangeKeepObjectsWithTexts)
{
    Integer destroyed = 0;
    TStringList list;
    list.Add("one", std::make_unique<TTagObject>("one", &destroyed));
    list.Add("three", std::make_unique<TTagObject>("three", &destroyed));
    list.Insert(1, "two", std::make_unique<TTagObject>("two", &destroyed));
    list.Insert(0, "zero");
    list.Insert(list.Count(), "four", std::make_unique<TTagObject>("four", &destroyed));
    EXPECT_EQ(Texts(list), (std::vector<String>{"zero", "one", "two", "three", "four"}));
    EXPECT_EQ(list.Objects(0), nullptr);

    list.Exchange(0, 3);
    EXPECT_EQ(Texts(list), (std::vector<String>{"three", "one", "two", "zero", "four"}));
    EXPECT_EQ(list.Objects(3), nullptr);
    EXPECT_EQ(TagOf(list, 0), "three");

    list.Delete(1);
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(Texts(list), (std::vector<String>{"three", "two", "zero", "four"}));
    for (Integer i = 0; i < list.Count(); ++i) {
        if (list.Objects(i) != nullptr) {
            EXPECT_EQ(TagOf(list, i), list.Strings(i)) << "entry " << i;
        }
    }

    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(destroyed, 4);
}

TEST(StringListTest, CapacityReservesWithoutLimiting)
{
    TStringList list;
    list.SetCapacity(100);
    EXPECT_GE(list.Capacity(), 100);
    for (Integer i = 0; i < 150; ++i)
        EXPECT_EQ(list.Add(std::to_string(i)), i);
    EXPECT_EQ(list.Count(), 150);
    EXPECT_EQ(list.Strings(149), "149");
}

// Edits anywhere in a long list, with deleted places reused, against a plain
// vector doing the same: texts, objects and order must agree throughout.
TEST(StringListTest, RandomEditsAgreeWithAVector)
{
    std::mt19937 rng(1234U);
    TStringList list;
    std::vector<String> model;
    Integer destroyed = 0;
    Integer inserted = 0;
    for (int step = 0; step < 20000; ++step) {
        const auto count = static_cast<Integer>(model.size());
        const auto pick = [&rng](Integer n) {
            return std::uniform_int_distribution<Integer>(0, n - 1)(rng);
        };
        const int op = std::uniform_int_distribution<int>(0, 9)(rng);
        if (count == 0 || op < 5) {
            const Integer at = pick(count + 1);
            const String text = std::to_string(step);
            list.Insert(at, text, std::make_unique<TTagObject>(text, &destroyed));
            model.insert(model.begin() + at, text);
            ++inserted;
        } else if (op < 8) {
            const Integer at = pick(count);
            list.Delete(at);
            model.erase(model.begin() + at);
        } else {
            const Integer a = pick(count);
            const Integer b = pick(count);
            list.Exchange(a, b);
            std::swap(model[static_cast<std::size_t>(a)], model[static_cast<std::size_t>(b)]);
        }
        if (step % 1000 == 999) {
            ASSERT_EQ(Texts(list), model) << "after step " << step;
            for (Integer i = 0; i < list.Count(); ++i)
                ASSERT_EQ(TagOf(list, i), model[static_cast<std::size_t>(i)]) << "entry " << i;
        }
    }
    EXPECT_EQ(destroyed, inserted - list.Count()) << "deleted entries free their objects";
    list.Clear();
    EXPECT_EQ(destroyed, inserted);
}

TEST(StringListTest, IndexOutOfRangeThrows)
{
    TStringList list;
    list.Add("only");
    EXPECT_THROW(list.Strings(1), std::out_of_range);
    EXPECT_THROW(list.Strings(-1), std::out_of_range);
    EXPECT_THROW(list.Objects(1), std::out_of_range);
    EXPECT_THROW(list.Delete(1), std::out_of_range);
    EXPECT_THROW(list.Exchange(0, 1), std::out_of_range);
    EXPECT_THROW(list.Insert(2, "x"), std::out_of_range);
    EXPECT_EQ(list.Count(), 1);
}

// --- string sorting --------------------------------------------------------

TEST(KsQSortStringTest, SingleEntryAndEmptyRange)
{
    TStringList list;
    list.Add("alone", std::make_unique<TTagObject>("alone"));
    TKsQSortString sorter;
    sorter.List = &list;
    sorter.QuickSort(0, 0);
    EXPECT_EQ(Texts(list), std::vector<String>{"alone"});
    sorter.QuickSort(0, -1);
    EXPECT_EQ(Texts(list), std::vector<String>{"alone"});

    TStringList empty;
    sorter.List = &empty;
    sorter.QuickSort(0, empty.Count() - 1);
    EXPECT_EQ(empty.Count(), 0);
}

TEST(KsQSortStringTest, MixedListsInBothOrders)
{
    struct Row
    {
        const char* name;
        std::vector<String> input;
        std::vector<String> ascending;
    };
    const Row rows[] = {
        {"case variants are distinct, upper first",
         {"banana", "Apple", "apple", "Banana", "APPLE", "b", "B"},
         {"APPLE", "Apple", "B", "Banana", "apple", "b", "banana"}},
        {"prefixes and empty text",
         {"abc", "", "ab", "abcd", "a", "b"},
         {"", "a", "ab", "abc", "abcd", "b"}},
        {"digits, punctuation, high bytes",
         {"\xE9t\xE9", "zoo", "10", "9", "-x", "Zoo", "\x80"},
         {"-x", "10", "9", "Zoo", "zoo", "\x80", "\xE9t\xE9"}},
        {"already sorted", {"a", "b", "c", "d", "e"}, {"a", "b", "c", "d", "e"}},
        {"reversed", {"e", "d", "c", "b", "a"}, {"a", "b", "c", "d", "e"}},
        {"two entries", {"y", "x"}, {"x", "y"}},
    };
    for (const auto& r : rows) {
        TStringList up;
        Fill(up, r.input);
        Sort(up, true);
        EXPECT_EQ(Texts(up), r.ascending) << r.name << " (ascending)";

        TStringList down;
        Fill(down, r.input);
        Sort(down, false);
        const std::vector<String> descending(r.ascending.rbegin(), r.ascending.rend());
        EXPECT_EQ(Texts(down), descending) << r.name << " (descending)";
    }
}

TEST(KsQSortStringTest, DuplicatesEndAdjacent)
{
    for (const bool ascending : {true, false}) {
        TStringList list;
        Fill(list, {"m", "a", "m", "z", "a", "m", "A", "z", "m", "a"});
        Sort(list, ascending);
        // Four distinct texts give four runs only if equal texts are adjacent.
        std::vector<String> runs;
        for (const auto& t : Texts(list)) {
            if (runs.empty() || runs.back() != t)
                runs.push_back(t);
        }
        EXPECT_EQ(runs.size(), 4U) << (ascending ? "ascending" : "descending");
    }
}

TEST(KsQSortStringTest, ObjectsMoveWithTheirTexts)
{
    TStringList list;
    Fill(list, {"pear", "Fig", "apple", "fig", "kiwi", "apple", "date", "Kiwi", "cherry"}, true);
    for (const bool ascending : {true, false}) {
        Sort(list, ascending);
        for (Integer i = 0; i < list.Count(); ++i) {
            EXPECT_EQ(TagOf(list, i), list.Strings(i)) << "entry " << i;
        }
    }
}

TEST(KsQSortStringTest, SortsOnlyTheGivenRange)
{
    TStringList list;
    Fill(list, {"z", "y", "d", "b", "c", "a", "x", "w"});
    TKsQSortString sorter;
    sorter.List = &list;
    sorter.QuickSort(2, 5);
    EXPECT_EQ(Texts(list), (std::vector<String>{"z", "y", "a", "b", "c", "d", "x", "w"}));
}

TEST(KsQSortStringTest, NoListAssignedReturnsQuietly)
{
    const nqtest::MessageCapture capture;
    TKsQSortString sorter;
    sorter.QuickSort(0, 10);
    EXPECT_TRUE(capture.messages().empty());
}

// Random texts over a small alphabet (upper, lower, high bytes), so that
// duplicates and shared prefixes are frequent.
std::vector<String> RandomTexts(std::mt19937& rng, std::size_t count)
{
    static const String alphabet = "aAbBzZ09\x7F\x80\xFF";
    std::uniform_int_distribution<std::size_t> length(0, 6);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::vector<String> out;
    out.reserve(count);
    for (std::size_t n = 0; n < count; ++n) {
        String t;
        const std::size_t len = length(rng);
        for (std::size_t k = 0; k < len; ++k)
            t += alphabet[pick(rng)];
        out.push_back(t);
    }
    return out;
}

TEST(KsQSortStringTest, LargeListsMatchStdSortAndAreSearchable)
{
    std::mt19937 rng(20240611U);
    const auto random = RandomTexts(rng, 4000);
    std::vector<String> sorted = random;
    std::sort(sorted.begin(), sorted.end(), OrdinalLess);
    std::vector<String> reversed(sorted.rbegin(), sorted.rend());
    std::vector<String> organ;
    for (std::size_t n = 0; n < 3000; ++n)
        organ.push_back(std::to_string(n < 1500 ? n : 3000 - n));

    struct Row
    {
        const char* name;
        std::vector<String> input;
    };
    const Row rows[] = {
        {"random", random},     {"already sorted", sorted},
        {"reversed", reversed}, {"all equal", std::vector<String>(3000, "same")},
        {"organ pipe", organ},
    };
    for (const auto& r : rows) {
        std::vector<String> expected = r.input;
        std::sort(expected.begin(), expected.end(), OrdinalLess);

        TStringList list;
        Fill(list, r.input);
        Sort(list, true);
        ASSERT_EQ(Texts(list), expected) << r.name;

        for (Integer i = 0; i < list.Count(); ++i) {
            const String& text = list.Strings(i);
            const auto range =
                std::equal_range(expected.begin(), expected.end(), text, OrdinalLess);
            Integer index = -1;
            ASSERT_TRUE(list.Find(text, index)) << r.name << ": entry " << i;
            EXPECT_GE(index, range.first - expected.begin()) << r.name << ": entry " << i;
            EXPECT_LT(index, range.second - expected.begin()) << r.name << ": entry " << i;
        }

        std::vector<String> descending(expected.rbegin(), expected.rend());
        TStringList down;
        Fill(down, r.input);
        Sort(down, false);
        EXPECT_EQ(Texts(down), descending) << r.name << " (descending)";
    }
}

TEST(KsQSortStringTest, FindGivesInsertionIndexForAbsentTexts)
{
    std::mt19937 rng(7U);
    const auto texts = RandomTexts(rng, 3000);
    TStringList list;
    Fill(list, texts);
    Sort(list, true);
    std::vector<String> sorted = Texts(list);

    auto probes = RandomTexts(rng, 3000);
    probes.push_back(String(8, '\xFF')); // after every entry
    probes.push_back(String(1, '\0'));   // between "" and every other entry
    Integer checkedProbes = 0;
    for (const auto& probe : probes) {
        if (std::binary_search(sorted.begin(), sorted.end(), probe, OrdinalLess))
            continue;
        ++checkedProbes;
        Integer index = -1;
        ASSERT_FALSE(list.Find(probe, index)) << "probe '" << probe << "'";
        const auto expected =
            std::lower_bound(sorted.begin(), sorted.end(), probe, OrdinalLess) - sorted.begin();
        ASSERT_EQ(index, expected) << "probe '" << probe << "'";

        list.Insert(index, probe);
        sorted.insert(sorted.begin() + index, probe);
        const auto at = static_cast<std::size_t>(index);
        if (at > 0) {
            EXPECT_TRUE(OrdinalLess(sorted[at - 1], probe)) << "probe '" << probe << "'";
        }
        if (at + 1 < sorted.size()) {
            EXPECT_TRUE(OrdinalLess(probe, sorted[at + 1])) << "probe '" << probe << "'";
        }
    }
    EXPECT_TRUE(std::is_sorted(sorted.begin(), sorted.end(), OrdinalLess));
    EXPECT_GT(checkedProbes, 100);
    EXPECT_EQ(Texts(list), sorted);
}

// --- the driver itself -----------------------------------------------------

// A derived sorter that forgot to supply its partition step.
class TForgetfulSort : public TKsQSort
{
public:
    TStringList* List = nullptr;
};

TEST(KsQSortTest, MissingPartitionReportsOncePerCallAndLeavesListAlone)
{
    const std::vector<String> input = {"d", "b", "a", "c", "e"};
    TStringList list;
    Fill(list, input, true);
    std::vector<TListObject*> objects;
    for (Integer i = 0; i < list.Count(); ++i)
        objects.push_back(list.Objects(i));

    const nqtest::MessageCapture capture;
    TForgetfulSort sorter;
    sorter.List = &list;
    sorter.QuickSort(0, list.Count() - 1);
    ASSERT_EQ(capture.messages().size(), 1U);
    EXPECT_EQ(capture.messages()[0].text, MissingCompareText);
    EXPECT_EQ(capture.messages()[0].kind, TMsgKind::Error);

    sorter.Ascending = false;
    sorter.QuickSort(1, 3);
    EXPECT_EQ(capture.messages().size(), 2U);

    EXPECT_EQ(Texts(list), input);
    for (Integer i = 0; i < list.Count(); ++i)
        EXPECT_EQ(list.Objects(i), objects[static_cast<std::size_t>(i)]) << "entry " << i;
}

// Sorts a vector of numbers through the same driver, to show the partition
// step is all a new kind of list needs.
class TIntSort : public TKsQSort
{
public:
    explicit TIntSort(std::vector<int>& values) : m_values(values)
    {
        Partition = [this](Integer& I, Integer PivotIndex, Integer& J) {
            const int pivot = at(PivotIndex);
            do {
                while (at(I) < pivot)
                    ++I;
                while (at(J) > pivot)
                    --J;
                if (I <= J) {
                    std::swap(at(I), at(J));
                    ++I;
                    --J;
                }
            } while (I <= J);
        };
    }

private:
    int& at(Integer i) { return m_values.at(static_cast<std::size_t>(i)); }
    std::vector<int>& m_values;
};

TEST(KsQSortTest, ReplacedPartitionSortsOtherLists)
{
    std::mt19937 rng(99U);
    std::uniform_int_distribution<int> value(-50, 50);
    for (const std::size_t size : {1U, 2U, 3U, 17U, 1000U, 5000U}) {
        std::vector<int> values(size);
        for (auto& v : values)
            v = value(rng);
        std::vector<int> expected = values;
        std::sort(expected.begin(), expected.end());
        TIntSort sorter(values);
        sorter.QuickSort(0, static_cast<Integer>(size) - 1);
        EXPECT_EQ(values, expected) << "size " << size;
    }
}

// A partition that fixes one end entry per call: the worst split there is.
// Recursing into the larger part would need one stack frame per entry.
TEST(KsQSortTest, LopsidedSplitsDoNotExhaustTheStack)
{
    constexpr Integer Size = 1'000'000;
    for (const bool peelLeft : {true, false}) {
        std::vector<char> fixed(static_cast<std::size_t>(Size), 0);
        Integer calls = 0;
        TKsQSort sorter;
        sorter.Partition = [&](Integer& I, Integer, Integer& J) {
            ++calls;
            if (peelLeft) {
                fixed.at(static_cast<std::size_t>(I)) = 1;
                J = I - 1;
                I = I + 1;
            } else {
                fixed.at(static_cast<std::size_t>(J)) = 1;
                I = J + 1;
                J = J - 1;
            }
        };
        sorter.QuickSort(0, Size - 1);
        // The last single entry left over needs no partition.
        const char* side = peelLeft ? "peeling left" : "peeling right";
        EXPECT_EQ(calls, Size - 1) << side;
        EXPECT_EQ(std::count(fixed.begin(), fixed.end(), 1), Size - 1) << side;
        EXPECT_EQ(peelLeft ? fixed.back() : fixed.front(), 0) << side;
    }
}

} // namespace
