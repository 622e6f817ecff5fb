// The animated logo panel (TZelt).

#include "logopanel.h"

#include "logoframes.h"
#include "credits.h"

#include <QLabel>
#include <QTimer>

#include <array>
#include <memory>

namespace {

using Picture = QLabel* TCompForm::*;

struct Step
{
    int interval; // 0 leaves the interval alone
    Picture hide;
    Picture show;
};

// Slow on the resting banner, fast through the tilting line and back,
// slow again for the spark and the word.
constexpr std::array<Step, 13> kSteps{{
    {0, &TCompForm::I12, &TCompForm::I1_9},
    {200, &TCompForm::I1_9, &TCompForm::I2_8},
    {0, &TCompForm::I2_8, &TCompForm::I3_7},
    {0, &TCompForm::I3_7, &TCompForm::I4_6},
    {0, &TCompForm::I4_6, &TCompForm::I5},
    {0, &TCompForm::I5, &TCompForm::I4_6},
    {0, &TCompForm::I4_6, &TCompForm::I3_7},
    {0, &TCompForm::I3_7, &TCompForm::I2_8},
    {0, &TCompForm::I2_8, &TCompForm::I1_9},
    {0, &TCompForm::I1_9, &TCompForm::I10_12},
    {700, &TCompForm::I10_12, &TCompForm::I11},
    {0, &TCompForm::I11, &TCompForm::I10_12},
    {0, &TCompForm::I10_12, &TCompForm::I12},
}};

} // namespace

TZelt::TZelt(QWidget* Owner) : TCompoundPanel(Owner)
{
    auto form = std::make_unique<TCompForm>();
    LogoForm = form.get();
    AdoptForm(form.release());
    AnimationTimer = new QTimer(this);
    connect(AnimationTimer, &QTimer::timeout, this, [this] { AnimationTick(AnimationTimer); });
    AnimationTimer->setInterval(700);
    resize(76, 42);
}

String TZelt::Copyright() const
{
    return kNetquarryCredit;
}

void TZelt::StartAnimation()
{
    for (QLabel* picture : {LogoForm->I12, LogoForm->I2_8, LogoForm->I3_7, LogoForm->I4_6,
                            LogoForm->I5, LogoForm->I10_12, LogoForm->I11})
        picture->hide();
    // The about box starts us on every activation; that must not restart
    // the countdown of a running cycle.
    if (!AnimationTimer->isActive())
        AnimationTimer->start();
}

void TZelt::StopAnimation()
{
    LogoForm->I1_9->show();
    LogoForm->I1_9->raise();
    AnimationTimer->stop();
}

void TZelt::AnimationTick(TObject*)
{
    if (FrameStep >= 1 && FrameStep <= static_cast<Integer>(kSteps.size())) {
        const Step& step = kSteps[static_cast<std::size_t>(FrameStep - 1)];
        // An active QTimer restarts its countdown on a new interval, so the
        // new speed counts from this tick.
        if (step.interval != 0)
            AnimationTimer->setInterval(step.interval);
        (LogoForm->*step.hide)->hide();
        (LogoForm->*step.show)->show();
    }
    // Wraps like the 32-bit counter it is, rather than overflowing.
    FrameStep = FrameStep == 13 ? 1 : static_cast<Integer>(static_cast<Cardinal>(FrameStep) + 1U);
}
