// ScopeExit: runs a function when a scope ends, however it ends.

#pragma once

#include <utility>

// Runs a step however the scope is left, also by an exception from an event
// handler.
template <typename F> class ScopeExit
{
public:
    explicit ScopeExit(F f) : m_f(std::move(f)) {}
    ~ScopeExit() { m_f(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    F m_f;
};
