// Public face of the video subsystem: frames, recording, and the views above them.
#pragma once

#include "frame.h"
#include "recording.h"
