// The USB camera layer driven through its C calls with the virtual camera:
// probe, control handles, streams, pacing, controls acting on the picture,
// and a camera that is pulled out mid-stream.
#include "capture.h"
#include "control.h"
#include "v4l2_backend.h"
#include "virtual_backend.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>
#include <algorithm>
#include <string>
#include <thread>

using namespace usbcam;

namespace {

class VirtualCamera : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setenv("VORENTA_VIRTUAL_CAMERA", "1", 1);
        setVirtualCameraPresent(true);
        resetVirtualCamera();
    }
    void TearDown() override
    {
        setVirtualCameraPresent(true);
        resetVirtualCamera();
        cam_free_context();
    }

    static cap_record record(int width, int height, int fps, int format = 0)
    {
        cap_record r;
        std::memset(&r, 0, sizeof r);
        std::strncpy(r.device_path, kVirtualCameraPath, sizeof r.device_path - 1);
        r.capture_mode = 5;
        r.width = width;
        r.height = height;
        r.fps = fps;
        r.stream_format = format;
        return r;
    }

    // Reads until a frame comes (the camera paces itself), at most ~1 s.
    // Reads until something other than "no frame yet" comes, for at most
    // 20 s (a loaded machine delivers late, never not at all).
    static int readFrame(cap_record &r, cap_frame &frame)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        int result = CAP_NO_FRAME;
        while (result == CAP_NO_FRAME && std::chrono::steady_clock::now() < deadline) {
            std::memset(&frame, 0, sizeof frame);
            result = cap_read(&r, &frame);
        }
        return result;
    }

    static double meanOf(const uint8_t *data, size_t count)
    {
        double sum = 0;
        for (size_t i = 0; i < count; ++i)
            sum += data[i];
        return sum / double(count);
    }
};

} // namespace

TEST(UsbLayout, ProbeBufferIsTheNativeLayout)
{
    EXPECT_EQ(sizeof(cam_device_record), 1156u);
    EXPECT_EQ(offsetof(cam_device_record, path), 128u);
    EXPECT_EQ(offsetof(cam_device_record, handle), 1152u);
    EXPECT_EQ(sizeof(cam_probe_buffer), 9252u);
    EXPECT_EQ(offsetof(cam_probe_buffer, count), 9248u);
    // The frame record keeps its order: three planes, then format, size, strides.
    EXPECT_LT(offsetof(cap_frame, v), offsetof(cap_frame, format));
    EXPECT_LT(offsetof(cap_frame, width), offsetof(cap_frame, stride_y));
    EXPECT_LT(offsetof(cap_record, buffer_size), offsetof(cap_record, width));
}

TEST(UsbLayout, V4l2PathsCarryPortModelAndNode)
{
    const std::string path = v4l2PathFor("usb-0000:00:14.0-2", 0x32e4, 0xE150, 3);
    EXPECT_EQ(path, "v4l2:usb-0000:00:14.0-2&vid_32e4&pid_e150#000003");
    EXPECT_EQ(v4l2NodeOfPath(path), "/dev/video3");
    EXPECT_EQ(v4l2NodeOfPath("v4l2:usb-x#00000a"), "");
    EXPECT_EQ(v4l2NodeOfPath("/dev/video0"), "");
    EXPECT_EQ(v4l2NodeOfPath(kVirtualCameraPath), "");
}

TEST_F(VirtualCamera, ListedOnlyWhenSwitchedOn)
{
    cam_probe_buffer buffer;
    ASSERT_GE(cam_probe_devices(&buffer), 1);
    bool found = false;
    for (int i = 0; i < buffer.count; ++i) {
        const std::string name = buffer.devices[i].name, path = buffer.devices[i].path;
        if (path != kVirtualCameraPath)
            continue;
        found = true;
        EXPECT_NE(name.find("UVC"), std::string::npos);
        EXPECT_NE(path.find("usb"), std::string::npos);
        EXPECT_NE(path.find("e530"), std::string::npos);
        EXPECT_EQ(path.substr(path.size() - 7), "#000000");
        EXPECT_EQ(buffer.devices[i].handle, -1);  // no context taken yet
    }
    EXPECT_TRUE(found);

    unsetenv("VORENTA_VIRTUAL_CAMERA");
    cam_probe_devices(&buffer);
    for (int i = 0; i < buffer.count; ++i)
        EXPECT_STRNE(buffer.devices[i].path, kVirtualCameraPath);
    cap_record r = record(640, 480, 30);
    EXPECT_LT(cap_open(&r), 0);
    EXPECT_EQ(cam_find_context(kVirtualCameraPath), -1);
}

TEST_F(VirtualCamera, ContextHandlesAreFreshAfterEveryRefresh)
{
    cam_probe_buffer buffer;
    ASSERT_GE(cam_get_context(&buffer), 1);
    int32_t handle = -1;
    for (int i = 0; i < buffer.count; ++i)
        if (std::strcmp(buffer.devices[i].path, kVirtualCameraPath) == 0)
            handle = buffer.devices[i].handle;
    ASSERT_GE(handle, 0);
    EXPECT_EQ(cam_find_context(kVirtualCameraPath), handle);
    EXPECT_EQ(cam_get_saturation(handle), 128);

    ASSERT_EQ(cam_free_context(), 0);
    // A released handle reaches nothing, and is never handed out again.
    EXPECT_EQ(cam_get_saturation(handle), -1);
    const int32_t fresh = cam_find_context(kVirtualCameraPath);
    ASSERT_GE(fresh, 0);
    EXPECT_NE(fresh, handle);
    EXPECT_EQ(cam_find_context("virtual:usb-no-such-camera#000000"), -1);
    EXPECT_EQ(cam_find_context(""), -1);
    EXPECT_EQ(cam_get_hue(-5), -1);
}

TEST_F(VirtualCamera, ControlsRoundTripWithinTheirRanges)
{
    const int32_t handle = cam_find_context(kVirtualCameraPath);
    ASSERT_GE(handle, 0);
    int32_t version = 0;
    EXPECT_EQ(cam_get_version(handle, &version), 0);
    EXPECT_EQ(version, kVirtualCameraVersion);

    int32_t minimum = 0, maximum = 0, defaultValue = 0;
    ASSERT_EQ(cam_get_saturation_range(handle, &minimum, &maximum, &defaultValue), 0);
    EXPECT_EQ(minimum, 0);
    EXPECT_EQ(maximum, 255);
    EXPECT_EQ(defaultValue, 128);
    ASSERT_EQ(cam_get_exposure_compensation_range(handle, &minimum, &maximum, &defaultValue), 0);
    EXPECT_EQ(maximum, 250);

    EXPECT_EQ(cam_set_hue(handle, 70), 0);
    EXPECT_EQ(cam_get_hue(handle), 70);
    EXPECT_EQ(cam_set_hue(handle, 101), -1);  // out of range: refused, unchanged
    EXPECT_EQ(cam_get_hue(handle), 70);
    EXPECT_EQ(cam_set_exposure_mode(handle, 0), 0);
    EXPECT_EQ(cam_get_exposure_mode(handle), 0);
    EXPECT_EQ(cam_set_focus_mode(handle, 2), 0);
    EXPECT_EQ(cam_get_focus_mode(handle), 2);
    EXPECT_EQ(cam_trigger_focus_once(handle), 0);
    int32_t x = 0, y = 0;
    EXPECT_EQ(cam_get_focus_region(handle, &x, &y), 0);
    EXPECT_EQ(x, 8);
    EXPECT_EQ(y, 7);
    EXPECT_EQ(cam_set_focus_region(handle, 3, 14), 0);
    EXPECT_EQ(cam_set_focus_region(handle, 17, 0), -1);
    cam_get_focus_region(handle, &x, &y);
    EXPECT_EQ(x, 3);
    EXPECT_EQ(y, 14);
    EXPECT_EQ(cam_set_flip(handle, 1), 0);
    EXPECT_EQ(cam_get_flip(handle), 1);
    EXPECT_EQ(cam_set_flick(handle, 2), -1);
    EXPECT_EQ(cam_get_version(handle, nullptr), -1);
    EXPECT_EQ(cam_get_gamma_range(handle, nullptr, &maximum, &defaultValue), -1);
}

TEST_F(VirtualCamera, StreamsMovingTexturedFramesOfTheAskedSize)
{
    cap_record r = record(1280, 720, 60);
    ASSERT_EQ(cap_open(&r), CAP_OK);
    EXPECT_EQ(r.width, 1280);
    EXPECT_EQ(r.height, 720);
    EXPECT_EQ(r.buffer_size, 1280 * 720 * 3 / 2);  // the negotiated frame's bytes
    EXPECT_LT(cap_open(&r), 0);                   // already open

    std::vector<uint8_t> first;
    cap_frame frame;
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(readFrame(r, frame), CAP_OK);
        EXPECT_EQ(frame.format, CAP_FORMAT_I420);
        EXPECT_EQ(frame.width, 1280);
        EXPECT_EQ(frame.height, 720);
        EXPECT_EQ(frame.stride_y, 1280);
        EXPECT_EQ(frame.stride_u, 640);
        if (i == 0)
            first.assign(frame.y, frame.y + 1280 * 720);
        free_frame(&frame);
        EXPECT_EQ(frame.priv, nullptr);
    }
    // Fine texture: neighbouring pixels differ a lot somewhere in a row.
    int edges = 0;
    for (int x = 1; x < 1280; ++x)
        edges += std::abs(first[size_t(360) * 1280 + x] - first[size_t(360) * 1280 + x - 1]) > 20;
    EXPECT_GT(edges, 10);

    // A slow pan: after half a second the picture has moved.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_EQ(readFrame(r, frame), CAP_OK);
    EXPECT_NE(std::memcmp(first.data(), frame.y, first.size()), 0);
    free_frame(&frame);

    EXPECT_EQ(cap_close(&r), CAP_OK);
    EXPECT_LT(cap_close(&r), 0);
    cap_frame unused;
    std::memset(&unused, 0, sizeof unused);
    EXPECT_LT(cap_read(&r, &unused), 0);
    free_frame(&unused);

    // Reopen at another size.
    r = record(640, 480, 30, 1);
    ASSERT_EQ(cap_open(&r), CAP_OK);
    ASSERT_EQ(readFrame(r, frame), CAP_OK);
    EXPECT_EQ(frame.width, 640);
    EXPECT_EQ(frame.height, 480);
    free_frame(&frame);
    cap_close(&r);
}

TEST_F(VirtualCamera, StreamOpenedAtAnotherSizeShowsWhereTheOneBeforeLeftOff)
{
    // A still at the picture size reopens the camera: it must show what the
    // live stream showed a moment before, not the stage's starting point.
    cap_record r = record(640, 480, 30);
    ASSERT_EQ(cap_open(&r), CAP_OK);
    cap_frame frame;
    ASSERT_EQ(readFrame(r, frame), CAP_OK);
    free_frame(&frame);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_EQ(readFrame(r, frame), CAP_OK);
    const std::vector<uint8_t> live(frame.y, frame.y + 640 * 480);
    free_frame(&frame);
    cap_close(&r);

    r = record(1280, 720, 30);
    ASSERT_EQ(cap_open(&r), CAP_OK);
    ASSERT_EQ(readFrame(r, frame), CAP_OK);
    // The still's top left against the live frame, over small shifts (the
    // stage drifts a pixel or so between the two).
    double best = 255;
    for (int dy = -8; dy <= 8; ++dy) {
        for (int dx = -8; dx <= 8; ++dx) {
            double sum = 0;
            int count = 0;
            for (int y = 16; y < 464; y += 4) {
                for (int x = 16; x < 624; x += 4) {
                    sum += std::abs(int(live[size_t(y) * 640 + x]) - int(frame.y[size_t(y + dy) * 1280 + x + dx]));
                    ++count;
                }
            }
            best = std::min(best, sum / count);
        }
    }
    free_frame(&frame);
    cap_close(&r);
    EXPECT_LT(best, 3.0);
}

TEST_F(VirtualCamera, SizeFromResolutionCodeWhenNoneIsGiven)
{
    cap_record r = record(0, 0, 30);
    r.resolution_code = 11;
    ASSERT_EQ(cap_open(&r), CAP_OK);
    EXPECT_EQ(r.width, 3840);
    EXPECT_EQ(r.height, 2160);
    cap_close(&r);
    r = record(0, 0, 30);
    r.resolution_code = 5;
    ASSERT_EQ(cap_open(&r), CAP_OK);
    EXPECT_EQ(r.width, 1920);
    cap_close(&r);
}

// At 5 fps a frame is due every 200 ms; a read waits for it no longer than
// its 30 ms time-out and says there is none meanwhile. Counted, not timed
// against an upper bound: a busy machine only makes the reads later.
TEST_F(VirtualCamera, ReadsArePacedAndNeverWaitLong)
{
    using namespace std::chrono;
    cap_record r = record(320, 240, 5);
    ASSERT_EQ(cap_open(&r), CAP_OK);
    int frames = 0, withoutFrame = 0;
    const auto start = steady_clock::now();
    steady_clock::time_point first, last;
    while (frames < 7 && steady_clock::now() - start < seconds(30)) {
        cap_frame frame;
        std::memset(&frame, 0, sizeof frame);
        const int result = cap_read(&r, &frame);
        if (result == CAP_OK) {
            last = steady_clock::now();
            // The first is due at the open, however long that took.
            if (frames++ == 1)
                first = last;
        } else if (result == CAP_NO_FRAME) {
            ++withoutFrame;
        }
        free_frame(&frame);
    }
    cap_close(&r);
    ASSERT_EQ(frames, 7);
    // Never a burst: six frames after the first span five periods.
    EXPECT_GE(last - first, milliseconds(5 * 190));
    EXPECT_GT(withoutFrame, 0);
}

TEST_F(VirtualCamera, ControlsActOnThePicture)
{
    const int width = 320, height = 240;
    const size_t lumaBytes = size_t(width) * height;
    const size_t chromaBytes = lumaBytes / 4;
    I420Frame plain, changed;
    renderVirtualFrame(plain, width, height, 3.0);
    const int32_t handle = cam_find_context(kVirtualCameraPath);
    ASSERT_GE(handle, 0);

    // Brightness (exposure compensation in automatic exposure).
    ASSERT_EQ(cam_set_exposure_compensation(handle, 110), 0);
    renderVirtualFrame(changed, width, height, 3.0);
    EXPECT_GT(meanOf(changed.y(), lumaBytes), meanOf(plain.y(), lumaBytes) + 20);
    cam_set_exposure_compensation(handle, 56);

    // Gain in manual exposure.
    cam_set_exposure_mode(handle, 0);
    cam_set_exposure_gain(handle, 0);
    renderVirtualFrame(plain, width, height, 3.0);
    cam_set_exposure_gain(handle, 12);
    renderVirtualFrame(changed, width, height, 3.0);
    EXPECT_GT(meanOf(changed.y(), lumaBytes), meanOf(plain.y(), lumaBytes) + 20);
    resetVirtualCamera();
    renderVirtualFrame(plain, width, height, 3.0);

    // Saturation 0 is a grey picture.
    ASSERT_EQ(cam_set_saturation(handle, 0), 0);
    renderVirtualFrame(changed, width, height, 3.0);
    for (size_t i = 0; i < chromaBytes; ++i) {
        ASSERT_EQ(changed.u()[i], 128);
        ASSERT_EQ(changed.v()[i], 128);
    }
    cam_set_saturation(handle, 128);

    // Mirror reverses every row; flip reverses the row order.
    cam_set_mirror(handle, 1);
    renderVirtualFrame(changed, width, height, 3.0);
    for (int row = 0; row < height; row += 17)
        for (int x = 0; x < width; x += 7)
            ASSERT_EQ(changed.y()[row * width + x], plain.y()[row * width + width - 1 - x]);
    cam_set_mirror(handle, 0);

    // Manual focus away from the sharp plane softens the edges.
    const auto sharpness = [&](const I420Frame &frame) {
        double sum = 0;
        for (int row = 0; row < height; ++row)
            for (int x = 1; x < width; ++x)
                sum += std::abs(frame.data[size_t(row) * width + x] - frame.data[size_t(row) * width + x - 1]);
        return sum;
    };
    cam_set_focus_mode(handle, 0);
    cam_set_focus(handle, 380);
    renderVirtualFrame(changed, width, height, 3.0);
    EXPECT_LT(sharpness(changed), sharpness(plain) * 0.6);
    cam_set_focus(handle, 200);
    renderVirtualFrame(changed, width, height, 3.0);
    EXPECT_EQ(changed.data, plain.data);
    cam_set_focus_mode(handle, 1);

    cam_set_flip(handle, 1);
    renderVirtualFrame(changed, width, height, 3.0);
    for (int row = 0; row < height; row += 17)
        ASSERT_EQ(std::memcmp(changed.y() + row * width, plain.y() + (height - 1 - row) * width, width), 0);
}

// Frame n + 1 of a panning stage is frame n moved by (-panX, -panY):
// compares the pixels both frames show.
static bool movedByPan(const I420Frame &before, const I420Frame &after, int panX, int panY)
{
    const int width = before.width, height = before.height;
    for (int row = std::max(0, -panY); row < std::min(height, height - panY); ++row)
        for (int x = std::max(0, -panX); x < std::min(width, width - panX); ++x)
            if (after.data[size_t(row) * width + x] != before.data[size_t(row + panY) * width + x + panX])
                return false;
    return true;
}

TEST_F(VirtualCamera, PanningStageMovesByItsStepEveryFrame)
{
    const int width = 320, height = 240;
    setVirtualStage(VirtualStage{7, -5, false});
    I420Frame first, second, later;
    // Time plays no part: only the frame number moves the stage.
    renderVirtualFrame(first, width, height, 1.0, 40);
    renderVirtualFrame(second, width, height, 9.0, 41);
    EXPECT_TRUE(movedByPan(first, second, 7, -5));
    renderVirtualFrame(later, width, height, 1.0, 43);
    EXPECT_TRUE(movedByPan(first, later, 21, -15));
    EXPECT_FALSE(movedByPan(first, later, 14, -10));

    // Across the texture's wrap-around too.
    renderVirtualFrame(first, width, height, 0.0, 2047);
    renderVirtualFrame(second, width, height, 0.0, 2048);
    EXPECT_TRUE(movedByPan(first, second, 7, -5));
}

TEST_F(VirtualCamera, PanComesFromTheEnvironmentAndStepsPerDeliveredFrame)
{
    struct PanVariable {
        PanVariable(const char *value) { setenv("VORENTA_VIRTUAL_PAN", value, 1); }
        ~PanVariable() { unsetenv("VORENTA_VIRTUAL_PAN"); }
    };
    {
        const PanVariable pan("6,4");
        resetVirtualCamera();
        EXPECT_EQ(virtualStage().panX, 6);
        EXPECT_EQ(virtualStage().panY, 4);
        EXPECT_FALSE(virtualStage().relief);

        cap_record r = record(320, 240, 60);
        ASSERT_EQ(cap_open(&r), CAP_OK);
        cap_frame frame;
        I420Frame frames[2];
        for (I420Frame &copy : frames) {
            ASSERT_EQ(readFrame(r, frame), CAP_OK);
            copy.resize(320, 240);
            std::memcpy(copy.data.data(), frame.y, copy.data.size());
            free_frame(&frame);
        }
        cap_close(&r);
        EXPECT_TRUE(movedByPan(frames[0], frames[1], 6, 4));
    }
    for (const char *bad : {"6", "6,4,1", "600,0", "x,y", ""}) {
        const PanVariable pan(bad);
        resetVirtualCamera();
        EXPECT_EQ(virtualStage().panX, 0) << bad;
        EXPECT_EQ(virtualStage().panY, 0) << bad;
    }
}

TEST_F(VirtualCamera, ReliefShowsEachRegionSharpAtItsOwnFocus)
{
    const int width = 512, height = 384, block = 32;
    const int blocksX = width / block, blocksY = height / block;
    setVirtualStage(VirtualStage{0, 0, true});
    const int32_t handle = cam_find_context(kVirtualCameraPath);
    ASSERT_GE(handle, 0);
    ASSERT_EQ(cam_set_focus_mode(handle, 0), 0);

    // Per block: the sharpest focus value, and the sharpness there and at
    // the worst one.
    std::vector<double> best(size_t(blocksX * blocksY), -1), worst(best.size(), 1e18);
    std::vector<int> bestFocus(best.size(), 0);
    I420Frame frame;
    for (int focus = 40; focus <= 360; focus += 20) {
        ASSERT_EQ(cam_set_focus(handle, focus), 0);
        renderVirtualFrame(frame, width, height, 5.0);
        for (int by = 0; by < blocksY; ++by) {
            for (int bx = 0; bx < blocksX; ++bx) {
                double sum = 0;
                for (int row = by * block; row < (by + 1) * block; ++row)
                    for (int x = bx * block + 1; x < (bx + 1) * block; ++x)
                        sum += std::abs(frame.data[size_t(row) * width + x] - frame.data[size_t(row) * width + x - 1]);
                const size_t i = size_t(by * blocksX + bx);
                if (sum > best[i]) {
                    best[i] = sum;
                    bestFocus[i] = focus;
                }
                worst[i] = std::min(worst[i], sum);
            }
        }
    }
    std::set<int> focusValues(bestFocus.begin(), bestFocus.end());
    EXPECT_GE(focusValues.size(), 4u);
    for (size_t i = 0; i < best.size(); ++i)
        EXPECT_GT(best[i], worst[i] * 2) << "block " << i;

    // The flat sample comes back with the relief off: sharp everywhere at 200.
    setVirtualStage(VirtualStage{});
    ASSERT_EQ(cam_set_focus(handle, 200), 0);
    I420Frame flat, automatic;
    renderVirtualFrame(flat, width, height, 5.0);
    cam_set_focus_mode(handle, 1);
    renderVirtualFrame(automatic, width, height, 5.0);
    EXPECT_EQ(flat.data, automatic.data);
}

TEST_F(VirtualCamera, ReliefWithoutPanStandsStill)
{
    // A focus series takes seconds; its frames must show the same sample.
    setVirtualStage(VirtualStage{0, 0, true});
    const int32_t handle = cam_find_context(kVirtualCameraPath);
    cam_set_focus_mode(handle, 0);
    cam_set_focus(handle, 120);
    I420Frame early, late;
    renderVirtualFrame(early, 320, 240, 1.0, 10);
    renderVirtualFrame(late, 320, 240, 9.5, 290);
    EXPECT_EQ(early.data, late.data);
    // The flat sample still drifts.
    setVirtualStage(VirtualStage{});
    renderVirtualFrame(early, 320, 240, 1.0, 10);
    renderVirtualFrame(late, 320, 240, 9.5, 290);
    EXPECT_NE(early.data, late.data);
}

TEST_F(VirtualCamera, ReliefMovesWithThePanUnchanged)
{
    // A point of the relief looks the same wherever it lies in the frame,
    // also near the frame's edges, so stitching sees a rigid shift.
    setVirtualStage(VirtualStage{-9, 11, true});
    const int32_t handle = cam_find_context(kVirtualCameraPath);
    cam_set_focus_mode(handle, 0);
    cam_set_focus(handle, 150);
    I420Frame first, second;
    renderVirtualFrame(first, 300, 200, 0.0, 3);
    renderVirtualFrame(second, 300, 200, 0.0, 4);
    EXPECT_TRUE(movedByPan(first, second, -9, 11));
}

TEST_F(VirtualCamera, PulledOutMidStreamGivesFailedReads)
{
    cap_record r = record(640, 480, 30);
    ASSERT_EQ(cap_open(&r), CAP_OK);
    const int32_t handle = cam_find_context(kVirtualCameraPath);
    cap_frame frame;
    ASSERT_EQ(readFrame(r, frame), CAP_OK);
    // The frame stays valid while the device goes away.
    setVirtualCameraPresent(false);
    EXPECT_EQ(frame.y[0], frame.y[0]);
    free_frame(&frame);

    for (int i = 0; i < 3; ++i) {
        cap_frame next;
        std::memset(&next, 0, sizeof next);
        EXPECT_EQ(cap_read(&r, &next), CAP_GONE);
        EXPECT_EQ(next.y, nullptr);
    }
    EXPECT_EQ(cam_get_saturation(handle), -1);
    EXPECT_EQ(cam_set_saturation(handle, 10), -1);
    cam_probe_buffer buffer;
    cam_probe_devices(&buffer);
    for (int i = 0; i < buffer.count; ++i)
        EXPECT_STRNE(buffer.devices[i].path, kVirtualCameraPath);
    cap_record second = record(640, 480, 30);
    EXPECT_LT(cap_open(&second), 0);

    // Plugged back in: the old stream stays dead, a new one works.
    setVirtualCameraPresent(true);
    cap_frame after;
    std::memset(&after, 0, sizeof after);
    EXPECT_EQ(cap_read(&r, &after), CAP_GONE);
    EXPECT_EQ(cap_close(&r), CAP_OK);
    ASSERT_EQ(cap_open(&second), CAP_OK);
    ASSERT_EQ(readFrame(second, frame), CAP_OK);
    free_frame(&frame);
    cap_close(&second);
}

TEST_F(VirtualCamera, PluggedBackInAtTheSamePathGetsAWorkingHandle)
{
    const int32_t before = cam_find_context(kVirtualCameraPath);
    ASSERT_GE(before, 0);
    ASSERT_EQ(cam_set_saturation(before, 90), 0);
    setVirtualCameraPresent(false);
    EXPECT_EQ(cam_find_context(kVirtualCameraPath), -1);
    setVirtualCameraPresent(true);

    // Without a new context the camera's bring-up asks for its path again:
    // it must reach the device, not the dead handle of the unplugged one.
    const int32_t after = cam_find_context(kVirtualCameraPath);
    ASSERT_GE(after, 0);
    EXPECT_NE(after, before);
    EXPECT_EQ(cam_set_saturation(after, 70), 0);
    EXPECT_EQ(cam_get_saturation(after), 70);
    EXPECT_EQ(cam_get_saturation(before), -1);
    EXPECT_EQ(cam_find_context(kVirtualCameraPath), after);
}

TEST_F(VirtualCamera, FrameOutlivesItsStream)
{
    cap_record r = record(320, 240, 30);
    ASSERT_EQ(cap_open(&r), CAP_OK);
    cap_frame frame;
    ASSERT_EQ(readFrame(r, frame), CAP_OK);
    cap_close(&r);
    EXPECT_EQ(frame.width, 320);
    volatile uint8_t last = frame.v[160 * 120 - 1];
    (void)last;
    free_frame(&frame);
    free_frame(&frame);  // a second release of the same, now zeroed, record is harmless
}

TEST(UsbOpen, UnknownOrMissingDevicesFailCleanly)
{
    cap_record r;
    std::memset(&r, 0, sizeof r);
    EXPECT_LT(cap_open(&r), 0);  // empty path
    std::strcpy(r.device_path, "v4l2:usb-0000:00:00.0-9&vid_0000&pid_0000#000099");
    r.width = 640;
    r.height = 480;
    EXPECT_LT(cap_open(&r), 0);  // no such node
    std::strcpy(r.device_path, "\\\\?\\usb#vid_0bda&pid_e150#6&2c9e6b8b&0&0000#{x}\\global");
    EXPECT_LT(cap_open(&r), 0);  // a path of no backend
    EXPECT_EQ(r.priv, nullptr);
    EXPECT_LT(cap_open(nullptr), 0);
    EXPECT_LT(cap_read(nullptr, nullptr), 0);
    EXPECT_LT(cap_close(nullptr), 0);
    free_frame(nullptr);
    EXPECT_EQ(cam_probe_devices(nullptr), -1);
}
