// Helpers shared by the test executables.
#pragma once

#include <QString>

#include <functional>

// The temporary home folder this test process runs in.
QString testHomeFolder();

// Runs the event loop until condition() holds (true) or timeoutMs have
// passed (false).
bool waitFor(const std::function<bool()> &condition, int timeoutMs = 20000);
