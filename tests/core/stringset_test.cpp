#include "stringset.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(StringSet, HoldsEachTextOnceByItsExactBytes)
{
    struct Row
    {
        String text;
        bool added;
    };
    const std::vector<Row> rows = {
        {"http://site/a.htm", true},
        {"http://site/a.htm", false},
        {"http://site/A.htm", true}, // letter case counts
        {"http://site/a.htm ", true},
        {"", true},
        {"", false},
        {String("a\0b", 3), true},
        {String("a\0c", 3), true},
        {String(70000, 'x'), true}, // longer than a block
        {String(70000, 'x'), false},
        {String(69999, 'x'), true},
    };
    TStringSet set;
    for (const Row& row : rows) {
        EXPECT_EQ(set.Insert(row.text), row.added)
            << row.text.size() << " " << row.text.substr(0, 20);
        EXPECT_TRUE(set.Contains(row.text)) << row.text.substr(0, 20);
    }
    EXPECT_EQ(set.Size(), 8u);
    EXPECT_FALSE(set.Contains("http://site/b.htm"));
    EXPECT_FALSE(set.Contains(String(70001, 'x')));
    set.Clear();
    EXPECT_EQ(set.Size(), 0u);
    EXPECT_FALSE(set.Contains("http://site/a.htm"));
    EXPECT_TRUE(set.Insert("http://site/a.htm"));
}

// Texts of many lengths, as a crawl meets them, fill several blocks and make
// the index grow many times; every one must stay found, and intact.
TEST(StringSet, FindsEveryOneOfManyTextsAcrossItsBlocks)
{
    std::vector<String> texts;
    for (int i = 0; i < 20000; ++i)
        texts.push_back("http://host/" + String(static_cast<std::size_t>(i % 300), 'd') + "/p" +
                        std::to_string(i) + ".htm");
    TStringSet set;
    for (const String& text : texts)
        ASSERT_TRUE(set.Insert(text)) << text;
    for (const String& text : texts) {
        ASSERT_TRUE(set.Contains(text)) << text;
        ASSERT_FALSE(set.Insert(text)) << text;
        // One byte shorter is another text: each keeps its length.
        ASSERT_FALSE(set.Contains(std::string_view(text).substr(0, text.size() - 1))) << text;
    }
    EXPECT_EQ(set.Size(), texts.size());
}

} // namespace
