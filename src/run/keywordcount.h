// Keyword hits of one page: the keyword syntax and the counting rules.

#pragma once

#include "nqtypes.h"

#include <QRegularExpression>

#include <cstdint>
#include <string_view>
#include <vector>

// The keywords of a keyword box or argument list: split at every space;
// text in double quotes is one keyword, blanks and all; a quote with no
// partner after it is an ordinary character; "" is no keyword. Without
// quotes the split is the one-keyword-per-space split of old, empty
// keywords between two spaces included.
std::vector<String> SplitKeywords(const String& text);

// How the keywords are searched for.
struct TCountOptions
{
    bool matchCase = false;
    // A hit has no letter, digit or '_' right before or after it.
    bool wholeWords = false;
    // Each keyword is a Perl-compatible regular expression.
    bool patterns = false;
    // The text a reader sees instead of the page's source.
    bool visibleText = false;
    // A page has a hit only when every keyword occurs; else when any does.
    bool allKeywords = false;
    // Hits shown per keyword, with their surroundings; 0 none.
    int snippets = 0;
};

// The options in use beyond the letter case, as the status and the report
// show them after the keywords (" [whole words, visible text]"); empty
// when none is.
String OptionsNote(const TCountOptions& options);

// A page's hits: one count per keyword, non-overlapping from the left.
struct TKeywordCounts
{
    std::vector<Integer> hits;
    // The page's hits: their sum; with allKeywords, 0 unless every keyword occurs.
    Integer total = 0;
    // Per keyword, its first hits with up to 40 characters either side,
    // blanks collapsed; only when asked for.
    std::vector<std::vector<String>> snippets;
    // A pattern gave up on the page: the page has no count.
    bool patternLimit = false;
};

// Counts the hits of a keyword list in pages. A value: keywords and options
// in, counts out; Count keeps no state, so one counter serves any number of
// threads at once.
class TKeywordCounter
{
public:
    // Steps one pattern may take from one starting point before it gives up.
    static constexpr int kPatternStepLimit = 1000000;

    TKeywordCounter() = default;
    // keywords: UTF-8 (Windows-1252 when not valid UTF-8), as typed.
    TKeywordCounter(std::vector<String> keywords, TCountOptions options);

    // Why the keywords cannot be searched for ("invalid pattern ..."), or empty.
    const String& Error() const { return m_error; }
    // True when no keyword can ever count a hit.
    bool NothingToFind() const;
    const TCountOptions& Options() const { return m_options; }
    const std::vector<String>& Keywords() const { return m_keywords; }

    // The hits of the page's bytes (UTF-8, or Windows-1252 when not valid UTF-8).
    TKeywordCounts Count(std::string_view page) const;

private:
    void countLiterals(std::string_view text, TKeywordCounts& counts) const;
    void countPatterns(std::string_view text, TKeywordCounts& counts) const;

    std::vector<String> m_keywords;
    TCountOptions m_options;
    String m_error;
    // The keywords as searched for: UTF-8, case-folded unless case matters.
    std::vector<String> m_needles;
    std::vector<QRegularExpression> m_patterns;
    // The literal keywords of four bytes or more, found in one pass by a
    // hash of their first four bytes: a bit per hash, then (hash, keyword)
    // pairs in hash order. Shorter ones are searched for one by one.
    std::vector<std::uint64_t> m_prefixBits;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> m_prefixes;
};
