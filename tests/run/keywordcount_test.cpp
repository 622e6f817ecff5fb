#include "keywordcount.h"
#include "textbuffer.h"
#include "textdecode.h"
#include "visibletext.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

struct Opt
{
    bool matchCase = false;
    bool wholeWords = false;
    bool patterns = false;
    bool visibleText = false;
    bool allKeywords = false;
};

TCountOptions options(const Opt& o)
{
    TCountOptions out;
    out.matchCase = o.matchCase;
    out.wholeWords = o.wholeWords;
    out.patterns = o.patterns;
    out.visibleText = o.visibleText;
    out.allKeywords = o.allKeywords;
    return out;
}

// The counting every release before these options had: the page decoded to
// text and searched keyword by keyword, each search after the last hit.
std::vector<Integer> countedAsOfOld(const String& page, const std::vector<String>& keywords,
                                    bool matchCase)
{
    TMemo memo;
    memo.SetText(DecodeWebText(page));
    std::vector<Integer> hits;
    for (const String& keyword : keywords) {
        const QString what = DecodeWebText(keyword);
        Integer n = 0;
        for (qsizetype q = memo.FindText(what, 0, memo.Length(), matchCase); q >= 0;
             q = memo.FindText(what, q + what.size(), memo.Length(), matchCase))
            ++n;
        hits.push_back(n);
    }
    return hits;
}

TEST(KeywordCount, HitsPerKeywordUnderEveryRule)
{
    const struct
    {
        const char* page;
        std::vector<String> keywords;
        Opt opt;
        std::vector<Integer> hits;
        Integer total;
    } rows[] = {
        // The search of old: source text, substrings, non-overlapping from the left.
        {"aaaa quarry QUARRY", {"quarry", "aa"}, {}, {2, 2}, 4},
        {"aaaa quarry QUARRY", {"quarry", "aa"}, {.matchCase = true}, {1, 2}, 3},
        {"aaaa quarry QUARRY", {"QUARRY"}, {.matchCase = true}, {1}, 1},
        {"aaaa quarry QUARRY", {"aa", "", "aa"}, {}, {2, 0, 2}, 4},
        {"aaaa quarry QUARRY", {"", "aaa", ""}, {}, {0, 1, 0}, 1},
        {"aaaa quarry QUARRY", {"Quarry"}, {}, {2}, 2},
        {"Café CAFÉ café", {"CAFÉ"}, {}, {3}, 3},
        {"Café CAFÉ café", {"é"}, {.matchCase = true}, {2}, 2},
        {"caf\xE9 \x93q\x94", {"café", "\xE2\x80\x9C"}, {}, {1, 1}, 2},          // Windows-1252
        {"\xE2\x84\xAA kilo \xC5\xBFtart START", {"k", "start"}, {}, {2, 2}, 4}, // Kelvin, long s
        {"<img alt=\"granite\"> granite <b>quarry</b>",
         {"granite", "granite quarry"},
         {},
         {2, 0},
         2},
        {"\xEF\xBB\xBFstart", {"\xEF\xBB\xBF"}, {}, {0}, 0}, // a leading mark is no text
        // Whole words: no letter, digit or _ either side; a hit inside a word
        // uses up nothing.
        {"art start party art. _art art9 \xC3\xA9"
         "art",
         {"art"},
         {.wholeWords = true},
         {2},
         2},
        {"aaa aa", {"aa"}, {.wholeWords = true}, {1}, 1},
        {"quarrying quarry quarry_ QUARRY", {"quarry"}, {.wholeWords = true}, {2}, 2},
        // Longer pages are searched sixteen places at a time: hits at every
        // place of a block, across its edges and at the very end.
        {"qy quarry-qu4rry Quarry.quarryquarry q quarry  QUARRYquarry quarrz quarry",
         {"quarry", "q"},
         {},
         {8, 12},
         20},
        {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", {"aa", "aaa"}, {}, {18, 12}, 30},
        {"quarrying quarry xquarry quarry_ quarry quarries, Quarry",
         {"quarry"},
         {.wholeWords = true},
         {3},
         3},
        // Many long keywords are found in one pass over the text.
        {"quarry quarryquarry granite slate marble basalt gneiss schist shale bananas ananan",
         {"quarry", "granite", "slate", "marble", "basalt", "gneiss", "schist", "shale", "anan"},
         {},
         {3, 1, 1, 1, 1, 1, 1, 1, 2},
         12},
        {"quarry quarryquarry granite slate marble basalt gneiss schist shale bananas ananan",
         {"quarry", "granite", "slate", "marble", "basalt", "gneiss", "schist", "shale", "anan"},
         {.wholeWords = true},
         {1, 1, 1, 1, 1, 1, 1, 1, 0},
         8},
        {"ART-Art", {"art"}, {.wholeWords = true}, {2}, 2},
        {"ART-Art", {"art"}, {.matchCase = true, .wholeWords = true}, {0}, 0},
        {"Le caf\xC3\xA9 cafe", {"caf"}, {.wholeWords = true}, {0}, 0},
        // Patterns: non-overlapping matches; a match of nothing is no hit.
        {"granite grand GRANITE", {"gran(ite|d)"}, {.patterns = true}, {3}, 3},
        {"granite grand GRANITE", {"gran(ite|d)"}, {.matchCase = true, .patterns = true}, {2}, 2},
        {"baaa ca", {"a*", "x?", ""}, {.patterns = true}, {2, 0, 0}, 2},
        {"start art \xC3\xA9"
         "art",
         {"art"},
         {.wholeWords = true, .patterns = true},
         {1},
         1},
        {"2024-05-01 and 1999-12-31", {"\\d{4}-\\d\\d-\\d\\d"}, {.patterns = true}, {2}, 2},
        {"caf\xC3\xA9 CAF\xC3\x89", {"caf\\w\\b"}, {.patterns = true}, {2}, 2},
        // The text a reader sees.
        {"granite <b>quarry</b> granite\n   quarry <p>granite</p><p>quarry</p>",
         {"granite quarry"},
         {.visibleText = true},
         {3},
         3},
        {"granite  quarry", {"granite   quarry"}, {.visibleText = true}, {1}, 1},
        {"<img alt=\"granite\" class='granite'><script>granite</script><style>.granite{}</style>"
         "<!-- granite --><template>granite</template><noscript>granite</noscript>",
         {"granite"},
         {.visibleText = true},
         {0},
         0},
        {"<title>Granite</title><body>caf&eacute; caf&#233; caf&#xE9; caf&#XE9 a&amp;b</body>",
         {"granite", "café", "a&b"},
         {.visibleText = true},
         {1, 4, 1},
         6},
        {"<p>gran</p>ite gran<span>ite</span> x&nbsp;y&unknown; 1 < 2",
         {"granite", "x y", "&unknown;", "1 < 2"},
         {.visibleText = true},
         {1, 1, 1, 1},
         4},
        {"<a title='it>s' href=x>art</a>s <SCRIPT type=x>art</Script >art",
         {"art"},
         {.wholeWords = true, .visibleText = true},
         {1},
         1},
        // Every keyword or any.
        {"granite marble", {"granite", "slate"}, {}, {1, 0}, 1},
        {"granite marble", {"granite", "slate"}, {.allKeywords = true}, {1, 0}, 0},
        {"granite marble", {"granite", "", "marble"}, {.allKeywords = true}, {1, 0, 1}, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << row.page << " / " << row.keywords.front()
                     << (row.opt.matchCase ? " case" : "") << (row.opt.wholeWords ? " -w" : "")
                     << (row.opt.patterns ? " -E" : "") << (row.opt.visibleText ? " --text" : ""));
        const TKeywordCounter counter(row.keywords, options(row.opt));
        ASSERT_EQ(counter.Error(), "");
        const TKeywordCounts counts = counter.Count(row.page);
        EXPECT_EQ(counts.hits, row.hits);
        EXPECT_EQ(counts.total, row.total);
        EXPECT_FALSE(counts.patternLimit);
        if (!row.opt.wholeWords && !row.opt.patterns && !row.opt.visibleText) {
            EXPECT_EQ(counts.hits, countedAsOfOld(row.page, row.keywords, row.opt.matchCase));
        }
    }
}

TEST(KeywordCount, KeywordSyntax)
{
    const std::vector<std::pair<String, std::vector<String>>> rows = {
        {"quarry aa", {"quarry", "aa"}},
        {"aa  aa ", {"aa", "", "aa", ""}}, // every space splits, as it always did
        {"", {""}},
        {"\"granite quarry\" marble", {"granite quarry", "marble"}},
        {"say \"granite quarry", {"say", "\"granite", "quarry"}}, // a lone quote is a character
        {"\"\" marble \"\"", {"marble"}},
        {"a\"b c\"d \"x\"", {"ab cd", "x"}},
        {"\"a\"\"b\"", {"ab"}},
    };
    for (const auto& [text, keywords] : rows) {
        SCOPED_TRACE(text);
        EXPECT_EQ(SplitKeywords(text), keywords);
    }
}

TEST(KeywordCount, VisibleTextOfAPage)
{
    const std::vector<std::pair<String, String>> rows = {
        {"<html><head><title>Quarry</title><style>p{}</style></head><body><h1>Granite</h1>"
         "<p>Cut &amp; <i>polished</i>&#8230;</p><ul><li>one<li>two</ul>"
         "<!-- <p>old</p> --><script>if (a<b) x();</script></body></html>",
         "Quarry Granite Cut & polished\xE2\x80\xA6 one two"},
        {"\t a\xC2\xA0\xC2\xA0 b\r\n", "a b"},
        {"a <b c=\"x > y\" d='>'>b</b> <!doctype x> <?xml ?> c <3 &#0; &#x110000; &#150;",
         "a b c <3 \xEF\xBF\xBD \xEF\xBF\xBD \xE2\x80\x93"},
        {"<script>never closed", ""},
        {"<!-- never closed", ""},
        {"x<br/>y<td>z", "x y z"},
    };
    for (const auto& [html, text] : rows) {
        SCOPED_TRACE(html);
        EXPECT_EQ(VisibleText(html), text);
    }
}

TEST(KeywordCount, SnippetsShowWhereEachKeywordWasFound)
{
    TCountOptions opt;
    opt.snippets = 2;
    const String page = "We cut stone.  The granite\n quarry at Hill is old. Granite! " +
                        String(60, 'x') + " granite";
    const TKeywordCounts counts = TKeywordCounter({"granite", "hill", "none"}, opt).Count(page);
    EXPECT_EQ(counts.hits, (std::vector<Integer>{3, 1, 0}));
    ASSERT_EQ(counts.snippets.size(), 3U);
    EXPECT_EQ(counts.snippets[0],
              (std::vector<String>{"We cut stone. The granite quarry at Hill is old. Granite! " +
                                       String(6, 'x') + "\xE2\x80\xA6",
                                   "\xE2\x80\xA6"
                                   "e. The granite quarry at Hill is old. Granite! " +
                                       String(38, 'x') + "\xE2\x80\xA6"}));
    EXPECT_EQ(counts.snippets[1].size(), 1U);
    EXPECT_TRUE(counts.snippets[2].empty());

    // Positions after a character whose folded form is shorter stay right.
    opt.snippets = 1;
    opt.patterns = false;
    EXPECT_EQ(TKeywordCounter({"end"}, opt).Count("\xE2\x84\xAA\xE2\x84\xAA the END").snippets[0],
              std::vector<String>{"\xE2\x84\xAA\xE2\x84\xAA the END"});
    opt.patterns = true;
    opt.visibleText = true;
    EXPECT_EQ(TKeywordCounter({"e.d"}, opt).Count("<b>the</b> END").snippets[0],
              std::vector<String>{"the END"});
}

TEST(KeywordCount, BadPatternsAndBadInput)
{
    TCountOptions opt;
    opt.patterns = true;
    EXPECT_EQ(TKeywordCounter({"granite", "gran(ite"}, opt).Error(),
              "invalid pattern \"gran(ite\": missing closing parenthesis at offset 8");
    // Backtracking without end gives up on the page instead of holding the run.
    const TKeywordCounts runaway = TKeywordCounter({"(a+)+$"}, opt).Count(String(40, 'a') + "!");
    EXPECT_TRUE(runaway.patternLimit);

    // Invalid UTF-8 in a keyword reads as Windows-1252, as the pages do.
    EXPECT_EQ(TKeywordCounter({"caf\xE9"}, {}).Count("CAF\xC3\x89").hits, std::vector<Integer>{1});
    const String huge(1 << 20, 'q');
    EXPECT_EQ(TKeywordCounter({huge}, {}).Count(huge + huge + "q").hits, std::vector<Integer>{2});
    std::vector<String> many;
    for (int i = 0; i < 10000; ++i)
        many.push_back("k" + std::to_string(i));
    const TKeywordCounts manyCounts = TKeywordCounter(many, {}).Count("k1 k9999 k10");
    // k1 twice, k9 to k9999 in k9999, k10
    EXPECT_EQ(manyCounts.total, 7);
}

TEST(KeywordCount, OneCounterServesManyThreads)
{
    TCountOptions opt;
    opt.patterns = true;
    opt.snippets = 1;
    const TKeywordCounter counter({"gran\\w+", "quarry"}, opt);
    const String page = "<p>granite quarry</p> " + String(1000, 'x') + " granular";
    std::vector<std::thread> threads;
    std::vector<Integer> totals(4, -1);
    for (std::size_t t = 0; t < totals.size(); ++t)
        threads.emplace_back([&, t] {
            Integer sum = 0;
            for (int i = 0; i < 50; ++i)
                sum += counter.Count(page).total;
            totals[t] = sum;
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(totals, std::vector<Integer>(4, 150));
}

} // namespace
