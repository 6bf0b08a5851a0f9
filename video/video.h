// Public face of the video subsystem.
#pragma once

#include "frame_convert.h"
#include "video_frame.h"
