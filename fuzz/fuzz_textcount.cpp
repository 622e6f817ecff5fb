// A downloaded page decoded as text and searched for a keyword, as the run
// counts hits. The keyword is the input up to its first line break, the page
// everything after it.
#include "fuzzcheck.h"
#include "textbuffer.h"
#include "textdecode.h"

#include <QString>
#include <QStringView>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

// Non-overlapping matches, each search starting after the previous match,
// as the run selects and searches on.
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

    TMemo memo;
    memo.SetText(text);
    FUZZ_CHECK(memo.Length() == text.size());
    const QString keyword =
        QString::fromUtf8(keywordBytes.data(), static_cast<qsizetype>(keywordBytes.size()));
    const qsizetype exact = countHits(memo, keyword, true);
    const qsizetype folded = countHits(memo, keyword, false);
    if (keyword.isEmpty()) {
        FUZZ_CHECK(exact == 0 && folded == 0);
        return 0;
    }
    FUZZ_CHECK(exact == countExact(text, keyword));
    FUZZ_CHECK(exact * keyword.size() <= text.size());
    FUZZ_CHECK(folded * keyword.size() <= text.size());
    // Every exact match is also a match without regard to case, and the
    // leftmost-first count is the largest count of disjoint matches.
    FUZZ_CHECK(folded >= exact);
    return 0;
}
