#include "ioerror.h"
#include "textbuffer.h"
#include "textdecode.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace {

QString u8(const char* text)
{
    return QString::fromUtf8(text);
}

TEST(Memo, LoadReplacesTextWithTheDecodedFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TMemo memo;
    memo.SetText(u8("old text"));
    memo.SetSelStart(2);
    memo.SetSelLength(3);
    for (const auto& [bytes, text] : std::vector<std::pair<QByteArray, const char*>>{
             {"Caf\xC3\xA9", "Café"}, {"\x80 caf\xE9 \x93q\x94", "€ café “q”"}}) {
        QFile f(dir.filePath("page.htm"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        memo.LoadFromFile(f.fileName().toStdString());
        EXPECT_EQ(memo.Text(), u8(text));
        EXPECT_EQ(memo.SelStart() + memo.SelLength(), 0);
    }
    EXPECT_THROW(memo.LoadFromFile(dir.filePath("missing.htm").toStdString()), EInOutError);
}

TEST(Memo, FindTextSearchesForwardWithinBounds)
{
    TMemo memo;
    // "abc" at 0, "Café" at 4, "ABC" at 9, "café" at 13; 17 characters.
    memo.SetText(u8("abc Café ABC café"));
    const std::vector<std::tuple<const char*, qsizetype, qsizetype, bool, qsizetype>> cases{
        {"abc", 0, 17, true, 0},    {"abc", 1, 17, true, -1},    {"abc", 1, 17, false, 9},
        {"CAFÉ", 0, 17, false, 4},  {"CAFÉ", 0, 17, true, -1},   {"É", 0, 17, false, 7},
        {"É", 0, 17, true, -1},     {"é", 8, 17, true, 16},      {"ABC", 0, 12, true, 9},
        {"ABC", 0, 11, true, -1},   {"café", 5, 100, false, 13}, {"c", 2, 3, true, 2},
        {"abc", 17, 17, false, -1}, {"", 0, 17, false, -1},      {"", 0, 17, true, -1},
        {"xyz", 0, 17, false, -1}};
    for (const auto& [what, start, end, matchCase, found] : cases) {
        SCOPED_TRACE(testing::Message() << what << " in [" << start << ", " << end << ")"
                                        << (matchCase ? " matching case" : ""));
        EXPECT_EQ(memo.FindText(u8(what), start, end, matchCase), found);
    }
}

TEST(Memo, SelectionStaysWithinTheText)
{
    TMemo memo;
    for (const auto& [start, length, wantStart, wantLength] :
         std::vector<std::tuple<qsizetype, qsizetype, qsizetype, qsizetype>>{
             {2, 3, 2, 3}, {10, 1, 5, 0}, {-2, 3, 0, 3}, {1, 10, 1, 4}, {1, -1, 1, 0}}) {
        SCOPED_TRACE(testing::Message() << start << ", " << length);
        memo.SetText(u8("hello"));
        memo.SetSelStart(start);
        memo.SetSelLength(length);
        EXPECT_EQ(memo.SelStart(), wantStart);
        EXPECT_EQ(memo.SelLength(), wantLength);
    }
    memo.SetSelStart(2);
    memo.SetSelLength(3);
    memo.SetSelStart(4); // the old length would run past the end
    EXPECT_LE(memo.SelStart() + memo.SelLength(), memo.Length());
    memo.Clear();
    EXPECT_TRUE(memo.Text().isEmpty());
    EXPECT_EQ(memo.SelStart() + memo.SelLength(), 0);
}

TEST(DecodeWebText, Utf8WhenValidOtherwiseWindows1252)
{
    // Expected texts are written in UTF-8.
    for (const auto& [bytes, text] : std::vector<std::pair<String, const char*>>{
             {"", ""},
             {"plain <b>ascii</b>", "plain <b>ascii</b>"},
             {"Caf\xC3\xA9", "Café"},
             {"\xE2\x82\xAC 5", "€ 5"},
             {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
             {"Caf\xE9", "Café"},
             {"\x80\x93\x94\x8A\x9F\xFF", "€“”ŠŸÿ"},
             // One bad sequence makes the whole text Windows-1252.
             {"\xC3\xA9 \xE9", "Ã© é"},
             {"end\xC3", "endÃ"},
             {"\xC0\xAF", "À¯"},
             {"\xED\xA0\x80", "í\xC2\xA0€"}}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(DecodeWebText(bytes), u8(text));
    }
}

} // namespace
