#pragma once

#include <chrono>
#include <functional>

namespace nqtest {

// Runs the UI thread's event loop until done() holds or the time is up;
// returns done() at the end. Tests wait this way, never by sleeping.
bool PumpUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Waits, pumping events, until every worker thread has freed itself, so a
// test leaves none behind for the next one (or for the leak checker).
bool WaitForWorkers(std::chrono::milliseconds timeout = std::chrono::seconds(10));

} // namespace nqtest
