#include "messagebox.h"
#include "messagecapture.h"
#include "tickcount.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using nqtest::MessageCapture;

TEST(ShowMessageBox, SuppressesOnlyTheSilentRefusals)
{
    MessageCapture capture;
    ShowMessageBox("invalid url : http://x", TMsgKind::Error);
    ShowMessageBox("I'm already working !", TMsgKind::Information);
    ShowMessageBox("Invalid Url : http://x", TMsgKind::Warning);
    ShowMessageBox("I'm Already Working", TMsgKind::Information);
    ShowMessageBox("thread deja assigne : http://x", TMsgKind::Error);

    ASSERT_EQ(capture.messages().size(), 3U);
    EXPECT_EQ(capture.messages()[0].text, "Invalid Url : http://x");
    EXPECT_EQ(capture.messages()[0].kind, TMsgKind::Warning);
    EXPECT_EQ(capture.messages()[1].text, "I'm Already Working");
    EXPECT_EQ(capture.messages()[2].kind, TMsgKind::Error);
}

TEST(ShowMessageBox, AWorkerWaitsWhileTheUiThreadShowsTheBox)
{
    MessageCapture capture;
    std::atomic<bool> returned{false};
    QThread* shownOn = nullptr;
    bool workerStillWaiting = false;
    SetMessageSink([&](const String&, TMsgKind) {
        shownOn = QThread::currentThread();
        workerStillWaiting = !returned.load();
    });

    std::thread worker([&] {
        ShowMessageBox("unable to write to file x", TMsgKind::Error);
        returned = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!returned && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    worker.join();

    EXPECT_TRUE(returned);
    EXPECT_EQ(shownOn, QCoreApplication::instance()->thread());
    EXPECT_TRUE(workerStillWaiting);
}

TEST(TickCount, IsMonotonicMilliseconds)
{
    const std::uint32_t first = GetTickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const std::uint32_t elapsed = GetTickCount() - first; // wraps like the deadlines do
    EXPECT_GE(elapsed, 25U);
    EXPECT_LT(elapsed, 60000U);
}
