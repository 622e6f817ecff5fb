// The animated logo panel (TZelt).

#pragma once

#include "compoundpanel.h"
#include "nqtypes.h"

class QTimer;
class TCompForm;

// The about box's logo: the eight frames of TCompForm, adopted and shown
// one at a time in a thirteen-frame cycle of 4.6 s with two speeds.
class TZelt : public TCompoundPanel
{
    Q_OBJECT

public:
    explicit TZelt(QWidget* Owner = nullptr);

    // The hosted form, reaching the pictures by name; owned as HostedForm.
    TCompForm* LogoForm = nullptr;
    // Owned by the panel; disabled until StartAnimation.
    QTimer* AnimationTimer = nullptr;
    // The step the next tick performs, 1 to 13; other values only count up.
    Integer FrameStep = 1;

    String Copyright() const;
    void SetCopyright(const String&) {}

    // Hides every frame but I1_9 (without showing it) and lets the timer
    // run; a running timer keeps its countdown.
    void StartAnimation();
    // Puts I1_9 on top and stops the timer; FrameStep and the interval stay.
    void StopAnimation();
    void AnimationTick(TObject* Sender);
};
