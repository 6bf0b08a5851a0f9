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
// call, and this thread what it sent meanwhile. False also when the probe ran
// inside a nested event loop: a slot of that thread is waiting in one, and
// anything could run in its middle.
bool threadCaughtUp(QObject *object);

// The same for a camera, whose slots that wait for the device go on from a
// timer: their second halves have run too.
template <typename Camera>
bool cameraCaughtUp(Camera *camera)
{
    return threadCaughtUp(camera) && waitFor([camera] { return !camera->isContinuing(); })
           && threadCaughtUp(camera);
}
