// Public face of the core services every subsystem uses: the log, the blocking
// wait, the crash-dump holder and the settings store.
#pragma once

#include "crash_dumps.h"
#include "log.h"
#include "settings_store.h"
#include "termination_signals.h"
