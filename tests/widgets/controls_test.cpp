#include "aboutbox.h"
#include "aboutwindow.h"
#include "colors.h"
#include "compoundform.h"
#include "compoundpanel.h"
#include "credits.h"
#include "eventpump.h"
#include "hoverbutton.h"
#include "linklabel.h"
#include "logoframes.h"
#include "logopanel.h"
#include "shell.h"

#include <QApplication>
#include <QDate>
#include <QDialog>
#include <QEnterEvent>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace {

using Log = std::vector<String>;

TEST(Colors, LayoutValuesAreBlueGreenRed)
{
    for (const auto& [value, rgb] :
         std::vector<std::pair<Cardinal, QColor>>{{clBlack, QColor(0, 0, 0)},
                                                  {clRed, QColor(255, 0, 0)},
                                                  {clBlue, QColor(0, 0, 255)},
                                                  {clTeal, QColor(0, 128, 128)},
                                                  {0x123456, QColor(0x56, 0x34, 0x12)}}) {
        EXPECT_EQ(ColorFromTColor(value), rgb) << std::hex << value;
    }
}

QColor caption(const QPushButton& b)
{
    return b.palette().color(QPalette::Active, QPalette::ButtonText);
}

QColor glyph(const QPushButton& b)
{
    return b.icon().pixmap(QSize(16, 16)).toImage().pixelColor(8, 8);
}

QPixmap solid(const QColor& color)
{
    QPixmap p(16, 16);
    p.fill(color);
    return p;
}

void enter(QWidget& w)
{
    QEnterEvent e(QPointF(4, 4), QPointF(4, 4), w.mapToGlobal(QPointF(4, 4)));
    QCoreApplication::sendEvent(&w, &e);
}

void leave(QWidget& w)
{
    QEvent e(QEvent::Leave);
    QCoreApplication::sendEvent(&w, &e);
}

TEST(PassOverBtn, CaptionKeepsTheLayoutColourUntilThePointerFirstEnters)
{
    TPassOverBtn b;
    QPalette layout = b.palette();
    layout.setColor(QPalette::ButtonText, Qt::darkGreen);
    b.setPalette(layout);
    b.SetFontColorOut(clBlue);
    b.SetCopyright("someone else");
    EXPECT_EQ(caption(b), QColor(Qt::darkGreen));
    enter(b);
    EXPECT_EQ(caption(b), ColorFromTColor(clRed));
    leave(b);
    EXPECT_EQ(caption(b), ColorFromTColor(clBlue));
    EXPECT_EQ(b.Copyright(), kNetquarryCredit);
}

TEST(PassOverBtn, NewColourShowsAtTheNextPassOnly)
{
    TPassOverBtn b;
    enter(b);
    b.SetFontColorIn(clYellow);
    EXPECT_EQ(caption(b), ColorFromTColor(clRed));
    leave(b);
    EXPECT_EQ(caption(b), ColorFromTColor(clBlack));
    enter(b);
    EXPECT_EQ(caption(b), ColorFromTColor(clYellow));
}

TEST(PassOverBtn, GlyphsAreCopiesShownOnlyWhenNotEmpty)
{
    TPassOverBtn b;
    b.setIcon(QIcon(solid(Qt::green))); // the layout's glyph
    enter(b);
    leave(b);
    EXPECT_EQ(glyph(b), QColor(Qt::green));

    QPixmap source = solid(Qt::red);
    b.SetGlyphIn(source);
    source.fill(Qt::blue);
    b.SetGlyph(3, source);
    EXPECT_EQ(b.GlyphIn().toImage().pixelColor(0, 0), QColor(Qt::red));
    EXPECT_TRUE(b.GlyphOut().isNull());
    EXPECT_EQ(glyph(b), QColor(Qt::green));
    enter(b);
    EXPECT_EQ(glyph(b), QColor(Qt::red));
    leave(b);
    EXPECT_EQ(glyph(b), QColor(Qt::red));

    b.SetGlyphOut(source);
    enter(b);
    leave(b);
    EXPECT_EQ(glyph(b), QColor(Qt::blue));
}

TEST(PassOverBtn, DisabledButtonIsNeverUnderThePointer)
{
    TPassOverBtn b;
    b.SetFontColorIn(clYellow);
    enter(b);
    b.setEnabled(false);
    EXPECT_EQ(caption(b), ColorFromTColor(clBlack));
    enter(b); // the pointer moves about on the disabled button
    EXPECT_EQ(caption(b), ColorFromTColor(clBlack));
    b.setEnabled(true);
    EXPECT_EQ(caption(b), ColorFromTColor(clYellow));

    b.setEnabled(false);
    leave(b);
    b.setEnabled(true);
    EXPECT_EQ(caption(b), ColorFromTColor(clBlack));
}

TEST(CompoundPanel, AdoptsTheFormsControlsWhereTheyLie)
{
    TCompoundPanel panel;
    panel.SetCaption("Panel1");
    panel.setProperty(kDesignModeProperty, true);
    auto form = std::make_unique<TCompoundForm>();
    form->resize(120, 50);
    auto* box = new QFrame(form.get());
    box->setGeometry(10, 5, 60, 30);
    auto* inner = new QLabel(box);
    inner->move(4, 4);
    auto* hidden = new QLabel(form.get());
    hidden->move(80, 20);
    hidden->hide();
    auto* timer = new QTimer(form.get());

    TCompoundForm* hosted = form.get();
    EXPECT_EQ(panel.AdoptForm(form.release()), hosted);
    EXPECT_EQ(panel.HostedForm(), hosted);
    EXPECT_EQ(panel.size(), QSize(120, 50));
    EXPECT_TRUE(panel.Caption().isEmpty());
    EXPECT_EQ(box->parentWidget(), &panel);
    EXPECT_EQ(box->geometry(), QRect(10, 5, 60, 30));
    EXPECT_TRUE(box->isVisibleTo(&panel));
    EXPECT_EQ(inner->parentWidget(), box);
    EXPECT_EQ(hidden->parentWidget(), &panel);
    EXPECT_TRUE(hidden->isHidden());
    EXPECT_EQ(timer->parent(), hosted);
    for (const QObject* o : {static_cast<QObject*>(hosted), static_cast<QObject*>(inner),
                             static_cast<QObject*>(timer)})
        EXPECT_TRUE(o->property(kDesignModeProperty).toBool());
}

TEST(CompoundPanel, GoingAwayClosesThenDestroysControlsBeforeTheForm)
{
    Log log;
    {
        TCompoundPanel panel;
        auto form = std::make_unique<TCompoundForm>();
        auto* label = new QLabel(form.get());
        QObject::connect(label, &QObject::destroyed, [&] { log.push_back("label"); });
        QObject::connect(form.get(), &QObject::destroyed, [&] { log.push_back("form"); });
        form->OnClose = [&](TObject* sender, TCloseAction&) {
            log.push_back(sender == &panel ? "close by panel" : "close");
        };
        panel.AdoptForm(form.release());
        EXPECT_TRUE(log.empty());
    }
    EXPECT_EQ(log, (Log{"close by panel", "label", "form"}));
}

TEST(Form, CloseHandlerCanKeepTheFormOpen)
{
    TForm f;
    f.OnClose = [](TObject*, TCloseAction& action) { action = TCloseAction::caNone; };
    EXPECT_FALSE(f.close());
    f.OnClose = nullptr;
    EXPECT_TRUE(f.close());
}

std::vector<QLabel*> pictures(const TZelt& z)
{
    const TCompForm& f = *z.LogoForm;
    return {f.I1_9, f.I2_8, f.I3_7, f.I4_6, f.I5, f.I10_12, f.I11, f.I12};
}

QString visible(const TZelt& z)
{
    QStringList names;
    for (const QLabel* p : pictures(z))
        if (p->isVisibleTo(&z))
            names << p->objectName();
    return names.join(',');
}

// What the user sees is the topmost visible picture.
const QWidget* seen(const TZelt& z)
{
    return z.childAt(QPoint(38, 21));
}

TEST(Zelt, BuiltWithEightDistinctFramesAndI1_9OnTop)
{
    TZelt z;
    z.SetCopyright("someone else");
    EXPECT_EQ(z.size(), QSize(76, 42));
    EXPECT_EQ(z.HostedForm(), z.LogoForm);
    EXPECT_TRUE(z.Caption().isEmpty());
    EXPECT_EQ(visible(z), "I1_9,I2_8,I3_7,I4_6,I5,I10_12,I11,I12");
    EXPECT_EQ(seen(z), z.LogoForm->I1_9);
    EXPECT_FALSE(z.AnimationTimer->isActive());
    EXPECT_EQ(z.AnimationTimer->interval(), 700);
    EXPECT_EQ(z.FrameStep, 1);
    EXPECT_EQ(z.Copyright(), kNetquarryCredit);
    std::vector<QImage> images;
    for (const QLabel* p : pictures(z)) {
        SCOPED_TRACE(p->objectName().toStdString());
        EXPECT_EQ(p->parentWidget(), &z);
        EXPECT_EQ(p->geometry(), QRect(3, 3, 70, 36));
        const QImage image = p->pixmap().toImage();
        EXPECT_EQ(image.size(), QSize(70, 36));
        EXPECT_EQ(image.pixelColor(69, 35), ColorFromTColor(clAqua)); // the ground
        for (const QImage& other : images)
            EXPECT_NE(image, other);
        images.push_back(image);
    }
}

TEST(Zelt, RunsTheThirteenFrameCycleWithTwoSpeeds)
{
    TZelt z;
    z.StartAnimation();
    EXPECT_EQ(visible(z), "I1_9");
    EXPECT_TRUE(z.AnimationTimer->isActive());
    const std::vector<std::pair<QString, int>> cycle{
        {"I1_9", 700}, {"I2_8", 200},   {"I3_7", 200}, {"I4_6", 200}, {"I5", 200},
        {"I4_6", 200}, {"I3_7", 200},   {"I2_8", 200}, {"I1_9", 200}, {"I10_12", 200},
        {"I11", 700},  {"I10_12", 700}, {"I12", 700},  {"I1_9", 700}};
    for (int tick = 1; tick <= static_cast<int>(cycle.size()); ++tick) {
        SCOPED_TRACE(tick);
        z.AnimationTick(z.AnimationTimer);
        const auto& [shown, interval] = cycle[static_cast<std::size_t>(tick - 1)];
        EXPECT_EQ(visible(z), shown);
        EXPECT_EQ(z.AnimationTimer->interval(), interval);
        EXPECT_EQ(z.FrameStep, tick % 13 + 1);
        EXPECT_TRUE(z.AnimationTimer->isActive());
        // A new interval counts from the tick that set it.
        if (tick == 2) {
            EXPECT_LT(z.AnimationTimer->remainingTime(), 400);
        }
        if (tick == 11) {
            EXPECT_GT(z.AnimationTimer->remainingTime(), 400);
        }
    }
}

TEST(Zelt, StepOutsideTheTableOnlyCounts)
{
    TZelt z;
    for (const Integer step : {0, 14, -5}) {
        z.FrameStep = step;
        z.AnimationTick(z.AnimationTimer);
        EXPECT_EQ(z.FrameStep, step + 1);
    }
    EXPECT_EQ(visible(z), "I1_9,I2_8,I3_7,I4_6,I5,I10_12,I11,I12");
    EXPECT_EQ(z.AnimationTimer->interval(), 700);
}

TEST(Zelt, StopRaisesI1_9AndARestartResumesAtTheStoredStep)
{
    TZelt z;
    z.StartAnimation();
    for (int i = 0; i < 5; ++i)
        z.AnimationTick(z.AnimationTimer);
    EXPECT_EQ(visible(z), "I5");
    z.LogoForm->I1_9->lower();
    z.StopAnimation();
    EXPECT_FALSE(z.AnimationTimer->isActive());
    EXPECT_EQ(z.FrameStep, 6);
    EXPECT_EQ(z.AnimationTimer->interval(), 200);
    EXPECT_EQ(visible(z), "I1_9,I5");
    EXPECT_EQ(seen(z), z.LogoForm->I1_9);

    z.StartAnimation();
    EXPECT_TRUE(z.AnimationTimer->isActive());
    EXPECT_EQ(visible(z), "I1_9");
    z.AnimationTick(z.AnimationTimer);
    EXPECT_EQ(visible(z), "I1_9,I4_6");
    EXPECT_EQ(seen(z), z.LogoForm->I1_9);
    for (int step = 7; step <= 10; ++step)
        z.AnimationTick(z.AnimationTimer);
    EXPECT_EQ(visible(z), "I10_12");
    EXPECT_EQ(seen(z), z.LogoForm->I10_12);
}

TEST(Zelt, StartWhileRunningKeepsTheCountdownButHidesTheFrame)
{
    TZelt z;
    z.StartAnimation();
    nqtest::PumpUntil([] { return false; }, std::chrono::milliseconds(150));
    z.StartAnimation();
    EXPECT_LT(z.AnimationTimer->remainingTime(), 650);
    z.AnimationTick(z.AnimationTimer);
    z.AnimationTick(z.AnimationTimer);
    z.StartAnimation();
    EXPECT_EQ(visible(z), "");
}

class RecordingShell final : public IShell
{
public:
    explicit RecordingShell(Log& log) : m_log(log) {}
    bool Open(const String& text) override
    {
        m_log.push_back(text);
        return true;
    }

private:
    Log& m_log;
};

// How many pixels of the text (darker than the background) come closer to
// this colour than to the other of blue and black.
int inkPixels(const QImage& image, Qt::GlobalColor colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.lightness() >= 160)
                continue;
            const bool blue = c.blue() - std::max(c.red(), c.green()) > 100;
            count += blue == (colour == Qt::blue) ? 1 : 0;
        }
    return count;
}

class AppDlgTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        previousShell = SetShell(std::make_unique<RecordingShell>(opened));
        previousName = QGuiApplication::applicationDisplayName();
        previousIcon = QApplication::windowIcon();
        QGuiApplication::setApplicationDisplayName("Netquarry");
    }
    void TearDown() override
    {
        SetShell(std::move(previousShell));
        QGuiApplication::setApplicationDisplayName(previousName);
        QApplication::setWindowIcon(previousIcon);
    }
    // Runs Execute; look sees the window while it is up, then end closes it.
    static bool execute(
        TAppDlg& dlg, const std::function<void(TAppDlgForm&)>& look,
        const std::function<void(QDialog&)>& end = [](QDialog& d) { d.close(); })
    {
        QPointer<TAppDlgForm> shown;
        QTimer::singleShot(0, [&] {
            shown = qobject_cast<TAppDlgForm*>(QApplication::activeModalWidget());
            if (!shown) {
                ADD_FAILURE() << "no about window";
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (auto* d = qobject_cast<QDialog*>(w))
                        d->reject();
                return;
            }
            look(*shown);
            end(*shown);
        });
        const bool result = dlg.Execute();
        EXPECT_TRUE(shown.isNull()) << "the window outlived Execute";
        return result;
    }

    static QString today()
    {
        return QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
    }

    Log opened;
    std::unique_ptr<IShell> previousShell;
    QString previousName;
    QIcon previousIcon;
};

TEST_F(AppDlgTest, ShowsTheDefaultsUnderTheApplicationTitle)
{
    QIcon icon; // sizes as the program's own icon has them
    for (const int size : {16, 32, 64, 256}) {
        QPixmap picture(size, size);
        picture.fill(Qt::magenta);
        icon.addPixmap(picture);
    }
    QApplication::setWindowIcon(icon);
    TAppDlg dlg;
    EXPECT_TRUE(dlg.Productname.empty());
    const bool ok = execute(dlg, [&](TAppDlgForm& f) {
        EXPECT_EQ(f.windowTitle(), "About Netquarry");
        EXPECT_EQ(f.Productname->text(), "Netquarry");
        EXPECT_EQ(f.Version->text(), "1.1");
        EXPECT_EQ(f.Copyright->text(), kNetquarryCredit);
        EXPECT_EQ(f.Info->text(), today()); // the day of construction
        EXPECT_EQ(f.Site1->text(), "https://netquarry.example.org/");
        EXPECT_EQ(f.Site2->text(), "https://www.example.org/netquarry/");
        EXPECT_EQ(f.EMail->text(), "netquarry@example.org");
        for (TURLLabel* link : {f.Site1, f.Site2, f.EMail}) {
            SCOPED_TRACE(link->objectName().toStdString());
            EXPECT_GT(inkPixels(link->grab().toImage(), Qt::blue), 0)
                << "the link is drawn in blue";
            EXPECT_EQ(inkPixels(link->grab().toImage(), Qt::black), 0);
        }
        EXPECT_LE(f.ProgramIcon->x() + f.ProgramIcon->pixmap().width(), f.Label1->x())
            << "the icon leaves \"Productname:\" uncovered";
        EXPECT_EQ(f.ProgramIcon->pixmap().size(), QSize(32, 32));
        EXPECT_EQ(f.ProgramIcon->pixmap().toImage().pixelColor(0, 0), QColor(Qt::magenta));
        EXPECT_TRUE(nqtest::PumpUntil([&] { return f.Zelt1->AnimationTimer->isActive(); },
                                      std::chrono::seconds(2)))
            << "activation did not start the logo";
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(dlg.Productname, "Netquarry");
}

TEST_F(AppDlgTest, EmptiedTextsFallBackAtTheNextExecuteAndStay)
{
    TAppDlg dlg;
    dlg.Version = "1.4";
    dlg.Email = "someone@example.test";
    EXPECT_TRUE(execute(
        dlg,
        [&](TAppDlgForm& f) {
            EXPECT_EQ(f.Version->text(), "1.4");
            f.EMail->Click();
            f.Site1->Click();
        },
        [](QDialog& d) { d.accept(); }));
    EXPECT_EQ(opened, (Log{"mailto:someone@example.test", "https://netquarry.example.org/"}));

    dlg.Version.clear();
    dlg.Email.clear();
    dlg.Info.clear();
    execute(dlg, [&](TAppDlgForm& f) {
        EXPECT_EQ(f.Version->text(), "1.1");
        EXPECT_EQ(f.EMail->text(), "netquarry@example.org");
        EXPECT_EQ(f.Info->text(), today());
    });
    EXPECT_EQ(dlg.Version, "1.1");
    EXPECT_EQ(dlg.Email, "netquarry@example.org");
    EXPECT_EQ(dlg.Info, today().toStdString());
}

TEST(AppDlgForm, LogoRunsFromActivationToClose)
{
    TAppDlgForm f;
    EXPECT_FALSE(f.Zelt1->AnimationTimer->isActive());
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(&f, &activate);
    EXPECT_TRUE(f.Zelt1->AnimationTimer->isActive());
    f.reject();
    EXPECT_FALSE(f.Zelt1->AnimationTimer->isActive());
}

} // namespace
