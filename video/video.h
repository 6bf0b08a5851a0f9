// Public face of the video subsystem.
#pragma once

#include "frame_convert.h"
#include "h264_encoder.h"
#include "video_frame.h"
#include "video_recorder.h"
