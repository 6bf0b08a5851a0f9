// Helpers shared by the test executables.
#pragma once

#include <QString>

// The temporary home folder this test process runs in.
QString testHomeFolder();
