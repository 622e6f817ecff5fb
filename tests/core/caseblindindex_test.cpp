#include "caseblindindex.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(CaseBlindIndex, KeepsTheFirstSpellingOfEachTextAndFindsItInAnyCase)
{
    struct Row
    {
        String text;
        bool added;
    };
    const std::vector<Row> rows = {
        {"http://Site/a.htm", true},    {"http://site/A.HTM", false},
        {"HTTP://SITE/A.htm", false},   {"http://site/a.html", true},
        {"http://site/a.ht", true},     {"", true},
        {"http://site/\xC3\x89", true}, // only ASCII letters fold
        {"http://site/\xC3\xA9", true}, {"http://site/\xC3\xA9", false},
    };
    TCaseBlindIndex index;
    std::vector<String> list;
    std::vector<String> expected;
    for (const Row& row : rows) {
        EXPECT_EQ(index.Add(row.text, list), row.added) << row.text;
        if (row.added)
            expected.push_back(row.text);
        EXPECT_TRUE(index.Contains(row.text, list)) << row.text;
    }
    EXPECT_EQ(list, expected);
    EXPECT_TRUE(index.Contains("http://SITE/a.HTML", list));
    EXPECT_FALSE(index.Contains("http://site/b.htm", list));
    index.Clear();
    EXPECT_FALSE(index.Contains("http://site/a.htm", list));
}

// Thousands of addresses alike but for a number, as a crawl lists them:
// every one stays findable while the index grows.
TEST(CaseBlindIndex, FindsEveryEntryOfALongListAndTheChangedOneAfterARebuild)
{
    TCaseBlindIndex index;
    std::vector<String> list;
    for (int i = 0; i < 5000; ++i)
        ASSERT_TRUE(index.Add("http://Host/p" + std::to_string(i) + ".htm", list)) << i;
    for (int i = 0; i < 5000; ++i) {
        const String upper = "HTTP://HOST/P" + std::to_string(i) + ".HTM";
        ASSERT_TRUE(index.Contains(upper, list)) << i;
        ASSERT_FALSE(index.Add(upper, list)) << i;
    }
    EXPECT_EQ(list.size(), 5000u);
    EXPECT_FALSE(index.Contains("http://host/p5000.htm", list));

    list.front() = "http://host/moved.htm";
    index.Rebuild(list);
    EXPECT_TRUE(index.Contains("http://host/MOVED.htm", list));
    EXPECT_FALSE(index.Contains("http://host/p0.htm", list));
    EXPECT_TRUE(index.Contains("http://host/p4999.htm", list));
    EXPECT_TRUE(index.Add("http://host/p0.htm", list));
}

} // namespace
