// Helpers shared by the test executables.
#pragma once

#include <QString>

class QObject;

#include <functional>

// The temporary home folder this test process runs in.
QString testHomeFolder();

// Runs the event loop until condition() holds (true) or timeoutMs have
// passed (false).
bool waitFor(const std::function<bool()> &condition, int timeoutMs = 20000);

// Whether the thread of `object` has run what was queued on it before this
// call (a slot that pauses in an event loop of its own runs later calls
// within it: those don't count), and this thread what it sent meanwhile.
bool threadCaughtUp(QObject *object);
