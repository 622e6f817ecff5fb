// A downloaded page decoded as text and searched for keywords, as the run
// counts hits. The keyword text is the input up to its first line break,
// the page everything after it. Every way of counting runs on each input:
// the plain count against the hidden text buffer's, whole words, the
// visible text, and the keywords as patterns under the step limit.
#include "fuzzcheck.h"
#include "keywordcount.h"
#include "textbuffer.h"
#include "textdecode.h"
#include "visibletext.h"

#include <QString>
#include <QStringView>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

// Non-overlapping matches, each search starting after the previous match,
// as the run selected and searched on before it had a counter of its own.
qsizetype countHits(TMemo& memo, const QString& keyword, bool matchCase)
{
    memo.SetSelStart(0);
    memo.SetSelLength(0);
    qsizetype hits = 0;
    for (;;) {
        const qsizetype start = memo.SelLength() != 0 ? memo.SelStart() + memo.SelLength() : 0;
        const qsizetype q = memo.FindText(keyword, start, memo.Length(), matchCase);
        if (q < 0)
            break;
        FUZZ_CHECK(q >= start && q + keyword.size() <= memo.Length());
        memo.SetSelStart(q);
        memo.SetSelLength(keyword.size());
        FUZZ_CHECK(memo.SelStart() == q && memo.SelLength() == keyword.size());
        ++hits;
    }
    return hits;
}

qsizetype countExact(QStringView text, QStringView keyword)
{
    qsizetype hits = 0;
    for (qsizetype from = 0;; ++hits) {
        const qsizetype q = text.indexOf(keyword, from, Qt::CaseSensitive);
        if (q < 0)
            return hits;
        from = q + keyword.size();
    }
}

TCountOptions optionsWith(bool matchCase, bool wholeWords, bool patterns, bool visibleText)
{
    TCountOptions options;
    options.matchCase = matchCase;
    options.wholeWords = wholeWords;
    options.patterns = patterns;
    options.visibleText = visibleText;
    options.snippets = 2;
    return options;
}

// What every count promises, whatever the options.
void checkCounts(const TKeywordCounts& counts, std::size_t keywords, std::size_t textBytes)
{
    FUZZ_CHECK(counts.hits.size() == keywords && counts.snippets.size() == keywords);
    Integer total = 0;
    for (std::size_t k = 0; k < keywords; ++k) {
        // Hits take at least a byte each and do not overlap.
        FUZZ_CHECK(counts.hits[k] >= 0 && static_cast<std::size_t>(counts.hits[k]) <= textBytes);
        FUZZ_CHECK(counts.snippets[k].size() ==
                       std::min<std::size_t>(2, static_cast<std::size_t>(counts.hits[k])) ||
                   counts.patternLimit);
        total += counts.hits[k];
    }
    if (!counts.patternLimit)
        FUZZ_CHECK(counts.total == total);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const String input(reinterpret_cast<const char*>(data), size);
    const auto split = std::min(input.find('\n'), input.size());
    const String keywordBytes = input.substr(0, split);
    const String page = split < input.size() ? input.substr(split + 1) : String();

    const QString text = DecodeWebText(page);
    // UTF-8 never takes more UTF-16 units than bytes; Windows-1252 takes one each.
    FUZZ_CHECK(text.size() <= static_cast<qsizetype>(page.size()));
    // Decoding the text's own UTF-8 gives it back; a leading byte order
    // mark would be taken as one and dropped.
    if (!text.startsWith(QChar(0xFEFF)))
        FUZZ_CHECK(DecodeWebText(ToUtf8(text)) == text);
    // The counter's own reading of the bytes is the decoder's.
    const String utf8 = WebTextToUtf8(page);
    FUZZ_CHECK(utf8 == ToUtf8(text));

    TMemo memo;
    memo.SetText(text);
    FUZZ_CHECK(memo.Length() == text.size());
    const QString keyword = DecodeWebText(keywordBytes);
    const qsizetype exact = countHits(memo, keyword, true);
    const qsizetype folded = countHits(memo, keyword, false);
    if (keyword.isEmpty()) {
        FUZZ_CHECK(exact == 0 && folded == 0);
    } else {
        FUZZ_CHECK(exact == countExact(text, keyword));
        FUZZ_CHECK(exact * keyword.size() <= text.size());
        FUZZ_CHECK(folded * keyword.size() <= text.size());
        // Every exact match is also a match without regard to case, and the
        // leftmost-first count is the largest count of disjoint matches.
        FUZZ_CHECK(folded >= exact);
    }

    // The counter gives the buffer's counts, case kept and not. (Past 500
    // characters the buffer's search folds UTF-16 units one by one, so
    // letters beyond the first plane would differ there.)
    const std::vector<String> one{keywordBytes};
    for (const bool matchCase : {true, false}) {
        const TKeywordCounts counts =
            TKeywordCounter(one, optionsWith(matchCase, false, false, false)).Count(page);
        checkCounts(counts, 1, utf8.size());
        if (keyword.size() <= 500)
            FUZZ_CHECK(counts.hits[0] == (matchCase ? exact : folded));
        // Whole words are some of those hits.
        const TKeywordCounts words =
            TKeywordCounter(one, optionsWith(matchCase, true, false, false)).Count(page);
        checkCounts(words, 1, utf8.size());
        FUZZ_CHECK(words.hits[0] <= counts.hits[0]);
    }

    // The visible text is clean text: valid UTF-8, single blanks, none at
    // either end, never longer than the page.
    const String visible = VisibleText(utf8);
    FUZZ_CHECK(visible.size() <= utf8.size() + utf8.size() / 2);
    FUZZ_CHECK(WebTextToUtf8(visible) == visible || visible.starts_with("\xEF\xBB\xBF"));
    FUZZ_CHECK(visible.find("  ") == String::npos);
    FUZZ_CHECK(visible.empty() || (visible.front() != ' ' && visible.back() != ' '));
    FUZZ_CHECK(CollapseBlanks(visible) == visible);

    // The keyword line as the keyword box splits it, searched every way.
    const std::vector<String> keywords = SplitKeywords(keywordBytes);
    for (const bool patterns : {false, true}) {
        for (const bool visibleText : {false, true}) {
            const TKeywordCounter counter(keywords,
                                          optionsWith(false, !visibleText, patterns, visibleText));
            if (!counter.Error().empty()) {
                FUZZ_CHECK(patterns);
                continue;
            }
            const TKeywordCounts counts = counter.Count(page);
            checkCounts(counts, keywords.size(), visibleText ? visible.size() : utf8.size());
        }
    }
    return 0;
}
