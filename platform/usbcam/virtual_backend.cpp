#include "virtual_backend.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>

namespace usbcam {
namespace {

constexpr int kTextureBits = 11;
constexpr int kTextureSize = 1 << kTextureBits;      // luma texture side, pixels
constexpr int kTextureMask = kTextureSize - 1;
constexpr int kChromaSize = kTextureSize / 2;
constexpr int kChromaMask = kChromaSize - 1;
constexpr int kControlCount = int(Control::Count);
constexpr int kSharpFocus = 200;    // focus value of the flat sample, and the relief's middle height
constexpr int kMaxBlurRadius = 6;   // pixels
constexpr int kReliefFocusStep = 20;  // focus units per pixel of blur radius on the relief

struct ControlSpec {
    bool present;
    ControlRange range;
};

// Ranges and defaults of an E530 camera board, plus zoom and defog.
const ControlSpec kSpecs[kControlCount] = {
    {true, {0, 1, 1}},       // ExposureMode
    {true, {0, 333, 150}},   // ExposureTime
    {true, {0, 33, 0}},      // ExposureGain
    {true, {0, 250, 56}},    // ExposureCompensation
    {true, {0, 1, 1}},       // WhiteBalanceMode
    {true, {1, 4095, 628}},  // WhiteBalanceRed
    {true, {1, 4095, 256}},  // WhiteBalanceGreen
    {true, {1, 4095, 421}},  // WhiteBalanceBlue
    {true, {1, 400, 200}},   // Focus
    {true, {0, 2, 1}},       // FocusMode
    {true, {0, 200, 0}},     // Zoom: beyond the E530, so that zoom models can be tried
    {true, {0, 1, 0}},       // Demist
    {true, {0, 100, 50}},    // Hue
    {true, {0, 255, 128}},   // Saturation
    {true, {0, 100, 50}},    // Contrast
    {true, {0, 15, 8}},      // Sharpness
    {true, {0, 3, 1}},       // Gamma
    {true, {0, 1, 0}},       // Flip
    {true, {0, 1, 0}},       // Mirror
    {true, {0, 1, 0}},       // Flicker
};

// The stage the environment asks for: VORENTA_VIRTUAL_PAN="dx,dy" (pixels per
// frame, each within +-kMaxPan) and VORENTA_VIRTUAL_RELIEF=1. Anything else
// leaves the default: the slow drift and a flat sample.
VirtualStage stageFromEnvironment()
{
    VirtualStage stage;
    if (const char *pan = std::getenv("VORENTA_VIRTUAL_PAN")) {
        int dx = 0, dy = 0;
        char end = 0;
        if (std::sscanf(pan, " %d , %d %c", &dx, &dy, &end) == 2 && std::abs(dx) <= kMaxPan
            && std::abs(dy) <= kMaxPan) {
            stage.panX = dx;
            stage.panY = dy;
        }
    }
    const char *relief = std::getenv("VORENTA_VIRTUAL_RELIEF");
    stage.relief = relief && std::strcmp(relief, "1") == 0;
    return stage;
}

struct VirtualState {
    std::atomic<int> values[kControlCount];
    std::atomic<int> regionX{8};
    std::atomic<int> regionY{7};
    std::atomic<bool> present{true};
    // Raised on every unplug, so that handles and streams of the old device
    // stay dead after it comes back.
    std::atomic<int> generation{0};
    std::atomic<int> panX{0};
    std::atomic<int> panY{0};
    std::atomic<bool> relief{false};

    VirtualState() { reset(); }
    void reset()
    {
        for (int i = 0; i < kControlCount; ++i)
            values[i] = kSpecs[i].present ? kSpecs[i].range.defaultValue : -1;
        regionX = 8;
        regionY = 7;
        setStage(stageFromEnvironment());
    }
    void setStage(const VirtualStage &stage)
    {
        panX = std::clamp(stage.panX, -kMaxPan, kMaxPan);
        panY = std::clamp(stage.panY, -kMaxPan, kMaxPan);
        relief = stage.relief;
    }
    VirtualStage stage() const { return VirtualStage{panX, panY, relief}; }
};

VirtualState &state()
{
    static VirtualState instance;
    return instance;
}

bool virtualCameraEnabled()
{
    const char *value = std::getenv("VORENTA_VIRTUAL_CAMERA");
    return value && std::strcmp(value, "1") == 0;
}

uint32_t nextRandom(uint32_t &seed)
{
    // xorshift32: a fixed seed gives the same picture on every run.
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    return seed;
}

double randomUnit(uint32_t &seed) { return (nextRandom(seed) & 0xffffff) / double(0x1000000); }

uint8_t clampByte(int value) { return uint8_t(value < 0 ? 0 : value > 255 ? 255 : value); }

// Whether the length of (a, b) is above (below) `limit`, given its square:
// the square decides unless it lies within a hair of the limit's, where the
// length is measured as exactly as it can be.
bool longer(double a, double b, double square, double limit)
{
    const double bound = limit * limit;
    if (square > bound * (1 + 1e-9))
        return true;
    if (square < bound * (1 - 1e-9))
        return false;
    return std::hypot(a, b) > limit;
}

bool shorter(double a, double b, double square, double limit)
{
    const double bound = limit * limit;
    if (square < bound * (1 - 1e-9))
        return true;
    if (square > bound * (1 + 1e-9))
        return false;
    return std::hypot(a, b) < limit;
}

// The sample: luma at full size, chroma at half size, both tiling seamlessly
// so that the pan can wrap around. Distances are compared squared, and the
// shading of the field and the ripple of the cells come from tables: the
// same picture as measuring each pixel, drawn in a fraction of the time.
struct Texture {
    std::vector<uint8_t> y, u, v;

    Texture() : y(size_t(kTextureSize) * kTextureSize), u(size_t(kChromaSize) * kChromaSize),
                v(size_t(kChromaSize) * kChromaSize)
    {
        uint32_t seed = 0x9e3779b9u;
        const double twoPi = 6.283185307179586;
        // Bright field with slow shading and fine grain.
        std::vector<double> shadeColumn(kTextureSize);
        for (int x = 0; x < kTextureSize; ++x)
            shadeColumn[size_t(x)] = std::cos(twoPi * 2 * x / kTextureSize) * 7.0;
        for (int row = 0; row < kTextureSize; ++row) {
            const double shadeRow = std::sin(twoPi * row / kTextureSize) * 9.0;
            uint8_t *line = y.data() + size_t(row) * kTextureSize;
            for (int x = 0; x < kTextureSize; ++x) {
                const double shade = shadeRow + shadeColumn[size_t(x)];
                const int grain = int(nextRandom(seed) % 13) - 6;
                line[x] = clampByte(int(196 + shade) + grain);
            }
        }
        std::fill(u.begin(), u.end(), uint8_t(131));
        std::fill(v.begin(), v.end(), uint8_t(134));

        // The ripple of a cell body by the sum of a pixel's coordinates, which
        // are whole numbers from -kMaxExtent to kTextureSize + kMaxExtent.
        constexpr int kMaxExtent = 14 + 70 + 3 + 1;
        std::vector<int> ripple(size_t(2 * kTextureSize + 4 * kMaxExtent + 1));
        for (size_t i = 0; i < ripple.size(); ++i)
            ripple[i] = int(6 * std::sin(double(int(i) - 2 * kMaxExtent) * 0.9));

        // Cells: a textured body, a dark sharp membrane and a nucleus.
        for (int cell = 0; cell < 420; ++cell) {
            const double cx = randomUnit(seed) * kTextureSize;
            const double cy = randomUnit(seed) * kTextureSize;
            const double radius = 14 + randomUnit(seed) * 70;
            const double nucleus = radius * (0.25 + randomUnit(seed) * 0.15);
            const double nx = cx + (randomUnit(seed) - 0.5) * radius * 0.5;
            const double ny = cy + (randomUnit(seed) - 0.5) * radius * 0.5;
            const int bodyLuma = 120 + int(randomUnit(seed) * 60);
            const int tintU = 10 + int(randomUnit(seed) * 20);
            const int tintV = 14 + int(randomUnit(seed) * 24);
            const int extent = int(radius) + 3;
            const double outer = radius + 1.5, membrane = radius - 1.5;
            for (int dy = -extent; dy <= extent; ++dy) {
                for (int dx = -extent; dx <= extent; ++dx) {
                    const double px = std::floor(cx) + dx, py = std::floor(cy) + dy;
                    const double ex = px - cx, ey = py - cy, fx = px - nx, fy = py - ny;
                    const double square = ex * ex + ey * ey;
                    if (longer(ex, ey, square, outer))
                        continue;
                    const int tx = int(px) & kTextureMask, ty = int(py) & kTextureMask;
                    uint8_t &luma = y[size_t(ty) * kTextureSize + tx];
                    int lumaValue;
                    int du = tintU, dv = tintV;
                    if (longer(ex, ey, square, membrane)) {
                        lumaValue = 55 + int(nextRandom(seed) % 10);
                        du += 8;
                        dv += 12;
                    } else if (shorter(fx, fy, fx * fx + fy * fy, nucleus)) {
                        lumaValue = 80 + int(nextRandom(seed) % 25);
                        du += 22;
                        dv -= 6;
                    } else {
                        // Granular body: small-scale noise plus a ripple.
                        lumaValue = bodyLuma + int(nextRandom(seed) % 31) - 15
                                    + ripple[size_t(int(px + py) + 2 * kMaxExtent)];
                    }
                    luma = clampByte(lumaValue);
                    if ((tx & 1) == 0 && (ty & 1) == 0) {
                        const size_t c = size_t(ty / 2) * kChromaSize + size_t(tx / 2);
                        u[c] = clampByte(128 + du);
                        v[c] = clampByte(128 + dv);
                    }
                }
            }
        }
        // Debris: tiny dark specks for fine detail.
        for (int speck = 0; speck < 6000; ++speck) {
            const int sx = int(nextRandom(seed) & kTextureMask), sy = int(nextRandom(seed) & kTextureMask);
            const int size = 1 + int(nextRandom(seed) % 2);
            for (int dy = 0; dy < size; ++dy)
                for (int dx = 0; dx < size; ++dx)
                    y[size_t((sy + dy) & kTextureMask) * kTextureSize + ((sx + dx) & kTextureMask)] = 40;
        }
    }
};

const Texture &texture()
{
    static const Texture instance;
    return instance;
}

// The sample is drawn once a process and takes some 60 ms (more on a busy
// machine): a probe that lists the camera starts drawing it on a thread of
// its own, so the first picture after an open hardly waits for it.
void prepareTexture()
{
    static const std::future<void> drawn = std::async(std::launch::async, [] { texture(); });
}

// The picture controls as lookup tables for one frame.
struct PictureControls {
    uint8_t luma[256];
    int chromaA = 256, chromaB = 0;  // saturation/hue rotation, 8.8 fixed point
    int offsetU = 0, offsetV = 0;
    bool flip = false, mirror = false;
    int blurRadius = 0;  // luma box blur, pixels: manual focus away from the sharp plane
    // The height in focus units that is sharp: the manual focus value, or
    // the middle of the relief where automatic focus settles.
    int focusPlane = kSharpFocus;

    explicit PictureControls(const VirtualState &s)
    {
        const auto value = [&](Control c) { return s.values[int(c)].load(std::memory_order_relaxed); };
        double exposure;
        if (value(Control::ExposureMode) == 1)
            exposure = value(Control::ExposureCompensation) / 56.0;
        else
            exposure = value(Control::ExposureTime) / 150.0 * std::pow(2.0, value(Control::ExposureGain) / 6.0);
        exposure = std::clamp(exposure, 0.02, 8.0);
        const double contrast = value(Control::Contrast) / 50.0;
        const double gammaExponent = std::pow(1.25, value(Control::Gamma) - 1);
        for (int i = 0; i < 256; ++i) {
            double level = std::pow(i / 255.0, gammaExponent) * exposure;
            level = 0.5 + (level - 0.5) * contrast;
            luma[i] = clampByte(int(std::lround(level * 255.0)));
        }
        const double saturation = value(Control::Saturation) / 128.0;
        const double hue = (value(Control::Hue) - 50) / 50.0 * 3.141592653589793;
        chromaA = int(std::lround(256 * saturation * std::cos(hue)));
        chromaB = int(std::lround(256 * saturation * std::sin(hue)));
        if (value(Control::WhiteBalanceMode) == 0) {
            offsetV = std::clamp((value(Control::WhiteBalanceRed) - kSpecs[int(Control::WhiteBalanceRed)].range.defaultValue) / 24, -60, 60);
            offsetU = std::clamp((value(Control::WhiteBalanceBlue) - kSpecs[int(Control::WhiteBalanceBlue)].range.defaultValue) / 24, -60, 60);
        }
        // The flat sample is sharp at focus 200; automatic focus finds it.
        if (value(Control::FocusMode) == 0) {
            blurRadius = std::min(kMaxBlurRadius, std::abs(value(Control::Focus) - kSharpFocus) / 30);
            focusPlane = value(Control::Focus);
        }
        flip = value(Control::Flip) == 1;
        mirror = value(Control::Mirror) == 1;
    }
};

// Separable box blur with running sums: O(1) per pixel whatever the radius.
void boxBlur(uint8_t *plane, int width, int height, int radius)
{
    const int span = 2 * radius + 1;
    std::vector<uint8_t> line(size_t(std::max(width, height)));
    const auto blurLine = [&](uint8_t *start, int count, int step) {
        for (int i = 0; i < count; ++i)
            line[size_t(i)] = start[size_t(i) * step];
        int sum = 0;
        for (int i = -radius; i <= radius; ++i)
            sum += line[size_t(std::clamp(i, 0, count - 1))];
        for (int i = 0; i < count; ++i) {
            start[size_t(i) * step] = uint8_t(sum / span);
            sum += line[size_t(std::min(i + radius + 1, count - 1))] - line[size_t(std::max(i - radius, 0))];
        }
    };
    for (int row = 0; row < height; ++row)
        blurLine(plane + size_t(row) * width, width, 1);
    for (int x = 0; x < width; ++x)
        blurLine(plane + x, height, width);
}

// Heights of the sample for the relief, in focus units halved (so that a
// byte covers the focus range): smooth hills and valleys that tile with the
// texture, from about 40 to 360.
const std::vector<uint8_t> &reliefHeights()
{
    static const std::vector<uint8_t> heights = [] {
        std::vector<uint8_t> table(size_t(kTextureSize) * kTextureSize);
        const double twoPi = 6.283185307179586;
        for (int row = 0; row < kTextureSize; ++row) {
            const double v = double(row) / kTextureSize;
            for (int x = 0; x < kTextureSize; ++x) {
                const double u = double(x) / kTextureSize;
                const double height = kSharpFocus + 110.0 * std::sin(twoPi * u) * std::cos(twoPi * v)
                                      + 70.0 * std::sin(twoPi * (2 * u + v) + 1.0);
                table[size_t(row) * kTextureSize + x] = uint8_t(std::clamp(std::lround(height / 2), 20L, 180L));
            }
        }
        return table;
    }();
    return heights;
}

// Where a frame starts on the sample, in texture pixels (0 ... size - 1).
struct StagePosition {
    int x = 0, y = 0;
};

StagePosition stagePosition(const VirtualStage &stage, double seconds, long frameNumber)
{
    if (stage.panX == 0 && stage.panY == 0) {
        // A focus series needs a still sample: the relief without a pan stands still.
        if (stage.relief)
            return {0, 0};
        // A slow drift with a gentle sway; even so that luma and chroma stay
        // aligned.
        return {int(seconds * 24.0 + 120.0 * std::sin(seconds * 0.13)) & ~1 & kTextureMask,
                int(seconds * 9.0 + 90.0 * std::sin(seconds * 0.21)) & ~1 & kTextureMask};
    }
    // Exactly (panX, panY) per frame, whatever the timing.
    const long period = kTextureSize;
    const long x = (frameNumber % period) * stage.panX % period;
    const long y = (frameNumber % period) * stage.panY % period;
    return {int((x + period) % period), int((y + period) % period)};
}

// One plane of a relief: each pixel is blurred by how far its height lies
// from the focus plane (`radius(x, row)`, 0 ... kMaxBlurRadius). The plane is
// read through `sample(x, row)` with a margin of kMaxBlurRadius around the
// frame, so that a point of the sample looks the same wherever it lies in
// the frame, and blurred through a summed-area table: constant time per
// pixel whatever its radius.
template <typename Sample, typename Radius>
void renderReliefPlane(uint8_t *plane, int width, int height, Sample sample, Radius radius)
{
    constexpr int margin = kMaxBlurRadius;
    constexpr int maxArea = (2 * kMaxBlurRadius + 1) * (2 * kMaxBlurRadius + 1);
    static_assert(maxArea * 255ull * 65536 < (1ull << 32), "box sums fit the fixed-point product");
    uint32_t reciprocal[kMaxBlurRadius + 1];  // 16.16 fixed point
    for (int r = 0; r <= kMaxBlurRadius; ++r) {
        const int area = (2 * r + 1) * (2 * r + 1);
        reciprocal[r] = uint32_t((65536 + area / 2) / area);
    }
    const int paddedWidth = width + 2 * margin, paddedHeight = height + 2 * margin;
    // sums[r][c]: the sum of the padded rows < r and columns < c.
    const int sumsWidth = paddedWidth + 1;
    std::vector<uint32_t> sums(size_t(sumsWidth) * (paddedHeight + 1), 0);
    std::vector<uint8_t> padded(size_t(paddedWidth) * paddedHeight);
    for (int row = 0; row < paddedHeight; ++row) {
        uint8_t *out = padded.data() + size_t(row) * paddedWidth;
        uint32_t *sumRow = sums.data() + size_t(row + 1) * sumsWidth;
        const uint32_t *sumAbove = sumRow - sumsWidth;
        uint32_t running = 0;
        for (int x = 0; x < paddedWidth; ++x) {
            out[x] = sample(x - margin, row - margin);
            running += out[x];
            sumRow[x + 1] = sumAbove[x + 1] + running;
        }
    }
    for (int row = 0; row < height; ++row) {
        const uint8_t *sharp = padded.data() + size_t(row + margin) * paddedWidth + margin;
        uint8_t *o = plane + size_t(width) * row;
        for (int x = 0; x < width; ++x) {
            const int r = radius(x, row);
            if (r == 0) {
                o[x] = sharp[x];
                continue;
            }
            const size_t top = size_t(row + margin - r) * sumsWidth, bottom = size_t(row + margin + r + 1) * sumsWidth;
            const size_t left = size_t(x + margin - r), right = size_t(x + margin + r + 1);
            const uint32_t sum = sums[bottom + right] - sums[top + right] - sums[bottom + left] + sums[top + left];
            o[x] = uint8_t((sum * reciprocal[r] + 32768) >> 16);
        }
    }
}

void render(I420Frame &out, int width, int height, double seconds, long frameNumber, const PictureControls &controls,
            const VirtualStage &stage)
{
    out.resize(width, height);
    const Texture &tex = texture();
    const StagePosition at = stagePosition(stage, seconds, frameNumber);
    const int panX = at.x, panY = at.y;
    const int chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
    // An odd pan puts chroma half a chroma pixel off; too little to see.
    const int chromaPanX = panX / 2, chromaPanY = panY / 2;
    // Texture positions of a frame position (any integer, also beyond the
    // frame), after flip and mirror.
    const auto lumaX = [&](int x) { return (panX + (controls.mirror ? width - 1 - x : x)) & kTextureMask; };
    const auto lumaY = [&](int row) { return (panY + (controls.flip ? height - 1 - row : row)) & kTextureMask; };
    const auto chromaX = [&](int x) {
        return (chromaPanX + (controls.mirror ? chromaWidth - 1 - x : x)) & kChromaMask;
    };
    const auto chromaY = [&](int row) {
        return (chromaPanY + (controls.flip ? chromaHeight - 1 - row : row)) & kChromaMask;
    };
    const int a = controls.chromaA, b = controls.chromaB;
    const auto chromaU = [&](int du, int dv) { return clampByte(128 + ((a * du - b * dv) >> 8) + controls.offsetU); };
    const auto chromaV = [&](int du, int dv) { return clampByte(128 + ((b * du + a * dv) >> 8) + controls.offsetV); };
    uint8_t *y = out.y();
    uint8_t *u = out.u();
    uint8_t *v = out.v();

    if (stage.relief) {
        const std::vector<uint8_t> &heights = reliefHeights();
        uint8_t radiusOfHeight[256];
        for (int level = 0; level < 256; ++level)
            radiusOfHeight[level] =
                uint8_t(std::min(kMaxBlurRadius, std::abs(controls.focusPlane - 2 * level) / kReliefFocusStep));
        const auto lumaRadius = [&](int x, int row) {
            return radiusOfHeight[heights[size_t(lumaY(row)) * kTextureSize + size_t(lumaX(x))]];
        };
        renderReliefPlane(y, width, height,
                          [&](int x, int row) { return controls.luma[tex.y[size_t(lumaY(row)) * kTextureSize + size_t(lumaX(x))]]; },
                          lumaRadius);
        // Chroma blurs over the same ground, half as many of its pixels.
        const auto chromaRadius = [&](int x, int row) {
            return (lumaRadius(std::min(2 * x, width - 1), std::min(2 * row, height - 1)) + 1) / 2;
        };
        const auto chromaAt = [&](int x, int row, bool isU) {
            const size_t i = size_t(chromaY(row)) * kChromaSize + size_t(chromaX(x));
            const int du = tex.u[i] - 128, dv = tex.v[i] - 128;
            return isU ? chromaU(du, dv) : chromaV(du, dv);
        };
        renderReliefPlane(u, chromaWidth, chromaHeight, [&](int x, int row) { return chromaAt(x, row, true); },
                          chromaRadius);
        renderReliefPlane(v, chromaWidth, chromaHeight, [&](int x, int row) { return chromaAt(x, row, false); },
                          chromaRadius);
        return;
    }

    for (int row = 0; row < height; ++row) {
        const uint8_t *texRow = tex.y.data() + size_t(lumaY(row)) * kTextureSize;
        uint8_t *o = y + size_t(width) * row;
        if (controls.mirror) {
            for (int x = 0; x < width; ++x)
                o[x] = controls.luma[texRow[lumaX(x)]];
        } else {
            // Runs without wrap-around keep the inner loop simple.
            int x = 0;
            while (x < width) {
                const int start = (panX + x) & kTextureMask;
                const int run = std::min(width - x, kTextureSize - start);
                const uint8_t *in = texRow + start;
                for (int i = 0; i < run; ++i)
                    o[x + i] = controls.luma[in[i]];
                x += run;
            }
        }
    }
    if (controls.blurRadius > 0)
        boxBlur(y, width, height, controls.blurRadius);

    for (int row = 0; row < chromaHeight; ++row) {
        const size_t texOffset = size_t(chromaY(row)) * kChromaSize;
        const uint8_t *uIn = tex.u.data() + texOffset;
        const uint8_t *vIn = tex.v.data() + texOffset;
        uint8_t *uOut = u + size_t(chromaWidth) * row;
        uint8_t *vOut = v + size_t(chromaWidth) * row;
        for (int x = 0; x < chromaWidth; ++x) {
            const int sourceX = chromaX(x);
            const int du = uIn[sourceX] - 128, dv = vIn[sourceX] - 128;
            uOut[x] = chromaU(du, dv);
            vOut[x] = chromaV(du, dv);
        }
    }
}

bool valid(const VirtualState &s, int generation) { return s.present && s.generation == generation; }

// The drifting stage moves with the process's time, not a stream's: a stream
// opened anew (a still at another size, a reopen) shows the sample where the
// stream before it left it.
std::chrono::steady_clock::time_point stageClockOrigin()
{
    static const std::chrono::steady_clock::time_point origin = std::chrono::steady_clock::now();
    return origin;
}

class VirtualControl final : public ControlDevice
{
public:
    explicit VirtualControl(int generation) : generation_(generation) {}

    int get(Control control) override
    {
        VirtualState &s = state();
        if (!valid(s, generation_) || control >= Control::Count)
            return -1;
        // Automatic focus keeps the lens where the sample is sharp.
        if (control == Control::Focus && s.values[int(Control::FocusMode)] != 0)
            return kSharpFocus;
        return s.values[int(control)];
    }
    int set(Control control, int value) override
    {
        VirtualState &s = state();
        if (!valid(s, generation_) || control >= Control::Count || !kSpecs[int(control)].present)
            return -1;
        const ControlRange &range = kSpecs[int(control)].range;
        if (value < range.minimum || value > range.maximum)
            return -1;
        // Manual focus starts where automatic focus left the lens.
        if (control == Control::FocusMode && value == 0 && s.values[int(Control::FocusMode)] != 0)
            s.values[int(Control::Focus)] = kSharpFocus;
        s.values[int(control)] = value;
        return 0;
    }
    int range(Control control, ControlRange &out) override
    {
        if (!valid(state(), generation_) || control >= Control::Count || !kSpecs[int(control)].present)
            return -1;
        out = kSpecs[int(control)].range;
        return 0;
    }
    int version() override { return valid(state(), generation_) ? kVirtualCameraVersion : -1; }
    int focusRegion(int &x, int &y) override
    {
        VirtualState &s = state();
        if (!valid(s, generation_))
            return -1;
        x = s.regionX;
        y = s.regionY;
        return 0;
    }
    int setFocusRegion(int x, int y) override
    {
        VirtualState &s = state();
        // The region is a cell of a 17 x 15 grid.
        if (!valid(s, generation_) || x < 0 || x > 16 || y < 0 || y > 14)
            return -1;
        s.regionX = x;
        s.regionY = y;
        return 0;
    }
    int triggerFocusOnce() override { return valid(state(), generation_) ? 0 : -1; }
    int saveConfig() override { return valid(state(), generation_) ? 0 : -1; }
    int focusCurveTest() override { return valid(state(), generation_) ? 0 : -1; }
    int focusCurveCheck() override { return valid(state(), generation_) ? 0 : -1; }
    bool alive() override { return valid(state(), generation_); }

private:
    int generation_;
};

class VirtualStream final : public CaptureStream
{
public:
    VirtualStream(int generation, const StreamRequest &request)
        : generation_(generation),
          width_(std::clamp(request.width, 16, 8192) & ~1),
          height_(std::clamp(request.height, 16, 8192) & ~1),
          period_(std::chrono::microseconds(1000000 / std::clamp(request.fps > 0 ? request.fps : 30, 1, 240))),
          origin_(stageClockOrigin()),
          nextDue_(std::chrono::steady_clock::now())
    {
    }

    int width() const override { return width_; }
    int height() const override { return height_; }
    size_t deviceFrameBytes() const override { return I420Frame::sizeFor(width_, height_); }

    ReadResult read(I420Frame &out, int timeoutMs) override
    {
        const auto now = std::chrono::steady_clock::now();
        if (!valid(state(), generation_))
            return ReadResult::Gone;
        // A reader that fell behind by more than a frame starts afresh
        // rather than receiving a burst.
        if (now > nextDue_ + period_)
            nextDue_ = now;
        if (nextDue_ - now > std::chrono::milliseconds(timeoutMs)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
            return ReadResult::NoFrame;
        }
        std::this_thread::sleep_until(nextDue_);
        if (!valid(state(), generation_))
            return ReadResult::Gone;
        const double seconds = std::chrono::duration<double>(nextDue_ - origin_).count();
        nextDue_ += period_;
        render(out, width_, height_, seconds, frameNumber_++, PictureControls(state()), state().stage());
        return ReadResult::Frame;
    }

private:
    int generation_;
    int width_, height_;
    std::chrono::steady_clock::duration period_;
    std::chrono::steady_clock::time_point origin_, nextDue_;
    long frameNumber_ = 0;  // frames delivered: the pan's step count
};

} // namespace

std::vector<DeviceInfo> VirtualBackend::probe()
{
    if (!virtualCameraEnabled() || !state().present)
        return {};
    prepareTexture();
    return {DeviceInfo{kVirtualCameraName, kVirtualCameraPath}};
}

bool VirtualBackend::handles(const std::string &path) const { return path.rfind("virtual:", 0) == 0; }

std::unique_ptr<ControlDevice> VirtualBackend::openControl(const std::string &path)
{
    if (!virtualCameraEnabled() || path != kVirtualCameraPath || !state().present)
        return nullptr;
    return std::make_unique<VirtualControl>(state().generation);
}

std::unique_ptr<CaptureStream> VirtualBackend::openStream(const std::string &path, const StreamRequest &request)
{
    if (!virtualCameraEnabled() || path != kVirtualCameraPath || !state().present)
        return nullptr;
    if (request.width <= 0 || request.height <= 0)
        return nullptr;
    return std::make_unique<VirtualStream>(state().generation, request);
}

void resetVirtualCamera()
{
    state().reset();
}

void setVirtualCameraPresent(bool present)
{
    VirtualState &s = state();
    if (!present && s.present)
        ++s.generation;
    s.present = present;
}

void setVirtualStage(const VirtualStage &stage)
{
    state().setStage(stage);
}

VirtualStage virtualStage()
{
    return state().stage();
}

void renderVirtualFrame(I420Frame &out, int width, int height, double seconds, long frameNumber)
{
    render(out, width, height, seconds, frameNumber, PictureControls(state()), state().stage());
}

} // namespace usbcam
