// A small volume of its own for a test that needs a full disk: the test runs
// again in a mount namespace of its own, where a tmpfs of the given size lies
// over a folder. Needs root (unshare and mount).
#pragma once

#include <QString>

// The folder of the volume when this process is the run that
// runOnPrivateVolume started; empty in the first run.
QString privateVolume();

// Runs the test `test` ("Suite.Case") of this program again where a volume
// of `size` (tmpfs notation: 64k, 3m) lies over `folder`, and checks that it
// passed.
void runOnPrivateVolume(const char *test, const char *size, const QString &folder);

// Fills the volume `folder` is on with the file `folder`/`name` until no
// byte more fits; false when it never ran full.
bool fillVolume(const QString &folder, const QString &name = QStringLiteral("filler"));
