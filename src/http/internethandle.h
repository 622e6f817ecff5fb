// The layer's handle kinds and the common base of its handles.

#pragma once

#include <atomic>

namespace inet {

enum class HandleKind
{
    Root,
    Connect,
    Request,
};

// What every handle of the layer shares: its kind, and a close that any
// thread may call while another thread is inside a call on the handle.
class InternetHandle
{
public:
    explicit InternetHandle(HandleKind kind) : m_kind(kind) {}
    virtual ~InternetHandle() = default;
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;

    HandleKind kind() const { return m_kind; }
    bool closed() const { return m_closed.load(std::memory_order_acquire); }
    void close()
    {
        m_closed.store(true, std::memory_order_release);
        wake();
    }

protected:
    // Runs on the closing thread, possibly while another thread is blocked
    // in a call on this handle.
    virtual void wake() {}

private:
    const HandleKind m_kind;
    std::atomic<bool> m_closed{false};
};

} // namespace inet
