#pragma once
// Calls that other threads hand to the UI thread, which runs them while it
// waits for those threads: the portable form of queuing asynchronous
// procedure calls to a thread. Only a thread that waits with
// WaitForConditionOrUICalls (alertable) or calls RunQueuedUICalls runs them;
// the waiting routines of this runtime do that only on the UI thread.
#include <cstddef>
#include <functional>

// Queues a call; false when it could not be queued (out of memory).
bool QueueUICall(std::function<void()> call);

// Runs the calls queued so far on the calling thread, in order; returns how
// many ran.
size_t RunQueuedUICalls();

// Drops every queued call without running it.
void DiscardQueuedUICalls();

// Blocks until `ready()` holds (true), or, when `alertable`, until at least
// one call is queued (false; the caller then runs them). `ready` is evaluated
// with the queue's lock held and must be cheap. Whoever changes what it reads
// calls NotifyUICallQueueWaiters afterwards.
bool WaitForConditionOrUICalls(const std::function<bool()>& ready, bool alertable);
void NotifyUICallQueueWaiters();
