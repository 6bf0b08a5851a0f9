// Building frames from the records of the capture layer and the device
// library, and turning frames into pictures.
#pragma once

#include "video_frame.h"

#include <QImage>
#include <opencv2/core.hpp>

struct cap_frame;
struct dec_frame;

// Copies a USB capture frame record (formats 4 and 5, planar 4:2:0) into a new
// frame with tight strides. Any other format, or a record that does not
// describe a sane picture (size <= 0, a missing plane, a stride smaller than
// its plane's width), gives an empty frame and a log line.
VideoFrame makeVideoFrame(const cap_frame &record);
// The same for a decoded network frame (format 6, separate Y, U and V planes).
VideoFrame makeVideoFrame(const dec_frame &record);

// Copies three planes of the given geometry into a new frame; the common
// step of both makers, also used by code that already holds plain planes.
VideoFrame makeVideoFrameFromPlanes(int width, int height, const uint8_t *y, int strideY, const uint8_t *u,
                                    int strideU, const uint8_t *v, int strideV);

// BGR, 3 channels, 8 bits; empty for an empty or non-I420 frame.
cv::Mat videoFrameToMat(const VideoFrame &frame);
// RGB888 owning its pixels; null for an empty or non-I420 frame.
QImage videoFrameToImage(const VideoFrame &frame);
