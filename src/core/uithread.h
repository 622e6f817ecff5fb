// Hand-off of work from a worker thread to the UI thread.

#pragma once

#include <functional>

// Runs fn on the UI thread (the application object's thread) and waits for
// it. On the UI thread itself, or when there is no application object, fn
// runs at once. When the event loop throws the call away unrun (the
// application is going down) the wait ends all the same, so a worker never
// hangs on a UI thread that has stopped listening. An exception from fn goes
// to the default handler on the UI thread; it never crosses the event loop.
void RunOnUiThreadAndWait(std::function<void()> fn);

// Queues fn for the UI thread and returns at once; fn runs there in the order
// of the calls, or, when there is no application object or it is going
// down, not at all.
void PostToUiThread(std::function<void()> fn);

// Called on the UI thread before workers start (the workers do it): their
// calls then reach the UI thread through a queue that ThreadSanitizer can
// follow. Without it they still arrive, through Qt's own queue.
void PrepareUiThreadCalls();

// True on the application object's thread, or when there is none.
bool IsUiThread();
