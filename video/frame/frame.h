// Public face of the frame library: camera frames, their conversions and the
// size the live picture is shown at. Cameras, image analysis, recording and
// the views all build on it; it knows nothing of them.
#pragma once

#include "displayed_video_size.h"
#include "frame_convert.h"
#include "video_frame.h"
