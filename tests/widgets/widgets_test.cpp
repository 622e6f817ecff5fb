#include "credits.h"
#include "linklabel.h"
#include "mediacontrol.h"
#include "progresspopup.h"
#include "shell.h"
#include "soundplayer.h"
#include "textwindow.h"

#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Log = std::vector<String>;

// Both layers write one log, so the order of events and calls is visible.
struct FakeMedia final : IMediaControl
{
    explicit FakeMedia(Log& l) : log(l) {}
    std::uint32_t Open(const String& fileName, std::uint32_t* device) override
    {
        log.push_back("open " + fileName);
        *device = fileName.empty() ? 0 : ++lastId; // an empty name is a missing file
        return fileName.empty() ? ErrorFileNotFound : NoError;
    }
    std::uint32_t Length(std::uint32_t) override { return length; }
    std::uint32_t Position(std::uint32_t) override { return position; }
    void SeekToStart(std::uint32_t d) override { note("seek", d); }
    std::uint32_t Play(std::uint32_t d) override { return note("play", d, playResult); }
    std::uint32_t Close(std::uint32_t d) override { return note("close", d); }
    String ErrorText(std::uint32_t) override { return errorText; }
    std::uint32_t note(const char* what, std::uint32_t id, std::uint32_t result = NoError)
    {
        log.push_back(what + (" " + std::to_string(id)));
        return result;
    }

    Log& log;
    std::uint32_t lastId = 0, length = 500, position = 0, playResult = NoError;
    String errorText = "The specified file was not found.";
};

struct FakeShell final : IShell
{
    explicit FakeShell(Log& l) : log(l) {}
    bool Open(const String& text) override
    {
        log.push_back("shell " + text);
        return true;
    }
    Log& log;
};

class Fakes : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto fake = std::make_unique<FakeMedia>(log);
        media = fake.get();
        previousMedia = SetMediaControl(std::move(fake));
        previousShell = SetShell(std::make_unique<FakeShell>(log));
    }
    void TearDown() override
    {
        SetMediaControl(std::move(previousMedia));
        SetShell(std::move(previousShell));
    }
    // The list the main window gives its player.
    static void fill(TVelPlayer& p) { p.SetMediaFiles({"", "1.wav", "2.wav", "3.wav", "4.wav"}); }

    Log log;
    FakeMedia* media = nullptr;
    std::unique_ptr<IMediaControl> previousMedia;
    std::unique_ptr<IShell> previousShell;
};
using VelPlayerTest = Fakes;
using URLLabelTest = Fakes;

TEST_F(VelPlayerTest, PlaysTheSelectedEntryClampingTheIndexAbove)
{
    for (const auto& [index, file] : std::vector<std::pair<Integer, String>>{
             {3, "3.wav"}, {1, "1.wav"}, {4, "4.wav"}, {5, "4.wav"}, {1000, "4.wav"}}) {
        SCOPED_TRACE(index);
        log.clear();
        media->lastId = 0;
        TVelPlayer p;
        fill(p);
        p.PlayMediaFile(index);
        EXPECT_EQ(log, (Log{"open " + file, "play 1"}));
        EXPECT_EQ(p.FileName(), file);
        EXPECT_TRUE(p.DeviceOpen());
    }
}

TEST_F(VelPlayerTest, NegativeIndexSelectsTheEmptyEntryWhoseOpenFails)
{
    for (const String text : {"The specified file was not found.", ""}) {
        media->errorText = text;
        TVelPlayer p;
        fill(p);
        try {
            p.PlayMediaFile(-2);
            ADD_FAILURE() << "no device error";
        } catch (const EMCIDeviceError& e) {
            EXPECT_EQ(e.what(), text.empty() ? "Unknown error code" : text);
        }
        EXPECT_EQ(p.MediaFileIndex(), 0);
        EXPECT_FALSE(p.DeviceOpen());
    }
    EXPECT_EQ(log, (Log{"open ", "open "}));
}

TEST_F(VelPlayerTest, EachSoundClosesTheDeviceBeforeIt)
{
    {
        TVelPlayer p;
        fill(p);
        p.PlayMediaFile(1);
        p.PlayMediaFile(2);
        // A failed open still closes the old device and does not reopen it.
        EXPECT_THROW(p.PlayMediaFile(0), EMCIDeviceError);
        EXPECT_FALSE(p.DeviceOpen());
        p.PlayMediaFile(3);
    }
    EXPECT_EQ(log, (Log{"open 1.wav", "play 1", "close 1", "open 2.wav", "play 2", "close 2",
                        "open ", "open 3.wav", "play 3", "close 3"}));
}

TEST_F(VelPlayerTest, RewindsOnlyAtTheEndAndKeepsThePlayResult)
{
    TVelPlayer p;
    fill(p);
    media->position = 500;
    p.PlayMediaFile(1);
    media->position = 200;
    media->playResult = 263;
    EXPECT_NO_THROW(p.PlayMediaFile(2));
    EXPECT_EQ(log, (Log{"open 1.wav", "seek 1", "play 1", "close 1", "open 2.wav", "play 2"}));
    EXPECT_EQ(p.LastError(), 263U);
    EXPECT_TRUE(p.DeviceOpen());
}

TEST_F(VelPlayerTest, EmptyListRejectsEveryIndex)
{
    TVelPlayer p;
    p.SetMediaFiles({"a.wav"});
    p.SetMediaFileIndex(0);
    p.MediaFiles().clear();
    for (const auto& [index, text] :
         std::vector<std::pair<Integer, String>>{{0, "(-1)"}, {7, "(-1)"}, {-1, "(0)"}}) {
        for (const bool play : {false, true}) {
            SCOPED_TRACE(std::to_string(index) + (play ? " play" : " set"));
            try {
                play ? p.PlayMediaFile(index) : p.SetMediaFileIndex(index);
                ADD_FAILURE() << "no list error";
            } catch (const EListError& e) {
                EXPECT_EQ(e.what(), "List index out of bounds " + text);
            }
        }
    }
    EXPECT_EQ(p.FileName(), "a.wav");
    EXPECT_TRUE(log.empty());
}

TEST_F(VelPlayerTest, LayoutSettingsCopyTheListAndOpenNothing)
{
    {
        TVelPlayer p;
        std::vector<String> files{"", "1.wav"};
        p.SetMediaFiles(files);
        files[0] = "changed.wav";
        p.SetMediaFileIndex(0);
        p.SetCopyright("someone else");
        EXPECT_EQ(p.FileName(), "");
        EXPECT_EQ(p.MediaFiles(), (std::vector<String>{"", "1.wav"}));
        EXPECT_EQ(p.Copyright(), kNetquarryCredit);
    }
    EXPECT_TRUE(log.empty());
}

// A RIFF WAVE of 8-bit mono at 8000 bytes a second; extra goes before "fmt ".
QByteArray wave(std::uint16_t format, std::uint32_t dataSize, const QByteArray& extra = {},
                std::uint32_t fmtSize = 16)
{
    const auto le = [](std::uint32_t v, int n) {
        QByteArray b;
        for (int i = 0; i < n; ++i)
            b.append(static_cast<char>((v >> (8 * i)) & 0xFFU));
        return b;
    };
    const QByteArray fmt = le(format, 2) + le(1, 2) + le(8000, 4) + le(8000, 4) + le(1, 2) +
                           le(8, 2) + QByteArray(static_cast<qsizetype>(fmtSize - 16), '\0');
    const QByteArray body = "WAVE" + extra + "fmt " + le(fmtSize, 4) + fmt + "data" +
                            le(dataSize, 4) + QByteArray(static_cast<qsizetype>(dataSize), '\x80');
    return "RIFF" + le(static_cast<std::uint32_t>(body.size()), 4) + body;
}

TEST(IsPlayableWave, AcceptsPcmWaveFilesOnly)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray good = wave(1, 4000);
    const QByteArray dataFirst = "RIFF" + good.mid(4, 8) + good.mid(36) + good.mid(12, 24);
    // An odd-sized chunk is followed by a pad byte.
    const QByteArray list("LIST\3\0\0\0abc\0", 12);
    for (const auto& [name, bytes, ms] : std::vector<std::tuple<const char*, QByteArray, int>>{
             {"plain.wav", good, 500},
             {"list.wav", wave(1, 4000, list), 500},
             {"fmt18.wav", wave(1, 800, {}, 18), 100},
             {"adpcm.wav", wave(85, 4000), -1},
             {"datafirst.wav", dataFirst, -1},
             {"short.wav", good.left(30), -1},
             {"riffonly.wav", good.left(12), -1},
             {"text.wav", "just some text, not a sound", -1}}) {
        SCOPED_TRACE(name);
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        std::uint32_t length = 0;
        EXPECT_EQ(IsPlayableWave(f.fileName().toStdString(), &length), ms >= 0);
        if (ms >= 0) {
            EXPECT_EQ(length, static_cast<std::uint32_t>(ms));
        }
    }
    EXPECT_FALSE(IsPlayableWave(dir.filePath("missing.wav").toStdString(), nullptr));
}

TEST_F(URLLabelTest, ClickRunsTheEventThenOpensTheCaptionUnaltered)
{
    for (const auto& [caption, mail, opened] : std::vector<std::tuple<const char*, bool, String>>{
             {"http://example.test/", false, "http://example.test/"},
             {"a@b.test", true, "mailto:a@b.test"},
             {"results.htm", false, "results.htm"},
             {" a b ", false, " a b "},
             {"", false, ""},
             {"", true, "mailto:"}}) {
        SCOPED_TRACE(caption);
        log.clear();
        TURLLabel label;
        label.setText(caption);
        label.MailLabel = mail;
        label.hide();
        TObject* sender = nullptr;
        label.OnClick = [&](TObject* s) {
            sender = s;
            log.push_back("event");
        };
        label.Click();
        EXPECT_EQ(log, (Log{"event", "shell " + opened}));
        EXPECT_EQ(sender, &label);
    }
}

TEST_F(URLLabelTest, NewLabelLooksLikeALink)
{
    TURLLabel label;
    label.SetCopyright("someone else");
    EXPECT_TRUE(label.font().underline());
    EXPECT_FALSE(label.font().bold() || label.font().italic() || label.font().strikeOut());
    EXPECT_EQ(label.cursor().shape(), Qt::PointingHandCursor);
    EXPECT_FALSE(label.MailLabel);
    EXPECT_EQ(label.Copyright(), kNetquarryCredit);
    label.Click(); // an unset event is skipped
    EXPECT_EQ(log, Log{"shell "});
}

TEST_F(URLLabelTest, LeftReleaseInsideTheLabelClicks)
{
    TURLLabel label;
    label.setText("http://example.test/");
    label.resize(120, 20);
    for (const auto& [at, button, opens] :
         std::vector<std::tuple<QPointF, Qt::MouseButton, int>>{{{10, 10}, Qt::LeftButton, 1},
                                                                {{10, 10}, Qt::RightButton, 0},
                                                                {{300, 10}, Qt::LeftButton, 0}}) {
        log.clear();
        QMouseEvent release(QEvent::MouseButtonRelease, at, label.mapToGlobal(at), button,
                            Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&label, &release);
        EXPECT_EQ(log.size(), static_cast<std::size_t>(opens));
    }
}

TEST(Progress, BorderlessOnTopWithAlternatingPictures)
{
    TProgress p;
    EXPECT_EQ(p.objectName(), "Progress");
    EXPECT_TRUE(p.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(p.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(p.minimumSize(), QSize(174, 48));
    EXPECT_EQ(p.maximumSize(), QSize(174, 48));
    EXPECT_EQ(p.Label1->text(), "Analyzing site...");
    EXPECT_FALSE(p.isVisible());
    EXPECT_EQ(p.I1->geometry(), p.I2->geometry());
    EXPECT_TRUE(p.I1->isVisibleTo(&p));
    EXPECT_TRUE(p.I2->isVisibleTo(&p));
    // What is seen is the topmost picture at their common place.
    const QPoint middle = p.I1->geometry().center();
    EXPECT_EQ(p.childAt(middle), p.I2);
    for (int flip = 1; flip <= 5; ++flip) {
        SCOPED_TRACE(flip);
        p.FlipPictures();
        const bool i2Seen = flip % 2 == 1;
        EXPECT_EQ(p.I1->isVisibleTo(&p), !i2Seen);
        EXPECT_EQ(p.I2->isVisibleTo(&p), i2Seen);
        EXPECT_EQ(p.childAt(middle), i2Seen ? static_cast<QWidget*>(p.I2) : p.I1);
    }
}

TEST(Form2, NeverShownTextWindow)
{
    TForm2 f;
    EXPECT_EQ(f.objectName(), "Form2");
    EXPECT_EQ(f.windowTitle(), "Form2");
    EXPECT_FALSE(f.isVisible());
}

} // namespace
