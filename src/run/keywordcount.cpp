// Keyword hits of one page: the keyword syntax and the counting rules.

#include "keywordcount.h"

#include "textdecode.h"
#include "visibletext.h"

#include <QChar>
#include <QString>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

constexpr int kSnippetContext = 40;
const char* const kEllipsis = "\xE2\x80\xA6";

bool isContinuation(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The code point starting at s[i] of valid UTF-8, and its length.
char32_t decodeAt(std::string_view s, std::size_t i, std::size_t* length)
{
    const auto c = static_cast<unsigned char>(s[i]);
    const auto at = [&](std::size_t k) { return static_cast<char32_t>(s[i + k] & 0x3F); };
    if (c < 0x80) {
        *length = 1;
        return c;
    }
    if (c < 0xE0) {
        *length = 2;
        return (static_cast<char32_t>(c & 0x1F) << 6) | at(1);
    }
    if (c < 0xF0) {
        *length = 3;
        return (static_cast<char32_t>(c & 0x0F) << 12) | (at(1) << 6) | at(2);
    }
    *length = 4;
    return (static_cast<char32_t>(c & 0x07) << 18) | (at(1) << 12) | (at(2) << 6) | at(3);
}

// Writes cp as UTF-8 at out; returns the bytes written.
std::size_t encodeUtf8(char* out, char32_t cp)
{
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

struct AsciiFold
{
    std::array<char, 128> to{};
    constexpr AsciiFold()
    {
        for (int c = 0; c < 128; ++c)
            to[static_cast<std::size_t>(c)] = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
};
constexpr AsciiFold kAsciiFold;
constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

constexpr std::size_t kPrefixLength = 4;
// From this many long keywords on, one pass over the text for all of them
// beats a memmem pass for each.
constexpr std::size_t kOnePassFrom = 8;

std::uint32_t prefixHash(const char* at)
{
    std::uint32_t word;
    std::memcpy(&word, at, kPrefixLength);
    return (word * 2654435761U) >> 16;
}

// Where a folded text's positions lie in the text it was folded from: a
// code point whose folded form takes another number of bytes (the Kelvin
// sign, a long s) shifts all that follows.
class PositionMap
{
public:
    void shift(std::size_t folded, std::size_t original) { m_marks.push_back({folded, original}); }
    std::size_t original(std::size_t folded) const
    {
        const auto after = std::upper_bound(
            m_marks.begin(), m_marks.end(), folded,
            [](std::size_t value, const std::pair<std::size_t, std::size_t>& mark) {
                return value < mark.first;
            });
        if (after == m_marks.begin())
            return folded;
        const auto& mark = *(after - 1);
        return mark.second + (folded - mark.first);
    }

private:
    std::vector<std::pair<std::size_t, std::size_t>> m_marks;
};

// A folded code point takes at most half as many bytes again (two become three).
std::size_t foldedBound(std::size_t size)
{
    return size + size / 2 + 4;
}

// Valid UTF-8 with every letter case-folded as the search without regard to
// case folds it: one code point at a time, by Unicode's simple folding.
// Writes at out, which holds foldedBound(s.size()) bytes; returns the length.
std::size_t foldCaseInto(std::string_view s, char* out, PositionMap* map)
{
    char* o = out;
    std::size_t i = 0;
    while (i < s.size()) {
#ifdef __SSE2__
        // Plain ASCII sixteen bytes at a time: 0x20 added to each of A..Z.
        const __m128i beforeA = _mm_set1_epi8('A' - 1);
        const __m128i afterZ = _mm_set1_epi8('Z' + 1);
        const __m128i toLower = _mm_set1_epi8(0x20);
        while (s.size() - i >= 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + i));
            if (_mm_movemask_epi8(bytes) != 0)
                break;
            // Signed comparisons hold: no byte here is above 127.
            const __m128i upper =
                _mm_and_si128(_mm_cmpgt_epi8(bytes, beforeA), _mm_cmplt_epi8(bytes, afterZ));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o),
                             _mm_or_si128(bytes, _mm_and_si128(upper, toLower)));
            o += 16;
            i += 16;
        }
#endif
        // The same eight bytes at a time.
        while (s.size() - i >= 8) {
            std::uint64_t word;
            std::memcpy(&word, s.data() + i, 8);
            if (word & kHighBits)
                break;
            const std::uint64_t fromA = (word + kOnes * (0x80 - 'A')) & kHighBits;
            const std::uint64_t pastZ = (word + kOnes * (0x80 - 'Z' - 1)) & kHighBits;
            word |= (fromA & ~pastZ) >> 2;
            std::memcpy(o, &word, 8);
            o += 8;
            i += 8;
        }
        if (i >= s.size())
            break;
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            *o++ = kAsciiFold.to[c];
            ++i;
            continue;
        }
        std::size_t length = 0;
        const std::size_t written = encodeUtf8(o, QChar::toCaseFolded(decodeAt(s, i, &length)));
        o += written;
        i += length;
        if (written != length && map)
            map->shift(static_cast<std::size_t>(o - out), i);
    }
    return static_cast<std::size_t>(o - out);
}

String foldCase(std::string_view s)
{
    String out(foldedBound(s.size()), '\0');
    out.resize(foldCaseInto(s, out.data(), nullptr));
    return out;
}

// The first place of needle (not empty) in haystack from `from` on, or npos.
// Sixteen places at a time are tested for the needle's first and last
// bytes, far fewer instructions a byte than memmem on a long page.
std::size_t findFrom(std::string_view haystack, std::size_t from, std::string_view needle)
{
    const std::size_t m = needle.size();
    const char* const data = haystack.data();
    std::size_t i = from;
#ifdef __SSE2__
    const __m128i first = _mm_set1_epi8(needle.front());
    const __m128i last = _mm_set1_epi8(needle.back());
    while (i + m - 1 + 16 <= haystack.size()) {
        const __m128i heads = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const __m128i tails = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + m - 1));
        auto candidates = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_and_si128(_mm_cmpeq_epi8(heads, first), _mm_cmpeq_epi8(tails, last))));
        while (candidates != 0) {
            const std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(candidates));
            if (std::memcmp(data + at, needle.data(), m) == 0)
                return at;
            candidates &= candidates - 1;
        }
        i += 16;
    }
#endif
    if (i + m > haystack.size())
        return std::string_view::npos;
    const void* found = memmem(data + i, haystack.size() - i, needle.data(), m);
    return found ? static_cast<std::size_t>(static_cast<const char*>(found) - data)
                 : std::string_view::npos;
}

bool isWordChar(char32_t cp)
{
    if (cp < 0x80)
        return cp == '_' || (cp >= '0' && cp <= '9') || ((cp | 0x20) >= 'a' && (cp | 0x20) <= 'z');
    return QChar::isLetterOrNumber(cp);
}

// True when neither the character before s[from] nor the one at s[to] is a
// word character.
bool standsAlone(std::string_view s, std::size_t from, std::size_t to)
{
    std::size_t length = 0;
    if (from > 0) {
        std::size_t before = from - 1;
        while (before > 0 && isContinuation(s[before]))
            --before;
        if (isWordChar(decodeAt(s, before, &length)))
            return false;
    }
    return to >= s.size() || !isWordChar(decodeAt(s, to, &length));
}

// The hit in piece with what surrounds it, blanks collapsed, an ellipsis
// where the text goes on.
String snippetOf(std::string_view piece, bool cutLeft, bool cutRight)
{
    String text = CollapseBlanks(piece);
    return (cutLeft ? kEllipsis : "") + text + (cutRight ? kEllipsis : "");
}

// The hit [from, to) of valid UTF-8 text with up to kSnippetContext
// characters either side.
String snippetAt(std::string_view text, std::size_t from, std::size_t to)
{
    std::size_t left = from;
    for (int n = 0; n < kSnippetContext && left > 0; ++n) {
        --left;
        while (left > 0 && isContinuation(text[left]))
            --left;
    }
    std::size_t right = to;
    for (int n = 0; n < kSnippetContext && right < text.size(); ++n) {
        ++right;
        while (right < text.size() && isContinuation(text[right]))
            ++right;
    }
    return snippetOf(text.substr(left, right - left), left > 0, right < text.size());
}

// The same for a hit [from, to) of UTF-16 text.
String snippetAt(const QString& text, qsizetype from, qsizetype to)
{
    qsizetype left = std::max<qsizetype>(0, from - kSnippetContext);
    if (left > 0 && text[left].isLowSurrogate())
        --left;
    qsizetype right = std::min(text.size(), to + kSnippetContext);
    if (right < text.size() && text[right].isLowSurrogate())
        ++right;
    const String piece = ToUtf8(QStringView(text).mid(left, right - left).toString());
    return snippetOf(piece, left > 0, right < text.size());
}

// Whole words for a pattern: no word character right before or after.
QString wholeWordPattern(const QString& pattern)
{
    return QStringLiteral("(?<![\\p{L}\\p{N}_])(?:") + pattern +
           QStringLiteral(")(?![\\p{L}\\p{N}_])");
}

} // namespace

String OptionsNote(const TCountOptions& options)
{
    String note;
    const auto add = [&note](bool on, const char* name) {
        if (on)
            note += (note.empty() ? "" : ", ") + String(name);
    };
    add(options.wholeWords, "whole words");
    add(options.visibleText, "visible text");
    add(options.patterns, "regular expressions");
    add(options.allKeywords, "all keywords");
    return note.empty() ? note : " [" + note + "]";
}

std::vector<String> SplitKeywords(const String& text)
{
    std::vector<String> keywords;
    String current;
    bool quoted = false;
    std::size_t i = 0;
    const auto endKeyword = [&] {
        // An empty pair of quotes is no keyword; an empty word between two
        // spaces is one, as it always was.
        if (!current.empty() || !quoted)
            keywords.push_back(current);
        current.clear();
        quoted = false;
    };
    while (i < text.size()) {
        const char c = text[i];
        if (c == ' ') {
            endKeyword();
            ++i;
        } else if (c == '"' && text.find('"', i + 1) != String::npos) {
            const auto close = text.find('"', i + 1);
            current.append(text, i + 1, close - i - 1);
            quoted = true;
            i = close + 1;
        } else {
            current += c;
            ++i;
        }
    }
    endKeyword();
    return keywords;
}

TKeywordCounter::TKeywordCounter(std::vector<String> keywords, TCountOptions options)
    : m_keywords(std::move(keywords)), m_options(options)
{
    for (const String& keyword : m_keywords) {
        String needle = WebTextToUtf8(keyword);
        if (m_options.visibleText)
            needle = CollapseBlanks(needle);
        if (!m_options.patterns) {
            m_needles.push_back(m_options.matchCase ? needle : foldCase(needle));
            const String& added = m_needles.back();
            if (added.size() >= kPrefixLength) {
                const std::uint32_t hash = prefixHash(added.data());
                m_prefixBits.resize(std::size_t{1} << 10);
                m_prefixBits[hash >> 6] |= std::uint64_t{1} << (hash & 63);
                m_prefixes.push_back({hash, static_cast<std::uint32_t>(m_needles.size() - 1)});
            }
            continue;
        }
        m_needles.push_back(needle);
        if (needle.empty()) {
            m_patterns.emplace_back();
            continue;
        }
        QString pattern = QString::fromUtf8(needle.data(), static_cast<qsizetype>(needle.size()));
        QRegularExpression::PatternOptions flags = QRegularExpression::UseUnicodePropertiesOption;
        if (!m_options.matchCase)
            flags |= QRegularExpression::CaseInsensitiveOption;
        const QRegularExpression plain(pattern, flags);
        if (!plain.isValid()) {
            m_error = "invalid pattern \"" + keyword + "\": " + ToUtf8(plain.errorString()) +
                      " at offset " + std::to_string(plain.patternErrorOffset());
            m_patterns.clear();
            m_needles.clear();
            return;
        }
        if (m_options.wholeWords)
            pattern = wholeWordPattern(pattern);
        // A pattern that backtracks without end gives up instead.
        QRegularExpression limited(
            QStringLiteral("(*LIMIT_MATCH=%1)").arg(kPatternStepLimit) + pattern, flags);
        // Compiled here, once, not by the first of several threads to match.
        limited.optimize();
        m_patterns.push_back(std::move(limited));
    }
    // Few keywords are found faster each on its own. memmem's way steps over
    // the rest of a character after a hit that does not count, so a keyword
    // that starts inside one (not UTF-8) keeps the one pass.
    const bool startsInside = std::any_of(m_prefixes.begin(), m_prefixes.end(), [this](auto p) {
        return isContinuation(m_needles[p.second].front());
    });
    if (m_prefixes.size() < kOnePassFrom && !startsInside) {
        m_prefixes.clear();
        m_prefixBits.clear();
    }
    std::sort(m_prefixes.begin(), m_prefixes.end());
}

bool TKeywordCounter::NothingToFind() const
{
    if (!m_error.empty())
        return true;
    return std::all_of(m_needles.begin(), m_needles.end(),
                       [](const String& needle) { return needle.empty(); });
}

TKeywordCounts TKeywordCounter::Count(std::string_view page) const
{
    TKeywordCounts counts;
    counts.hits.assign(m_keywords.size(), 0);
    if (m_options.snippets > 0)
        counts.snippets.resize(m_keywords.size());
    if (!m_error.empty())
        return counts;
    String decoded;
    std::string_view text = WebTextAsUtf8(page, decoded);
    String visible;
    if (m_options.visibleText) {
        visible = VisibleText(text);
        text = visible;
    }
    if (m_options.patterns)
        countPatterns(text, counts);
    else
        countLiterals(text, counts);
    if (counts.patternLimit)
        return counts;
    bool everyOne = true;
    for (std::size_t k = 0; k < counts.hits.size(); ++k) {
        counts.total += counts.hits[k];
        // An empty keyword finds nothing and asks for nothing.
        if (!m_needles[k].empty() && counts.hits[k] == 0)
            everyOne = false;
    }
    if (m_options.allKeywords && !everyOne)
        counts.total = 0;
    return counts;
}

void TKeywordCounter::countLiterals(std::string_view text, TKeywordCounts& counts) const
{
    const std::size_t wanted = static_cast<std::size_t>(std::max(m_options.snippets, 0));
    PositionMap map;
    std::string_view haystack = text;
    std::unique_ptr<char[]> folded; // written before it is read: no zero-fill
    if (!m_options.matchCase) {
        folded = std::make_unique_for_overwrite<char[]>(foldedBound(text.size()));
        haystack = {folded.get(), foldCaseInto(text, folded.get(), &map)};
    }
    const std::size_t size = haystack.size();
    // A hit of keyword k at [at, end), if it counts: each keyword's hits are
    // non-overlapping from the left, and one inside a word uses up nothing.
    const auto take = [&](std::size_t k, std::size_t at, std::size_t end) {
        if (m_options.wholeWords && !standsAlone(haystack, at, end))
            return false;
        if (static_cast<std::size_t>(counts.hits[k]) < wanted)
            counts.snippets[k].push_back(snippetAt(text, map.original(at), map.original(end)));
        ++counts.hits[k];
        return true;
    };

    // The long keywords, all in one pass over the text.
    if (!m_prefixes.empty() && size >= kPrefixLength) {
        std::vector<std::size_t> next(m_needles.size(), 0); // where each may hit next
        const char* data = haystack.data();
        for (std::size_t at = 0; at + kPrefixLength <= size; ++at) {
            const std::uint32_t hash = prefixHash(data + at);
            if (!((m_prefixBits[hash >> 6] >> (hash & 63)) & 1U))
                continue;
            auto entry = std::lower_bound(m_prefixes.begin(), m_prefixes.end(),
                                          std::pair<std::uint32_t, std::uint32_t>{hash, 0});
            for (; entry != m_prefixes.end() && entry->first == hash; ++entry) {
                const std::size_t k = entry->second;
                const String& needle = m_needles[k];
                if (at < next[k] || needle.size() > size - at ||
                    std::memcmp(data + at, needle.data(), needle.size()) != 0)
                    continue;
                if (take(k, at, at + needle.size()))
                    next[k] = at + needle.size();
            }
        }
    }

    for (std::size_t k = 0; k < m_needles.size(); ++k) {
        const String& needle = m_needles[k];
        if (needle.empty() || (needle.size() >= kPrefixLength && !m_prefixes.empty()))
            continue; // nothing to find, or found in the one pass
        std::size_t from = 0;
        while (from + needle.size() <= size) {
            const std::size_t at = findFrom(haystack, from, needle);
            if (at == std::string_view::npos)
                break;
            if (take(k, at, at + needle.size())) {
                from = at + needle.size();
                continue;
            }
            from = at + 1;
            while (from < size && isContinuation(haystack[from]))
                ++from;
        }
    }
}

void TKeywordCounter::countPatterns(std::string_view text, TKeywordCounts& counts) const
{
    const std::size_t wanted = static_cast<std::size_t>(std::max(m_options.snippets, 0));
    const QString subject = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    for (std::size_t k = 0; k < m_patterns.size(); ++k) {
        if (m_needles[k].empty())
            continue;
        Integer hits = 0;
        qsizetype from = 0;
        while (from <= subject.size()) {
            const QRegularExpressionMatch match =
                m_patterns[k].match(subject, from, QRegularExpression::NormalMatch,
                                    QRegularExpression::DontCheckSubjectStringMatchOption);
            if (!match.isValid()) {
                counts.patternLimit = true;
                return;
            }
            if (!match.hasMatch())
                break;
            const qsizetype start = match.capturedStart();
            const qsizetype end = match.capturedEnd();
            if (end == start) {
                // A match of nothing is no hit; the search goes on past it.
                from = start + 1;
                if (from < subject.size() && subject[from].isLowSurrogate())
                    ++from;
                continue;
            }
            if (static_cast<std::size_t>(hits) < wanted)
                counts.snippets[k].push_back(snippetAt(subject, start, end));
            ++hits;
            from = end;
        }
        counts.hits[k] = hits;
    }
}
