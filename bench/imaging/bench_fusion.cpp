// Focus fusion of a synthetic focus stack: a sharp textured picture blurred
// by a depth map into 12 frames, each focused on another depth. Our worker
// fuses the frames one by one as a focus series delivers them; beside it
// Debian's enfuse (contrast weight only, hard mask) fuses the same frames
// from TIFF files. Both results are compared with the sharp picture by PSNR.
// Targets: our PSNR at least enfuse's, our time at least 10 times lower.
#include "imaging.h"
#include "synthetic_frames.h"

#include <QLoggingCategory>
#include <benchmark/benchmark.h>
#include <opencv2/imgcodecs.hpp>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int kStackWidth = 1920;
constexpr int kStackHeight = 1080;
constexpr int kStackFrames = 12;
constexpr double kMaxSigma = 6.0;
constexpr double kSigmaPerDepth = 9.0;  // blur (Gaussian sigma, pixels) per unit of depth out of focus
constexpr double kSigmaStep = 0.5;

struct FocusStack {
    cv::Mat sharp;
    std::vector<cv::Mat> frames;
};

// Depth in [0, 1]: broad hills and a ridge across the picture.
cv::Mat depthMap(int width, int height)
{
    cv::Mat depth(height, width, CV_32F);
    const double twoPi = 6.283185307179586;
    for (int row = 0; row < height; ++row)
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width, v = double(row) / height;
            const double d = 0.5 + 0.32 * std::sin(twoPi * 1.3 * u) * std::cos(twoPi * 0.9 * v)
                             + 0.18 * std::sin(twoPi * (u + 2 * v) / 0.7);
            depth.at<float>(row, x) = float(std::clamp(d, 0.0, 1.0));
        }
    return depth;
}

const FocusStack &focusStack()
{
    static const FocusStack stack = [] {
        FocusStack s;
        s.sharp = texturedPicture(kStackWidth, kStackHeight, 17);
        const cv::Mat depth = depthMap(kStackWidth, kStackHeight);
        // The picture at every blur level; each pixel of a frame lies
        // between the two levels around its sigma.
        std::vector<cv::Mat> levels;
        for (double sigma = 0; sigma <= kMaxSigma + 1e-9; sigma += kSigmaStep) {
            cv::Mat blurred, level;
            if (sigma > 0)
                cv::GaussianBlur(s.sharp, blurred, cv::Size(0, 0), sigma);
            else
                blurred = s.sharp;
            blurred.convertTo(level, CV_32FC3);
            levels.push_back(level);
        }
        for (int k = 0; k < kStackFrames; ++k) {
            const float plane = float(k) / float(kStackFrames - 1);
            cv::Mat position = cv::abs(depth - plane) * (kSigmaPerDepth / kSigmaStep);
            cv::min(position, double(levels.size() - 1), position);
            cv::Mat sum = cv::Mat::zeros(depth.size(), CV_32FC3);
            for (size_t j = 0; j < levels.size(); ++j) {
                // Hat weight: 1 at level j, 0 one level away.
                cv::Mat weight = 1.0 - cv::abs(position - double(j));
                cv::max(weight, 0.0, weight);
                cv::Mat weight3;
                cv::cvtColor(weight, weight3, cv::COLOR_GRAY2BGR);
                sum += levels[j].mul(weight3);
            }
            cv::Mat frame;
            sum.convertTo(frame, CV_8UC3);
            s.frames.push_back(frame);
        }
        return s;
    }();
    return stack;
}

// The worker logs the time of every fusion at debug level.
const bool kQuietDebug = [] {
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    return true;
}();

void picAnalyse(benchmark::State &state)
{
    const FocusStack &stack = focusStack();
    PicAnalyse analyse;
    int accepted = 0;
    for (auto _ : state) {
        analyse.onStart();
        accepted = 0;
        for (const cv::Mat &frame : stack.frames)
            accepted += analyse.analyseFrame(frame) == PicAnalyse::Outcome::Accepted;
    }
    state.counters["psnr_db"] = cv::PSNR(analyse.result(), stack.sharp);
    state.counters["accepted"] = accepted;
    state.counters["best_frame_psnr_db"] = [&] {
        double best = 0;
        for (const cv::Mat &frame : stack.frames)
            best = std::max(best, cv::PSNR(frame, stack.sharp));
        return best;
    }();
}

void enfuse(benchmark::State &state)
{
    const FocusStack &stack = focusStack();
    if (std::system("command -v enfuse > /dev/null 2>&1") != 0) {
        state.SkipWithError("enfuse is not installed (scripts/install-deps installs it)");
        return;
    }
    char pattern[] = "/tmp/vorenta-bench-enfuse-XXXXXX";
    const char *folder = mkdtemp(pattern);
    if (!folder) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string directory(folder);
    std::string command = "enfuse --exposure-weight=0 --saturation-weight=0 --contrast-weight=1 --hard-mask -o '"
                          + directory + "/fused.tif'";
    for (size_t k = 0; k < stack.frames.size(); ++k) {
        const std::string file = directory + "/frame" + std::to_string(k) + ".tif";
        cv::imwrite(file, stack.frames[k]);
        command += " '" + file + "'";
    }
    command += " > /dev/null 2>&1";
    bool failed = false;
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0)
            failed = true;
    }
    const cv::Mat fused = cv::imread(directory + "/fused.tif", cv::IMREAD_COLOR);
    std::filesystem::remove_all(directory);
    if (failed || fused.size() != stack.sharp.size()) {
        state.SkipWithError("enfuse failed");
        return;
    }
    state.counters["psnr_db"] = cv::PSNR(fused, stack.sharp);
}

}  // namespace

// The whole stack per iteration.
BENCHMARK(picAnalyse)->Name("Fusion/PicAnalyse/1080p_12_frames")->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(enfuse)->Name("Fusion/enfuse_contrast_hard_mask/1080p_12_frames")->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
