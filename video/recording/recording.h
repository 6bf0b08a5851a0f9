// Public face of recording: the H.264 encoder, the MP4 recorder and the
// recordings that finish after their camera has gone.
#pragma once

#include "finishing_recorders.h"
#include "h264_encoder.h"
#include "mp4_finalise.h"
#include "video_recorder.h"
