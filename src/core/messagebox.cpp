#include "messagebox.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>

namespace {

MessageSink& sink()
{
    static MessageSink s;
    return s;
}

void deliver(const String& text, TMsgKind kind)
{
    if (sink()) {
        sink()(text, kind);
        return;
    }
    static const char* const names[] = {"warning", "error", "information"};
    std::fprintf(stderr, "netquarry %s: %s\n", names[static_cast<int>(kind)], text.c_str());
}

// Released when the posted call has run or when the event loop throws it away
// unrun (the application is going down), so a waiting worker never hangs.
class Rendezvous
{
public:
    void release()
    {
        const std::lock_guard lock(m_mutex);
        m_done = true;
        m_cond.notify_all();
    }
    void wait()
    {
        std::unique_lock lock(m_mutex);
        m_cond.wait(lock, [this] { return m_done; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_done = false;
};

struct ReleaseOnDestroy
{
    std::shared_ptr<Rendezvous> rendezvous;
    ReleaseOnDestroy(std::shared_ptr<Rendezvous> r) : rendezvous(std::move(r)) {}
    ReleaseOnDestroy(ReleaseOnDestroy&&) = default;
    ReleaseOnDestroy(const ReleaseOnDestroy&) = delete;
    ~ReleaseOnDestroy()
    {
        if (rendezvous)
            rendezvous->release();
    }
};

} // namespace

void ShowMessageBox(const String& text, TMsgKind kind)
{
    if (text.find("invalid url") != String::npos || text.find("already working") != String::npos)
        return;

    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        deliver(text, kind);
        return;
    }

    auto rendezvous = std::make_shared<Rendezvous>();
    auto guard = std::make_shared<ReleaseOnDestroy>(rendezvous);
    QMetaObject::invokeMethod(
        app, [guard, text, kind] { deliver(text, kind); }, Qt::QueuedConnection);
    guard.reset();
    rendezvous->wait();
}

MessageSink SetMessageSink(MessageSink newSink)
{
    return std::exchange(sink(), std::move(newSink));
}
