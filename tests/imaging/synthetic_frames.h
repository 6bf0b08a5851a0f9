// Synthetic pictures and frames for the image-analysis tests and benchmarks.
#pragma once

#include "frame_convert.h"

#include <opencv2/imgproc.hpp>

#include <cstring>
#include <random>
#include <vector>

// An I420 frame of an 8-bit B, G, R picture of any size (odd sizes repeat
// the last column and row for the chroma).
inline VideoFrame frameFrom(const cv::Mat &bgr)
{
    cv::Mat even;
    cv::copyMakeBorder(bgr, even, 0, bgr.rows % 2, 0, bgr.cols % 2, cv::BORDER_REPLICATE);
    cv::Mat i420;
    cv::cvtColor(even, i420, cv::COLOR_BGR2YUV_I420);
    const int width = bgr.cols, height = bgr.rows;
    const int chromaWidth = even.cols / 2, chromaHeight = even.rows / 2;
    std::vector<uint8_t> y(size_t(width) * height);
    for (int row = 0; row < height; ++row)
        std::memcpy(&y[size_t(row) * width], i420.ptr(row), size_t(width));
    const uint8_t *u = i420.ptr(even.rows);
    const uint8_t *v = u + size_t(chromaWidth) * chromaHeight;
    return makeVideoFrameFromPlanes(width, height, y.data(), width, u, chromaWidth, v, chromaWidth);
}

// A colourful picture with detail at every scale, from broad blotches to
// single-pixel grain, like a stained specimen: every region is textured.
inline cv::Mat texturedPicture(int width, int height, uint32_t seed)
{
    cv::RNG random(seed);
    cv::Mat sum(height, width, CV_32FC3, cv::Scalar::all(0));
    for (int cell : {64, 16, 4, 1}) {
        cv::Mat noise((height + cell - 1) / cell + 1, (width + cell - 1) / cell + 1, CV_32FC3);
        random.fill(noise, cv::RNG::UNIFORM, -1.0, 1.0);
        cv::Mat layer;
        cv::resize(noise, layer, cv::Size(noise.cols * cell, noise.rows * cell), 0, 0, cv::INTER_CUBIC);
        sum += layer(cv::Rect(0, 0, width, height)) * (cell == 1 ? 14.0 : 10.0 + cell * 0.5);
    }
    cv::Mat picture;
    sum.convertTo(picture, CV_8UC3, 1.0, 128.0);
    for (int i = 0; i < width * height / 6000; ++i) {
        const cv::Point centre(random.uniform(0, width), random.uniform(0, height));
        const cv::Scalar colour(random.uniform(20, 235), random.uniform(20, 235), random.uniform(20, 235));
        cv::circle(picture, centre, random.uniform(4, 40), colour, random.uniform(1, 4), cv::LINE_AA);
    }
    return picture;
}
