#include "pic_analyse.h"

#include "frame_convert.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QTimer>
#include <opencv2/imgproc.hpp>
#include <opencv2/ximgproc/edge_filter.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace fusion {
namespace {

// ln(grey + 1) scaled so that grey 255 gives 150.
const cv::Mat &logLuminanceTable()
{
    static const cv::Mat table = [] {
        cv::Mat values(1, 256, CV_32F);
        const double scale = 150.0 / std::log(256.0);
        for (int i = 0; i < 256; ++i)
            values.at<float>(i) = float(std::log(i + 1.0) * scale);
        return values;
    }();
    return table;
}

struct FocusMeasure {
    cv::Mat gradient;  // |Sobel x| + |Sobel y| of the log luminance: the guide of the weights
    cv::Mat measure;   // the gradient spread by the maximum filter and the Gaussian blur
};

FocusMeasure focusMeasure(const cv::Mat &frame)
{
    cv::Mat grey, logLuminance, gx, gy;
    cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    cv::LUT(grey, logLuminanceTable(), logLuminance);
    cv::Sobel(logLuminance, gx, CV_32F, 1, 0, 3);
    cv::Sobel(logLuminance, gy, CV_32F, 0, 1, 3);
    FocusMeasure result;
    result.gradient = cv::abs(gx) + cv::abs(gy);
    cv::Mat spread;
    maxFilter2D(result.gradient, spread, kMaxFilterRadius);
    cv::GaussianBlur(spread, result.measure, cv::Size(kFocusBlurSize, kFocusBlurSize), kFocusBlurSigma, 0.0);
    return result;
}

}  // namespace

double imageSharpness(const cv::Mat &bgr)
{
    if (bgr.empty())
        return 0.0;
    cv::Mat grey, gx, gy;
    if (bgr.channels() == 3)
        cv::cvtColor(bgr, grey, cv::COLOR_BGR2GRAY);
    else
        grey = bgr;
    // Exact in 16 bits: a 3 x 3 Sobel of 8-bit values stays within +-1020.
    cv::Sobel(grey, gx, CV_16S, 1, 0, 3);
    cv::Sobel(grey, gy, CV_16S, 0, 1, 3);
    return (cv::norm(gx, cv::NORM_L1) + cv::norm(gy, cv::NORM_L1)) / kSharpnessDivisor;
}

namespace {

// The area `area` of maxFilter2D(src, radius) into dst of the area's size;
// the filter reads the pixels around the area from src.
void maxFilterRect(const cv::Mat &src, int radius, cv::Rect area, cv::Mat &dst)
{
    src(area).copyTo(dst);
    const int window = 2 * radius + 1;
    const cv::Rect inner = area & cv::Rect(radius, radius, src.cols - 2 * radius, src.rows - 2 * radius);
    if (radius <= 0 || src.rows < window || src.cols < window || inner.empty())
        return;
    // Rectangular dilation is separable; inside the border its window
    // never leaves the picture, so it is the plain square maximum.
    cv::Mat dilated = dst(inner - area.tl());
    cv::dilate(src(inner), dilated, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(window, window)));
}

// A smoothed mask as a weight: clamped to [0, 1], NaN taken as 0. Written
// without branches so that loops over it vectorise.
inline float unitWeight(float w)
{
    return std::min(std::max(0.0f, w != w ? 0.0f : w), 1.0f);
}

// One pixel's weights of n frames, in place (see fusionWeights).
void pixelWeights(float *weight, const float *mask, int n, int mode)
{
    float sum = 0.0f;
    for (int k = 0; k < n; ++k) {
        weight[k] = unitWeight(weight[k]);
        sum += weight[k];
    }
    if (mode != NormalisedWeights)
        return;
    for (int k = 0; k < n; ++k)
        weight[k] = sum < kMinWeightSum ? mask[k] : weight[k] / sum;
}

}  // namespace

void maxFilter2D(const cv::Mat &src, cv::Mat &dst, int radius)
{
    if (src.empty()) {
        dst.release();
        return;
    }
    cv::Mat result;
    maxFilterRect(src, radius, cv::Rect(0, 0, src.cols, src.rows), result);
    dst = result;
}

void fusionWeights(std::vector<cv::Mat> &weights, const std::vector<cv::Mat> &masks, int mode)
{
    const int n = int(weights.size());
    std::vector<float> weight(static_cast<size_t>(n)), mask(static_cast<size_t>(n));
    for (int row = 0; n > 0 && row < weights[0].rows; ++row)
        for (int x = 0; x < weights[0].cols; ++x) {
            for (int k = 0; k < n; ++k) {
                weight[size_t(k)] = weights[size_t(k)].at<float>(row, x);
                mask[size_t(k)] = masks[size_t(k)].at<float>(row, x);
            }
            pixelWeights(weight.data(), mask.data(), n, mode);
            for (int k = 0; k < n; ++k)
                weights[size_t(k)].at<float>(row, x) = weight[size_t(k)];
        }
}

namespace {

// Rows around a pixel that its fused value depends on: Sobel 1, maximum
// filter and Gaussian blur 5 each, the guided filter's two box filters 7
// each; one to spare.
constexpr int kFusionReach = 1 + kMaxFilterRadius + kFocusBlurSize / 2 + 2 * kGuidedRadius + 1;
// Bands are at least this high, so that the reach around them stays a
// modest share of the work.
constexpr int kMinBandRows = 96;

// Fuses rows [first, last) of the frames into the same rows of `out`,
// reading `kFusionReach` rows around them where the picture has them.
void fuseBand(const std::vector<cv::Mat> &frames, cv::Mat &out, int first, int last, int mode)
{
    const int rows = frames[0].rows;
    const int top = std::max(0, first - kFusionReach), bottom = std::min(rows, last + kFusionReach);
    const cv::Rect band(0, top, frames[0].cols, bottom - top);
    const size_t n = frames.size();
    std::vector<FocusMeasure> measures(n);
    for (size_t k = 0; k < n; ++k)
        measures[k] = focusMeasure(frames[k](band));

    // Masks: each pixel goes to the frame of the strictly highest measure,
    // the earliest one on ties.
    cv::Mat best = measures[0].measure.clone();
    cv::Mat owner = cv::Mat::zeros(best.size(), CV_8U);
    for (size_t k = 1; k < n; ++k) {
        const cv::Mat higher = measures[k].measure > best;
        measures[k].measure.copyTo(best, higher);
        owner.setTo(int(k), higher);
    }
    std::vector<cv::Mat> masks(n), weights(n);
    for (size_t k = 0; k < n; ++k) {
        masks[k] = cv::Mat::zeros(best.size(), CV_32F);
        masks[k].setTo(1.0f, owner == int(k));
        cv::ximgproc::guidedFilter(measures[k].gradient, masks[k], weights[k], kGuidedRadius, kGuidedEps, -1);
    }
    fusionWeights(weights, masks, mode);

    // out = sum over k of weight k x frame k, in 32-bit float, rounded and
    // saturated to 8 bits; a row at a time.
    const int columns = band.width;
    std::vector<float> sum(size_t(columns) * 3);
    for (int row = first; row < last; ++row) {
        std::fill(sum.begin(), sum.end(), 0.0f);
        for (size_t k = 0; k < n; ++k) {
            const float *weight = weights[k].ptr<float>(row - top);
            const uint8_t *pixel = frames[k].ptr<uint8_t>(row);
            for (int x = 0; x < columns; ++x)
                for (int c = 0; c < 3; ++c)
                    sum[size_t(3 * x + c)] += weight[x] * float(pixel[3 * x + c]);
        }
        uint8_t *target = out.ptr<uint8_t>(row);
        for (size_t i = 0; i < sum.size(); ++i)
            target[i] = cv::saturate_cast<uint8_t>(sum[i]);
    }
}

}  // namespace

void fuseFocusStack(const std::vector<cv::Mat> &frames, cv::Mat &out, int mode)
{
    out.release();
    if (frames.empty())
        return;
    for (const cv::Mat &frame : frames)
        if (frame.empty() || frame.type() != CV_8UC3 || frame.size() != frames[0].size())
            return;
    // Every step is local, so the picture is fused in horizontal bands, in
    // parallel; each band reads the rows its result depends on, and comes
    // out as the whole picture would.
    cv::Mat result(frames[0].size(), CV_8UC3);
    const int rows = result.rows;
    const int bands = std::max(1, std::min(cv::getNumThreads(), rows / kMinBandRows));
    cv::parallel_for_(cv::Range(0, bands), [&](const cv::Range &range) {
        for (int b = range.start; b < range.end; ++b)
            fuseBand(frames, result, rows * b / bands, rows * (b + 1) / bands, mode);
    });
    out = result;
}

namespace {

const cv::Size kGuidedWindow(2 * kGuidedRadius + 1, 2 * kGuidedRadius + 1);
constexpr int kTile = RunningFusion::kTile;
enum TileState : uint8_t { Outside = 0, Ring = 1, Core = 2 };

// Runs `step(area, kind)` on every run of tiles of one kind along each row
// of tiles, where kind = kindOf(tile state) and kind 0 is left out; rows of
// tiles run in parallel. A step reads whole pictures and writes only its
// area: OpenCV's filters take the neighbours of an area from the picture
// around it, so areas come out as the whole would. Rows of tiles that are
// alike go together, so that the filters read few rows beyond their own.
template <typename Kind, typename Step>
void forTiles(const std::vector<uint8_t> &tiles, int tileCols, cv::Size size, const Kind &kindOf, const Step &step)
{
    const int tileRows = int(tiles.size()) / tileCols;
    const int bandTiles = std::max(1, tileRows / (4 * cv::getNumThreads()));
    const int bands = (tileRows + bandTiles - 1) / bandTiles;
    cv::parallel_for_(cv::Range(0, bands), [&](const cv::Range &range) {
        std::vector<int> kinds(size_t(tileCols) * bandTiles);
        for (int b = range.start; b < range.end; ++b) {
            const int first = b * bandTiles, last = std::min(tileRows, first + bandTiles);
            for (int i = 0; i < (last - first) * tileCols; ++i)
                kinds[size_t(i)] = kindOf(tiles[size_t(first) * tileCols + i]);
            bool alike = true;
            for (int ty = 1; alike && ty < last - first; ++ty)
                alike = std::equal(kinds.begin(), kinds.begin() + tileCols, kinds.begin() + ty * tileCols);
            for (int ty = first; ty < last; ty = alike ? last : ty + 1) {
                const int top = ty * kTile, bottom = std::min(size.height, (alike ? last : ty + 1) * kTile);
                const int *row = &kinds[size_t(ty - first) * tileCols];
                for (int tx = 0, end; tx < tileCols; tx = end) {
                    for (end = tx + 1; end < tileCols && row[end] == row[tx];)
                        ++end;
                    if (row[tx] != 0) {
                        const int left = tx * kTile, right = std::min(size.width, end * kTile);
                        step(cv::Rect(left, top, right - left, bottom - top), row[tx]);
                    }
                }
            }
        }
    });
}

// Kinds of tiles for forTiles.
int inRegion(uint8_t state)
{
    return state != Outside;
}

int inCore(uint8_t state)
{
    return state == Core;
}

int byState(uint8_t state)
{
    return state;
}

int inCoreOrNot(uint8_t state)
{
    return state == Core ? 2 : 1;
}

// A picture of `type` over the memory of `buffer` (continuous, with at least
// as many bytes per pixel).
cv::Mat viewAs(const cv::Mat &buffer, int type)
{
    CV_Assert(buffer.isContinuous() && CV_ELEM_SIZE(type) <= int(buffer.elemSize()));
    return cv::Mat(buffer.rows, buffer.cols, type, buffer.data);
}

// A temporary picture of a step, from a pool per thread that is kept
// between calls (a few megabytes): once grown, the steps of a run allocate
// nothing.
cv::Mat scratch(int slot, cv::Size size, int type)
{
    thread_local std::vector<float> pool[4];
    std::vector<float> &buffer = pool[slot];
    const size_t floats = (size_t(size.area()) * CV_ELEM_SIZE(type) + sizeof(float) - 1) / sizeof(float);
    if (buffer.size() < floats)
        buffer.resize(floats);
    return cv::Mat(size, type, buffer.data());
}

void guidedBox(const cv::Mat &src, cv::Mat &dst, cv::Rect area)
{
    cv::Mat target = dst(area);
    cv::boxFilter(src(area), target, CV_32F, kGuidedWindow, cv::Point(-1, -1), true, cv::BORDER_REFLECT);
}

// Row kernels of the running fusion: plain loops over unaliased pointers,
// so that they vectorise, for AVX2 too where the processor has it.
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__)
#define ROW_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define ROW_KERNEL
#endif

// gradient = |Sobel x| (in place) + |Sobel y|.
ROW_KERNEL void gradientRow(float *__restrict gradient, const float *__restrict sobelY, int n)
{
    for (int x = 0; x < n; ++x)
        gradient[x] = std::abs(gradient[x]) + std::abs(sobelY[x]);
}

// The inputs of the box filter of the guide's statistics: gradient, gradient squared.
ROW_KERNEL void pairsRow(const float *__restrict gradient, float *__restrict pairs, int n)
{
    for (int x = 0; x < n; ++x) {
        pairs[2 * x] = gradient[x];
        pairs[2 * x + 1] = gradient[x] * gradient[x];
    }
}

// Box means of gradient and gradient squared, in place, become the mean
// and 1 / (variance + eps).
ROW_KERNEL void guideRow(float *__restrict guide, int n)
{
    for (int x = 0; x < n; ++x)
        guide[2 * x + 1] = 1.0f / (guide[2 * x + 1] - guide[2 * x] * guide[2 * x] + float(kGuidedEps));
}

// The frame's mask (1 where its measure is strictly higher), and the box
// filter inputs of both guided filters but the mask: the frame's gradient
// and its square, each picture's gradient times its mask. Returns whether
// the frame won a pixel.
ROW_KERNEL int maskRow(const float *__restrict measureR, const float *__restrict measureF, const float *__restrict guideR,
            const float *__restrict guideF, uint8_t *__restrict mask, float *__restrict in, int n)
{
    int won = 0;
    for (int x = 0; x < n; ++x) {
        const int wins = measureF[x] > measureR[x];
        const float frameMask = float(wins);
        mask[x] = uint8_t(wins);
        in[4 * x] = guideF[x];
        in[4 * x + 1] = guideF[x] * guideF[x];
        in[4 * x + 2] = guideF[x] * frameMask;
        in[4 * x + 3] = guideR[x] * (1.0f - frameMask);
        won |= wins;
    }
    return won;
}

// From the box means of maskRow's inputs and of the frame's mask, a and b of
// both filters, in place of the means.
ROW_KERNEL void coefficientsRow(const float *__restrict guideR, const float *__restrict maskMean, float *__restrict q, int n)
{
    for (int x = 0; x < n; ++x) {
        const float meanF = q[4 * x], scaleF = 1.0f / (q[4 * x + 1] - meanF * meanF + float(kGuidedEps));
        const float meanR = guideR[2 * x], scaleR = guideR[2 * x + 1];
        const float maskF = maskMean[x], maskR = 1.0f - maskMean[x];
        const float aF = (q[4 * x + 2] - meanF * maskF) * scaleF, bF = maskF - aF * meanF;
        const float aR = (q[4 * x + 3] - meanR * maskR) * scaleR, bR = maskR - aR * meanR;
        q[4 * x] = aF;
        q[4 * x + 1] = bF;
        q[4 * x + 2] = aR;
        q[4 * x + 3] = bR;
    }
}

// The normalised weights of result and frame from the box means of a and b;
// `sum` keeps the sum of the clamped weights. Returns whether any sum is
// below kMinWeightSum: those pixels are left to the caller.
ROW_KERNEL int weightsRow(const float *__restrict ab, const float *__restrict guideR, const float *__restrict guideF,
               float *__restrict weightR, float *__restrict weightF, float *__restrict sum, int n)
{
    int empty = 0;
    for (int x = 0; x < n; ++x) {
        const float wR = unitWeight(ab[4 * x + 2] * guideR[x] + ab[4 * x + 3]);
        const float wF = unitWeight(ab[4 * x] * guideF[x] + ab[4 * x + 1]);
        sum[x] = wR + wF;
        const float divisor = std::max(sum[x], kMinWeightSum);
        weightR[x] = wR / divisor;
        weightF[x] = wF / divisor;
        empty |= sum[x] < kMinWeightSum;
    }
    return empty;
}

// mixed = weightR x pixelR + weightF x pixelF for every channel, in float.
ROW_KERNEL void blendRow(const float *__restrict weightR, const float *__restrict weightF, const uint8_t *__restrict pixelR,
              const uint8_t *__restrict pixelF, float *__restrict spreadF, float *__restrict mixed, int n)
{
    for (int x = 0; x < n; ++x)
        for (int c = 0; c < 3; ++c) {
            mixed[3 * x + c] = weightR[x];
            spreadF[3 * x + c] = weightF[x];
        }
    for (int i = 0; i < 3 * n; ++i)
        mixed[i] = mixed[i] * float(pixelR[i]) + spreadF[i] * float(pixelF[i]);
}

// Sum of |a| + |b|.
ROW_KERNEL int absSum(const int16_t *__restrict a, const int16_t *__restrict b, int n)
{
    int sum = 0;
    for (int x = 0; x < n; ++x)
        sum += std::abs(int(a[x])) + std::abs(int(b[x]));
    return sum;
}

}  // namespace

void RunningFusion::clear()
{
    *this = RunningFusion();
}

void RunningFusion::allocate(cv::Size size)
{
    std::vector<std::pair<cv::Mat *, int>> planes = {
        {&quadA_, CV_32FC4}, {&quadB_, CV_32FC4}, {&maskMean_, CV_32F}, {&mask_, CV_8U}};
    for (Measure *m : {&known_, &fresh_})
        planes.insert(planes.end(), {{&m->grey, CV_8U}, {&m->gradient, CV_32F}, {&m->measure, CV_32F}});
    planes.push_back({&known_.guide, CV_32FC2});
    // All planes in one block of memory. A run touches about 70 bytes per
    // pixel at once; on Linux the block asks for huge pages, as faulting it
    // in 4 KB pages costs as much as several fusion steps on virtual
    // machines.
    constexpr size_t kAlignment = size_t(2) << 20;
    size_t bytes = 0;
    for (const auto &plane : planes)
        bytes += (size_t(size.area()) * CV_ELEM_SIZE(plane.second) + 63) / 64 * 64;
    bytes = (bytes + kAlignment - 1) / kAlignment * kAlignment;
    if (bytes != arenaBytes_) {
        arena_.reset(static_cast<uint8_t *>(std::aligned_alloc(kAlignment, bytes)));
        if (!arena_)
            throw std::bad_alloc();
        arenaBytes_ = bytes;
#ifdef MADV_HUGEPAGE
        madvise(arena_.get(), bytes, MADV_HUGEPAGE);
#endif
    }
    uint8_t *next = arena_.get();
    for (const auto &plane : planes) {
        *plane.first = cv::Mat(size, plane.second, next);
        next += (size_t(size.area()) * CV_ELEM_SIZE(plane.second) + 63) / 64 * 64;
    }
    tileCols_ = (size.width + kTile - 1) / kTile;
    tileRows_ = (size.height + kTile - 1) / kTile;
    all_.assign(size_t(tileCols_) * tileRows_, Core);
    knownSums_.assign(all_.size(), 0);
    candidateSums_.assign(all_.size(), 0);
}

RunningFusion::TileMap RunningFusion::ringed(const TileMap &core) const
{
    TileMap tiles(core.size(), Outside);
    for (int ty = 0; ty < tileRows_; ++ty)
        for (int tx = 0; tx < tileCols_; ++tx) {
            if (!core[size_t(ty) * tileCols_ + tx])
                continue;
            for (int y = std::max(0, ty - 1); y <= std::min(tileRows_ - 1, ty + 1); ++y)
                for (int x = std::max(0, tx - 1); x <= std::min(tileCols_ - 1, tx + 1); ++x) {
                    uint8_t &state = tiles[size_t(y) * tileCols_ + x];
                    state = std::max<uint8_t>(state, Ring);
                }
            tiles[size_t(ty) * tileCols_ + tx] = Core;
        }
    return tiles;
}

double RunningFusion::start(const cv::Mat &first)
{
    allocate(first.size());
    result_ = first.clone();
    candidate_.release();
    measure(known_, &result_, all_);
    return sharpness(known_.grey, all_, knownSums_);
}

void RunningFusion::measure(Measure &m, const cv::Mat *bgr, const TileMap &tiles,
                            const std::function<void(cv::Rect)> &then)
{
    const cv::Rect picture(cv::Point(), m.grey.size());
    const bool guide = !m.guide.empty();
    cv::Mat pairs = viewAs(quadA_, CV_32FC2);
    // The gradient of the core, from the log luminance of the core and one
    // pixel around it; the ring's part is the inputs of the guide's box filter.
    forTiles(tiles, tileCols_, picture.size(), byState, [&](cv::Rect area, int state) {
        if (state == Core) {
            const cv::Rect wide = cv::Rect(area.x - 1, area.y - 1, area.width + 2, area.height + 2) & picture;
            const cv::Rect inWide = area - wide.tl();
            cv::Mat grey = m.grey(wide);
            if (bgr) {
                grey = scratch(0, wide.size(), CV_8U);
                cv::cvtColor((*bgr)(wide), grey, cv::COLOR_BGR2GRAY);
                cv::Mat target = m.grey(area);
                grey(inWide).copyTo(target);
            }
            cv::Mat logLuminance = scratch(1, wide.size(), CV_32F), gy = scratch(2, area.size(), CV_32F);
            cv::LUT(grey, logLuminanceTable(), logLuminance);
            cv::Mat gx = m.gradient(area);
            cv::Sobel(logLuminance(inWide), gx, CV_32F, 1, 0, 3);
            cv::Sobel(logLuminance(inWide), gy, CV_32F, 0, 1, 3);
            for (int row = 0; row < area.height; ++row)
                gradientRow(m.gradient.ptr<float>(area.y + row, area.x), gy.ptr<float>(row), area.width);
        }
        if (guide)
            for (int row = area.y; row < area.br().y; ++row)
                pairsRow(m.gradient.ptr<float>(row, area.x), pairs.ptr<float>(row, area.x), area.width);
    });
    // The focus measure of the core, from the maximum-filtered gradient of
    // the core and the Gaussian's reach around it.
    const int reach = kFocusBlurSize / 2;
    forTiles(tiles, tileCols_, picture.size(), inCore, [&](cv::Rect area, int) {
        const cv::Rect wide =
            cv::Rect(area.x - reach, area.y - reach, area.width + 2 * reach, area.height + 2 * reach) & picture;
        cv::Mat spread = scratch(1, wide.size(), CV_32F);
        maxFilterRect(m.gradient, kMaxFilterRadius, wide, spread);
        cv::Mat target = m.measure(area);
        cv::GaussianBlur(spread(area - wide.tl()), target, cv::Size(kFocusBlurSize, kFocusBlurSize), kFocusBlurSigma,
                         0.0);
        if (guide) {
            guidedBox(pairs, m.guide, area);
            for (int row = area.y; row < area.br().y; ++row)
                guideRow(m.guide.ptr<float>(row, area.x), area.width);
        }
        if (then)
            then(area);
    });
}

double RunningFusion::sharpness(const cv::Mat &grey, const TileMap &tiles, std::vector<long long> &sums)
{
    cv::Mat sobelX = viewAs(quadA_, CV_16S), sobelY = viewAs(quadB_, CV_16S);
    forTiles(tiles, tileCols_, grey.size(), inRegion, [&](cv::Rect area, int) {
        cv::Mat gx = sobelX(area), gy = sobelY(area);
        // Exact in 16 bits: a 3 x 3 Sobel of 8-bit values stays within +-1020.
        cv::Sobel(grey(area), gx, CV_16S, 1, 0, 3);
        cv::Sobel(grey(area), gy, CV_16S, 0, 1, 3);
        for (int ty = area.y / kTile; ty * kTile < area.br().y; ++ty)
            for (int tx = area.x / kTile; tx * kTile < area.br().x; ++tx) {
                const cv::Rect tile = cv::Rect(tx * kTile, ty * kTile, kTile, kTile) & area;
                long long sum = 0;
                for (int row = tile.y; row < tile.br().y; ++row)
                    sum += absSum(sobelX.ptr<int16_t>(row, tile.x), sobelY.ptr<int16_t>(row, tile.x), tile.width);
                sums[size_t(ty) * tileCols_ + tx] = sum;
            }
    });
    long long total = 0;
    for (long long sum : sums)
        total += sum;
    return double(total) / kSharpnessDivisor;
}

double RunningFusion::fuse(const cv::Mat &frame)
{
    CV_Assert(!result_.empty() && frame.size() == result_.size() && frame.type() == CV_8UC3);
    // A candidate still shared with a caller (an earlier result it kept)
    // is left to the caller.
    if (candidate_.u && candidate_.u->refcount > 1)
        candidate_.release();
    candidate_.create(result_.size(), CV_8UC3);

    // Guided filter of each mask with its own picture's gradient as guide:
    // q = mean(a) x guide + mean(b), a = cov(guide, mask) / (var(guide) +
    // eps), b = mean(mask) - a x mean(guide). The masks are complementary:
    // the frame takes the pixels where its measure is strictly higher.
    const cv::Size size = result_.size();
    const Measure &r = known_, &f = fresh_;
    TileMap won(all_.size(), Outside);
    measure(fresh_, &frame, all_, [&](cv::Rect area) {
        for (int row = area.y; row < area.br().y; ++row)
            for (int x = area.x; x < area.br().x; x += kTile) {
                const int width = std::min(kTile, area.br().x - x);
                if (maskRow(r.measure.ptr<float>(row, x), f.measure.ptr<float>(row, x), r.gradient.ptr<float>(row, x),
                            f.gradient.ptr<float>(row, x), mask_.ptr<uint8_t>(row, x), quadA_.ptr<float>(row, x),
                            width))
                    won[size_t(row / kTile) * tileCols_ + x / kTile] = Core;
            }
    });
    // A mask reaches 2 x kGuidedRadius pixels, within the next tile: beyond
    // that the frame's weight is 0, the normalised weights give the result,
    // and the tile is copied. The a and b of the fused tiles come from one
    // more tile around them.
    fused_ = ringed(ringed(won));
    forTiles(fused_, tileCols_, size, inRegion, [&](cv::Rect area, int) {
        guidedBox(quadA_, quadB_, area);
        guidedBox(mask_, maskMean_, area);
        for (int row = area.y; row < area.br().y; ++row)
            coefficientsRow(r.guide.ptr<float>(row, area.x), maskMean_.ptr<float>(row, area.x),
                            quadB_.ptr<float>(row, area.x), area.width);
    });
    forTiles(fused_, tileCols_, size, inCoreOrNot, [&](cv::Rect area, int kind) {
        cv::Mat target = candidate_(area), grey = fresh_.grey(area);
        if (kind != 2) {
            result_(area).copyTo(target);
            known_.grey(area).copyTo(grey);
            return;
        }
        guidedBox(quadB_, quadA_, area);
        const int n = area.width;
        float *weightR = scratch(0, cv::Size(9 * n, 1), CV_32F).ptr<float>();
        float *weightF = weightR + n, *sum = weightF + n, *spreadF = sum + n, *mixed = spreadF + 3 * n;
        for (int row = area.y; row < area.br().y; ++row) {
            if (weightsRow(quadA_.ptr<float>(row, area.x), r.gradient.ptr<float>(row, area.x),
                           f.gradient.ptr<float>(row, area.x), weightR, weightF, sum, n)) {
                // Weights that say nothing: the pixel goes to its mask.
                const uint8_t *mask = mask_.ptr<uint8_t>(row, area.x);
                for (int x = 0; x < n; ++x)
                    if (sum[x] < kMinWeightSum) {
                        weightF[x] = mask[x];
                        weightR[x] = 1.0f - weightF[x];
                    }
            }
            blendRow(weightR, weightF, result_.ptr<uint8_t>(row, area.x), frame.ptr<uint8_t>(row, area.x), spreadF,
                     mixed, n);
            // Rounded and saturated as saturate_cast does.
            cv::Mat targetRow = candidate_(cv::Rect(area.x, row, n, 1));
            cv::Mat(1, n, CV_32FC3, mixed).convertTo(targetRow, CV_8U);
        }
        cv::cvtColor(target, grey, cv::COLOR_BGR2GRAY);
    });
    candidateSums_ = knownSums_;
    return sharpness(fresh_.grey, fused_, candidateSums_);
}

void RunningFusion::accept()
{
    // The candidate differs from the result only in the fused tiles; what
    // the result knows changes within the reach of the measure's filters,
    // the next tile.
    std::swap(result_, candidate_);
    std::swap(known_.grey, fresh_.grey);
    knownSums_.swap(candidateSums_);
    measure(known_, nullptr, ringed(fused_));
}

}  // namespace fusion

using namespace fusion;

PicAnalyse::PicAnalyse(QObject *parent) : QObject(parent)
{
}

void PicAnalyse::onStart()
{
    running_ = true;
    ++run_;
    rejections_ = 0;
    bestSharpness_ = 0.0;
    fusion_.clear();
}

void PicAnalyse::onStop()
{
    running_ = false;
    ++run_;
    fusion_.clear();
    shown_ = QImage();
}

PicAnalyse::Outcome PicAnalyse::analyseFrame(const cv::Mat &frame)
{
    if (!running_)
        return Outcome::Ignored;
    if (frame.empty() || frame.type() != CV_8UC3)
        return Outcome::Skipped;
    if (fusion_.empty() || fusion_.result().size() != frame.size()) {
        bestSharpness_ = fusion_.start(frame);
        rejections_ = 0;
        emit showDstPix(resultImage());
        return Outcome::First;
    }
    QElapsedTimer timer;
    timer.start();
    const double sharpness = fusion_.fuse(frame);
    qDebug() << "Fusion analyse use time:" << timer.elapsed();
    if (sharpness > bestSharpness_ + kAcceptanceMargin) {
        fusion_.accept();
        bestSharpness_ = sharpness;
        rejections_ = 0;
        emit showDstPix(resultImage());
        return Outcome::Accepted;
    }
    ++rejections_;
    return Outcome::Rejected;
}

QImage PicAnalyse::resultImage()
{
    // The memory of the last picture is used again once nobody holds it:
    // a new picture of a large frame costs more in page faults than in
    // conversion.
    const cv::Mat &result = fusion_.result();
    if (shown_.width() != result.cols || shown_.height() != result.rows || !shown_.isDetached())
        shown_ = QImage(result.cols, result.rows, QImage::Format_RGB888);
    cv::Mat rgb(result.rows, result.cols, CV_8UC3, shown_.bits(), size_t(shown_.bytesPerLine()));
    cv::cvtColor(result, rgb, cv::COLOR_BGR2RGB);
    return shown_;
}

int PicAnalyse::replyDelay(Outcome outcome) const
{
    if (outcome == Outcome::First || (outcome == Outcome::Rejected && rejections_ >= kRejectionsBeforePausing))
        return kSettlingPauseMs;
    return 0;
}

void PicAnalyse::onRecvVideoFrame(VideoFrame frame)
{
    const Outcome outcome = analyseFrame(videoFrameToMat(frame));
    if (outcome == Outcome::Ignored)
        return;
    const int delay = replyDelay(outcome);
    if (delay == 0) {
        emit getNextVideoFrame();
        return;
    }
    // A timer rather than a nested event loop: a stop or start arriving
    // meanwhile is handled in order, and the late reply of a finished run
    // is dropped.
    const quint64 run = run_;
    QTimer::singleShot(delay, this, [this, run] {
        if (running_ && run == run_)
            emit getNextVideoFrame();
    });
}
