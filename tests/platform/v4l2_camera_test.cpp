// The V4L2 backend driven through the capture and control calls against
// scripted UVC cameras: probe and naming, formats and sizes, frames as the
// driver fills them (good, cut short, empty, damaged), controls with ranges,
// steps and automatic modes, a camera pulled out mid-stream, reopening at
// other sizes, and MJPEG decoded on the pool.
#include "capture.h"
#include "control.h"
#include "scripted_uvc.h"
#include "v4l2_backend.h"
#include "virtual_backend.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace usbcam;

namespace {

using Payload = std::shared_ptr<const std::vector<uint8_t>>;

Payload payload(std::vector<uint8_t> bytes) { return std::make_shared<const std::vector<uint8_t>>(std::move(bytes)); }

I420Frame picture(int width, int height, double seconds = 1.0)
{
    I420Frame frame;
    renderVirtualFrame(frame, width, height, seconds);
    return frame;
}

// A flat grey picture whose level tells frames apart.
I420Frame flat(int width, int height, uint8_t level)
{
    I420Frame frame;
    frame.resize(width, height);
    std::memset(frame.y(), level, size_t(width) * height);
    std::memset(frame.u(), 128, frame.data.size() - size_t(width) * height);
    return frame;
}

// Full-range JPEG samples in video range, as the decoder hands them out.
int videoRange(int sample) { return 16 + (sample * 219 + 127) / 255; }

// Threads of this process with the given name that have not begun to exit.
// A joined thread can stay listed for a moment: the kernel wakes the joiner
// before it unlists the thread, but it marks the thread as exiting
// (PF_EXITING, in the flags field of its stat) before either.
int threadsNamed(const char *name)
{
    constexpr unsigned long kExiting = 0x4;
    int count = 0;
    DIR *tasks = opendir("/proc/self/task");
    if (!tasks)
        return -1;
    while (dirent *entry = readdir(tasks)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream statFile(std::string("/proc/self/task/") + entry->d_name + "/stat");
        std::string stat;
        std::getline(statFile, stat);
        // "tid (name) state ppid pgrp session tty tpgid flags ...": the name may hold spaces and parentheses.
        const size_t open = stat.find('(');
        const size_t close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close < open
            || stat.compare(open + 1, close - open - 1, name) != 0)
            continue;
        std::istringstream fields(stat.substr(close + 1));
        std::string field;
        for (int i = 0; i < 7; ++i)
            fields >> field;
        if (!fields || (std::stoul(field) & kExiting) == 0)
            ++count;
    }
    closedir(tasks);
    return count;
}

class V4l2Camera : public ::testing::Test
{
protected:
    void SetUp() override
    {
        camera_ = scripted_.addCamera(0, ScriptedUvcCamera::typical());
        path_ = v4l2PathFor("usb-0000:00:14.0-1", 0x32e4, 0x9415, 0);
    }
    void TearDown() override
    {
        for (cap_record &r : opened_)
            cap_close(&r);
        cam_free_context();
        setMjpegDecodeThreads(-1);
    }

    cap_record &open(int width, int height, int format, int fps = 30, int expected = CAP_OK)
    {
        opened_.emplace_back();
        cap_record &r = opened_.back();
        std::memset(&r, 0, sizeof r);
        std::strncpy(r.device_path, path_.c_str(), sizeof r.device_path - 1);
        r.capture_mode = 5;
        r.width = width;
        r.height = height;
        r.fps = fps;
        r.stream_format = format;
        EXPECT_EQ(cap_open(&r), expected) << width << "x" << height << " format " << format;
        return r;
    }

    // Reads until a frame or the end of the stream, at most about a second.
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

    void send(const std::vector<uint8_t> &bytes, int64_t bytesUsed = -1, bool error = false)
    {
        scripted_.send(camera_, ScriptedFrame{payload(bytes), bytesUsed, error});
    }

    std::deque<cap_record> opened_;
    ScriptedV4l2 scripted_;
    int camera_ = 0;
    std::string path_;
};

} // namespace

TEST(V4l2Probe, ListsCaptureNodesInOrderWithPortIdsAndUvcNames)
{
    ScriptedV4l2 scripted;
    ScriptedUvcCamera typical = ScriptedUvcCamera::typical();
    ScriptedUvcCamera named = typical;
    named.card = "Measuring Microscope UVC 4K 2024";  // fills the 32-byte field: no terminator
    ASSERT_EQ(named.card.size(), 32u);
    named.busInfo = "usb-0000:00:14.0-2";
    named.usbDevice = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2";
    named.vendor = 0x0bda;
    named.product = 0xe150;
    ScriptedUvcCamera other = typical;
    other.card = "vivid";
    other.driver = "vivid";
    other.busInfo = "platform:vivid-000";
    other.usbDevice.clear();
    other.metadataNode = false;
    const int first = scripted.addCamera(2, typical);  // metadata node at 3
    const int second = scripted.addCamera(0, named);   // metadata node at 1
    const int third = scripted.addCamera(10, other);

    cam_probe_buffer buffer;
    cam_probe_devices(&buffer);
    std::vector<std::pair<std::string, std::string>> listed;
    for (int i = 0; i < buffer.count; ++i)
        if (std::strncmp(buffer.devices[i].path, "v4l2:", 5) == 0)
            listed.emplace_back(buffer.devices[i].name, buffer.devices[i].path);
    ASSERT_EQ(listed.size(), 3u);  // no metadata nodes
    EXPECT_EQ(listed[0].first, "Measuring Microscope UVC 4K 2024");
    EXPECT_EQ(listed[0].second, "v4l2:usb-0000:00:14.0-2&vid_0bda&pid_e150#000000");
    EXPECT_EQ(listed[1].first, "USB 4K Camera (UVC)");
    EXPECT_EQ(listed[1].second, "v4l2:usb-0000:00:14.0-1&vid_32e4&pid_9415#000002");
    EXPECT_EQ(listed[2].first, "vivid");  // not a UVC camera: the program leaves it out
    EXPECT_EQ(listed[2].second, "v4l2:platform:vivid-000&vid_0000&pid_0000#000010");
    EXPECT_EQ(v4l2NodeOfPath(listed[1].second), "/dev/video2");
    for (int camera : {first, second, third})
        EXPECT_EQ(scripted.openFiles(camera), 0);

    // Firmware version from the USB release number; none for a camera off USB.
    int32_t version = 0;
    const int32_t usb = cam_find_context(listed[1].second.c_str());
    const int32_t platform = cam_find_context(listed[2].second.c_str());
    ASSERT_GE(usb, 0);
    ASSERT_GE(platform, 0);
    ASSERT_EQ(cam_get_version(usb, &version), 0);
    EXPECT_EQ(version, 102);
    EXPECT_EQ(cam_get_version(platform, &version), -1);
    cam_free_context();
    for (int camera : {first, second, third})
        EXPECT_EQ(scripted.openFiles(camera), 0);
}

TEST_F(V4l2Camera, OpensEachFormatAndDeliversFramesOfTheAskedSize)
{
    struct Case {
        int format;
        int width, height;
        const char *fourcc;
    };
    for (const Case &c : {Case{0, 1280, 720, "MJPG"}, Case{2, 640, 480, "YUYV"}, Case{1, 640, 480, "NV12"}}) {
        SCOPED_TRACE(c.fourcc);
        cap_record &r = open(c.width, c.height, c.format);
        EXPECT_EQ(scripted_.pixelFormat(camera_), c.fourcc);
        EXPECT_EQ(r.width, c.width);
        EXPECT_EQ(r.height, c.height);
        EXPECT_TRUE(scripted_.streaming(camera_));

        const I420Frame source = picture(c.width, c.height);
        send(c.format == 0 ? encodeMjpeg(source, 95) : c.format == 2 ? encodeYuyv(source) : encodeNv12(source));
        cap_frame frame;
        ASSERT_EQ(readFrame(r, frame), CAP_OK);
        EXPECT_EQ(frame.format, CAP_FORMAT_I420);
        EXPECT_EQ(frame.width, c.width);
        EXPECT_EQ(frame.height, c.height);
        EXPECT_EQ(frame.stride_y, c.width);
        EXPECT_EQ(frame.stride_u, c.width / 2);
        // The luma arrives as sent: exactly from YUYV and NV12, through the
        // JPEG quantisation (and into video range) from MJPEG.
        double difference = 0;
        const size_t count = size_t(c.width) * c.height;
        for (size_t i = 0; i < count; ++i)
            difference += std::abs(int(frame.y[i]) - (c.format == 0 ? videoRange(source.data[i]) : source.data[i]));
        EXPECT_LT(difference / double(count), c.format == 0 ? 2.0 : 0.001);
        if (c.format != 0) {
            EXPECT_EQ(std::memcmp(frame.u, source.data.data() + count, count / 4), 0);
            EXPECT_EQ(std::memcmp(frame.v, source.data.data() + count + count / 4, count / 4), 0);
        }
        free_frame(&frame);
        ASSERT_EQ(cap_close(&r), CAP_OK);
        EXPECT_EQ(scripted_.openFiles(camera_), 0);
        EXPECT_EQ(scripted_.mappedBuffers(camera_), 0);
    }
}

TEST_F(V4l2Camera, FormatWithoutTheAskedSizeGivesWayToOneThatHasIt)
{
    // YUYV stops at 1920x1080 and NV12 has no 1280x720: MJPEG has both.
    cap_record &big = open(3840, 2160, 2);
    EXPECT_EQ(scripted_.pixelFormat(camera_), "MJPG");
    EXPECT_EQ(big.width, 3840);
    cap_close(&big);
    cap_record &small = open(1280, 720, 1);
    EXPECT_EQ(scripted_.pixelFormat(camera_), "MJPG");
    EXPECT_EQ(small.height, 720);
}

TEST_F(V4l2Camera, SizeTheCameraLacksIsAdjustedAndReportedBack)
{
    cap_record &r = open(1000, 700, 0);
    EXPECT_EQ(r.width, 1280);
    EXPECT_EQ(r.height, 720);
    EXPECT_EQ(r.buffer_size, 1280 * 720 * 2);
    // A frame of the asked size is not what the camera streams: refused.
    send(encodeMjpeg(picture(1000, 700)));
    send(encodeMjpeg(picture(1280, 720)));
    cap_frame frame;
    std::memset(&frame, 0, sizeof frame);
    EXPECT_EQ(cap_read(&r, &frame), CAP_NO_FRAME);
    ASSERT_EQ(readFrame(r, frame), CAP_OK);
    EXPECT_EQ(frame.width, 1280);
    EXPECT_EQ(frame.height, 720);
    free_frame(&frame);
}

TEST_F(V4l2Camera, RateIsAskedForAndTheNearestOneGranted)
{
    cap_record &fast = open(1920, 1080, 0, 60);
    EXPECT_EQ(scripted_.fps(camera_), 60u);
    cap_close(&fast);
    open(640, 480, 2, 25);
    EXPECT_EQ(scripted_.fps(camera_), 30u);
}

TEST_F(V4l2Camera, DamagedCutShortAndEmptyFramesAreSkippedAndTheStreamGoesOn)
{
    for (int format : {0, 2}) {
        SCOPED_TRACE(format);
        cap_record &r = open(640, 480, format);
        const I420Frame source = picture(640, 480);
        const std::vector<uint8_t> good = format == 0 ? encodeMjpeg(source) : encodeYuyv(source);
        send(good, int64_t(good.size() / 2));  // cut short
        send(good, 0);                         // nothing in it
        send(good, -1, true);                  // the driver saw a damaged transfer
        send(good);
        scripted_.wakeWithoutFrame(camera_, 1);  // poll wakes, DQBUF says EAGAIN
        cap_frame frame;
        for (int i = 0; i < 3; ++i) {
            std::memset(&frame, 0, sizeof frame);
            EXPECT_EQ(cap_read(&r, &frame), CAP_NO_FRAME) << i;
            EXPECT_EQ(frame.y, nullptr);
        }
        ASSERT_EQ(readFrame(r, frame), CAP_OK);
        free_frame(&frame);
        EXPECT_EQ(scripted_.framesDelivered(camera_) % 4, 0);
        // Nothing more comes: reads time out and the stream stays up.
        for (int i = 0; i < 3; ++i) {
            std::memset(&frame, 0, sizeof frame);
            EXPECT_EQ(cap_read(&r, &frame), CAP_NO_FRAME);
        }
        EXPECT_TRUE(scripted_.streaming(camera_));
        cap_close(&r);
    }
}

TEST_F(V4l2Camera, PulledOutWhileStreamingFailsReadsAndFreesTheNode)
{
    const int32_t handle = cam_find_context(path_.c_str());
    ASSERT_GE(handle, 0);
    cap_record &r = open(640, 480, 0);
    const I420Frame source = picture(640, 480);
    scripted_.sendForever(camera_, ScriptedFrame{payload(encodeMjpeg(source))});
    cap_frame held;
    ASSERT_EQ(readFrame(r, held), CAP_OK);
    EXPECT_EQ(scripted_.openFiles(camera_), 2);  // the stream and the control handle

    scripted_.unplug(camera_);
    for (int i = 0; i < 3; ++i) {
        cap_frame frame;
        std::memset(&frame, 0, sizeof frame);
        EXPECT_EQ(cap_read(&r, &frame), CAP_GONE);
        EXPECT_EQ(frame.y, nullptr);
    }
    // The stream let go of its buffers and file at once.
    EXPECT_EQ(scripted_.mappedBuffers(camera_), 0);
    EXPECT_EQ(scripted_.openFiles(camera_), 1);
    EXPECT_EQ(cam_get_saturation(handle), -1);
    EXPECT_EQ(cam_set_saturation(handle, 10), -1);
    EXPECT_EQ(scripted_.openFiles(camera_), 0);
    // A frame taken before stays whole.
    EXPECT_EQ(held.y[held.width * held.height - 1], held.y[held.width * held.height - 1]);
    free_frame(&held);
    EXPECT_EQ(cap_close(&r), CAP_OK);

    cam_probe_buffer buffer;
    cam_probe_devices(&buffer);
    for (int i = 0; i < buffer.count; ++i)
        EXPECT_STRNE(buffer.devices[i].path, path_.c_str());
    open(640, 480, 0, 30, CAP_ERROR);
    EXPECT_EQ(cam_find_context(path_.c_str()), -1);

    // Back in at another node: a new path, a working stream and handle.
    scripted_.plugIn(camera_, 4);
    path_ = v4l2PathFor("usb-0000:00:14.0-1", 0x32e4, 0x9415, 4);
    cap_record &again = open(640, 480, 0);
    scripted_.sendForever(camera_, ScriptedFrame{payload(encodeMjpeg(source))});
    cap_frame frame;
    ASSERT_EQ(readFrame(again, frame), CAP_OK);
    free_frame(&frame);
    const int32_t fresh = cam_find_context(path_.c_str());
    ASSERT_GE(fresh, 0);
    EXPECT_NE(fresh, handle);
    EXPECT_EQ(cam_set_saturation(fresh, 80), 0);
    EXPECT_EQ(cam_get_saturation(fresh), 80);
}

TEST_F(V4l2Camera, ReopenAtANewSizeRecomputesTheBuffers)
{
    struct Case {
        int format, width, height;
        int32_t bytes;
    };
    const Case cases[] = {{0, 640, 480, 640 * 480 * 2},
                          {0, 1920, 1080, 1920 * 1080 * 2},
                          {2, 1280, 720, 1280 * 720 * 2},
                          {1, 640, 480, 640 * 480 * 3 / 2},
                          {0, 640, 480, 640 * 480 * 2}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        cap_record &r = open(c.width, c.height, c.format);
        EXPECT_EQ(r.buffer_size, c.bytes);
        EXPECT_EQ(scripted_.bufferLength(camera_), (size_t(c.bytes) + 4095) / 4096 * 4096);
        EXPECT_EQ(scripted_.bufferCount(camera_), 4);
        const I420Frame source = picture(c.width, c.height);
        send(c.format == 0 ? encodeMjpeg(source) : c.format == 2 ? encodeYuyv(source) : encodeNv12(source));
        cap_frame frame;
        ASSERT_EQ(readFrame(r, frame), CAP_OK);
        EXPECT_EQ(frame.width, c.width);
        EXPECT_EQ(frame.height, c.height);
        free_frame(&frame);
        ASSERT_EQ(cap_close(&r), CAP_OK);
        EXPECT_EQ(scripted_.openFiles(camera_), 0);
        EXPECT_EQ(scripted_.mappedBuffers(camera_), 0);
        EXPECT_EQ(scripted_.bufferCount(camera_), 0);
    }
}

TEST_F(V4l2Camera, SecondStreamOnABusyCameraFailsAndLeavesTheFirstRunning)
{
    cap_record &first = open(640, 480, 0);
    cap_record &second = open(1280, 720, 0, 30, CAP_ERROR);
    EXPECT_EQ(second.priv, nullptr);
    EXPECT_EQ(scripted_.openFiles(camera_), 1);
    send(encodeMjpeg(picture(640, 480)));
    cap_frame frame;
    ASSERT_EQ(readFrame(first, frame), CAP_OK);
    EXPECT_EQ(frame.width, 640);
    free_frame(&frame);
}

TEST_F(V4l2Camera, EveryMappedControlRoundTrips)
{
    const int32_t h = cam_find_context(path_.c_str());
    ASSERT_GE(h, 0);
    const auto device = [&](const char *name) { return scripted_.controlValue(camera_, name); };

    // Exposure: manual is menu entry 1, automatic the camera's aperture priority.
    EXPECT_EQ(cam_get_exposure_mode(h), 1);
    EXPECT_EQ(cam_set_exposure_time(h, 300), -1);  // inactive under automatic exposure
    EXPECT_EQ(cam_set_exposure_mode(h, 0), 0);
    EXPECT_EQ(device("Auto Exposure"), 1);
    EXPECT_EQ(cam_get_exposure_mode(h), 0);
    EXPECT_EQ(cam_set_exposure_time(h, 300), 0);
    EXPECT_EQ(cam_get_exposure_time(h), 300);
    EXPECT_EQ(cam_set_exposure_time(h, 6000), -1);
    EXPECT_EQ(cam_set_exposure_gain(h, 40), 0);
    EXPECT_EQ(cam_get_exposure_gain(h), 40);
    EXPECT_EQ(cam_set_exposure_mode(h, 1), 0);
    EXPECT_EQ(device("Auto Exposure"), 3);
    EXPECT_EQ(cam_get_exposure_mode(h), 1);
    EXPECT_EQ(cam_set_exposure_mode(h, 2), -1);
    EXPECT_EQ(cam_set_exposure_compensation(h, -10), 0);
    EXPECT_EQ(cam_get_exposure_compensation(h), -10);
    EXPECT_EQ(device("Brightness"), -10);

    // White balance: a colour temperature stands for the red component; the
    // camera has no green or blue gain.
    EXPECT_EQ(cam_get_white_balance_mode(h), 1);
    // The component's range 1..4095 maps onto the camera's own 2800..6500 K.
    EXPECT_EQ(cam_set_white_balance_component_red(h, 2048), -1);
    EXPECT_EQ(cam_set_white_balance_mode(h, 0), 0);
    EXPECT_EQ(device("White Balance, Automatic"), 0);
    EXPECT_EQ(cam_set_white_balance_component_red(h, 4095), 0);
    EXPECT_EQ(device("White Balance Temperature"), 6500);
    EXPECT_EQ(cam_get_white_balance_component_red(h), 4095);
    EXPECT_EQ(cam_set_white_balance_component_red(h, 1), 0);
    EXPECT_EQ(device("White Balance Temperature"), 2800);
    EXPECT_EQ(cam_get_white_balance_component_red(h), 1);
    EXPECT_EQ(cam_set_white_balance_component_red(h, 2048), 0);
    const int kelvin = device("White Balance Temperature");
    EXPECT_EQ((kelvin - 2800) % 10, 0);  // on the camera's step of 10
    EXPECT_NEAR(kelvin, 4650, 10);
    EXPECT_NEAR(cam_get_white_balance_component_red(h), 2048, 12);
    EXPECT_EQ(cam_get_white_balance_component_green(h), -1);
    EXPECT_EQ(cam_set_white_balance_component_green(h, 256), -1);
    EXPECT_EQ(cam_get_white_balance_component_blue(h), -1);
    EXPECT_EQ(cam_set_white_balance_component_blue(h, 400), -1);

    // Focus: continuous auto, manual, and once (manual where the camera has no
    // one-shot search).
    EXPECT_EQ(cam_get_focus_mode(h), 1);
    EXPECT_EQ(cam_set_focus(h, 300), -1);
    EXPECT_EQ(cam_set_focus_mode(h, 0), 0);
    EXPECT_EQ(cam_get_focus_mode(h), 0);
    EXPECT_EQ(cam_set_focus(h, 300), 0);
    EXPECT_EQ(cam_get_focus(h), 300);
    EXPECT_EQ(cam_set_focus_mode(h, 1), 0);
    EXPECT_EQ(device("Focus, Automatic Continuous"), 1);
    EXPECT_EQ(cam_set_focus_mode(h, 2), 0);
    EXPECT_EQ(device("Focus, Automatic Continuous"), 0);
    EXPECT_EQ(cam_set_focus_mode(h, 3), -1);
    EXPECT_EQ(cam_trigger_focus_once(h), -1);
    int32_t x = 0, y = 0;
    EXPECT_EQ(cam_get_focus_region(h, &x, &y), -1);

    // Picture controls with their ranges; hue moves in steps of 100.
    struct Plain {
        int32_t (*get)(int32_t);
        int (*set)(int32_t, int32_t);
        int (*range)(int32_t, int32_t *, int32_t *, int32_t *);
        const char *name;
        int value, minimum, maximum, defaultValue;
    };
    const Plain plain[] = {
        {cam_get_hue, cam_set_hue, cam_get_hue_range, "Hue", 200, -2000, 2000, 0},
        {cam_get_saturation, cam_set_saturation, cam_get_saturation_range, "Saturation", 100, 0, 128, 64},
        {cam_get_contrast, cam_set_contrast, cam_get_contrast_range, "Contrast", 10, 0, 64, 32},
        {cam_get_sharpness, cam_set_sharpness, cam_get_sharpness_range, "Sharpness", 5, 0, 6, 3},
        {cam_get_gamma, cam_set_gamma, cam_get_gamma_range, "Gamma", 200, 72, 500, 100},
        {cam_get_exposure_gain, cam_set_exposure_gain, cam_get_exposure_gain_range, "Gain", 7, 0, 100, 0},
        {cam_get_exposure_compensation, cam_set_exposure_compensation, cam_get_exposure_compensation_range,
         "Brightness", 12, -64, 64, 0},
    };
    for (const Plain &p : plain) {
        SCOPED_TRACE(p.name);
        int32_t minimum = 0, maximum = 0, defaultValue = 0;
        ASSERT_EQ(p.range(h, &minimum, &maximum, &defaultValue), 0);
        EXPECT_EQ(minimum, p.minimum);
        EXPECT_EQ(maximum, p.maximum);
        EXPECT_EQ(defaultValue, p.defaultValue);
        EXPECT_EQ(p.set(h, p.value), 0);
        EXPECT_EQ(p.get(h), p.value);
        EXPECT_EQ(device(p.name), p.value);
        EXPECT_EQ(p.set(h, p.maximum + 1), -1);
        EXPECT_EQ(p.set(h, p.minimum - 1), -1);
        EXPECT_EQ(p.get(h), p.value);
    }
    EXPECT_EQ(cam_set_hue(h, 150), 0);
    EXPECT_EQ(cam_get_hue(h), 200);
    EXPECT_EQ(cam_set_hue(h, -149), 0);
    EXPECT_EQ(cam_get_hue(h), -100);

    // Switches.
    EXPECT_EQ(cam_set_flip(h, 1), 0);
    EXPECT_EQ(device("Vertical Flip"), 1);
    EXPECT_EQ(cam_get_flip(h), 1);
    EXPECT_EQ(cam_set_mirror(h, 1), 0);
    EXPECT_EQ(device("Horizontal Flip"), 1);
    EXPECT_EQ(cam_get_mirror(h), 1);
    EXPECT_EQ(cam_set_mirror(h, 0), 0);
    EXPECT_EQ(cam_get_mirror(h), 0);
    EXPECT_EQ(cam_set_flick(h, 0), 0);
    EXPECT_EQ(device("Power Line Frequency"), 0);
    EXPECT_EQ(cam_get_flick(h), 0);
    EXPECT_EQ(cam_set_flick(h, 1), 0);  // no automatic entry: 50 Hz
    EXPECT_EQ(device("Power Line Frequency"), 1);
    EXPECT_EQ(cam_get_flick(h), 1);
    scripted_.setControlValue(camera_, "Power Line Frequency", 2);  // 60 Hz counts as on
    EXPECT_EQ(cam_get_flick(h), 1);
    EXPECT_EQ(cam_set_flick(h, 2), -1);

    // What UVC has no request for.
    EXPECT_EQ(cam_get_zoom(h), -1);
    EXPECT_EQ(cam_set_zoom(h, 10), -1);
    EXPECT_EQ(cam_get_demist(h), -1);
    EXPECT_EQ(cam_set_demist(h, 1), -1);
    EXPECT_EQ(cam_save_config(h), -1);
    int32_t version = 0;
    EXPECT_EQ(cam_get_version(h, &version), 0);
    EXPECT_EQ(version, 102);
}

TEST_F(V4l2Camera, ControlTheCameraLacksAnswersMinusOne)
{
    ScriptedUvcCamera model = ScriptedUvcCamera::typical();
    model.removeControl("Saturation");
    model.removeControl("Brightness");
    model.busInfo = "usb-0000:00:14.0-3";
    model.usbDevice = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-3";
    scripted_.addCamera(6, model);
    const int32_t h = cam_find_context(v4l2PathFor(model.busInfo, model.vendor, model.product, 6).c_str());
    ASSERT_GE(h, 0);
    int32_t minimum = 0, maximum = 0, defaultValue = 0;
    EXPECT_EQ(cam_get_saturation(h), -1);
    EXPECT_EQ(cam_set_saturation(h, 10), -1);
    EXPECT_EQ(cam_get_saturation_range(h, &minimum, &maximum, &defaultValue), -1);
    EXPECT_EQ(cam_get_exposure_compensation(h), -1);
    EXPECT_EQ(cam_get_exposure_compensation_range(h, &minimum, &maximum, &defaultValue), -1);
    EXPECT_EQ(cam_set_contrast(h, 20), 0);
    EXPECT_EQ(cam_get_contrast(h), 20);
}

TEST_F(V4l2Camera, ControlCallsFromSeveralThreadsShareOneHandle)
{
    const int32_t h = cam_find_context(path_.c_str());
    ASSERT_GE(h, 0);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                if (cam_set_contrast(h, (t * 7 + i) % 64) != 0 || cam_get_contrast(h) < 0)
                    ++failures;
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(scripted_.openFiles(camera_), 1);
}

TEST_F(V4l2Camera, PoolHandsFramesOnInCaptureOrderAtMostOneBehind)
{
    setMjpegDecodeThreads(2);
    cap_record &r = open(1280, 720, 0);
    EXPECT_EQ(threadsNamed("mjpeg decode"), 2);
    // Detailed pictures (slow to decode) take turns with flat ones (quick),
    // so that a later frame is often ready first; a flat block in the middle
    // tells them apart.
    constexpr int kFrames = 14;
    const auto frame = [](int k) {
        I420Frame source = k % 2 ? flat(1280, 720, 128) : picture(1280, 720, k);
        for (int row = 320; row < 384; ++row)
            std::memset(source.y() + size_t(row) * 1280 + 608, 30 + 15 * k, 64);
        return encodeMjpeg(source, 95);
    };
    for (int k = 0; k < kFrames; ++k) {
        if (k == 5) {
            const std::vector<uint8_t> bytes = frame(k);
            send(bytes, int64_t(bytes.size() / 3));  // cut short: skipped
        }
        send(frame(k));
    }
    std::vector<int> levels;
    int handedOn = 0;  // frames out of the pool; the cut-short one counts once it is next
    for (int attempt = 0; attempt < 200 && int(levels.size()) < kFrames; ++attempt) {
        // Out of the device and not yet handed on: the next frame and at
        // most one newer one.
        EXPECT_LE(scripted_.framesDelivered(camera_) - handedOn, 2);
        cap_frame image;
        std::memset(&image, 0, sizeof image);
        const int result = cap_read(&r, &image);
        ASSERT_NE(result, CAP_GONE);
        if (result != CAP_OK)
            continue;
        EXPECT_EQ(image.width, 1280);
        levels.push_back(image.y[352 * 1280 + 640]);
        free_frame(&image);
        handedOn = int(levels.size()) + (levels.size() >= 5 ? 1 : 0);
    }
    ASSERT_EQ(int(levels.size()), kFrames);
    for (int k = 0; k < kFrames; ++k)
        EXPECT_NEAR(levels[size_t(k)], videoRange(30 + 15 * k), 2) << k;
}

TEST_F(V4l2Camera, PoolDecodesExactlyLikeTheReadingThread)
{
    const std::vector<uint8_t> jpeg = encodeMjpeg(picture(640, 480));
    std::vector<uint8_t> planes[2];
    for (int threads : {0, 2}) {
        setMjpegDecodeThreads(threads);
        cap_record &r = open(640, 480, 0);
        send(jpeg);
        cap_frame frame;
        ASSERT_EQ(readFrame(r, frame), CAP_OK);
        planes[threads ? 1 : 0].assign(frame.y, frame.y + I420Frame::sizeFor(640, 480));
        free_frame(&frame);
        cap_close(&r);
    }
    EXPECT_TRUE(planes[0] == planes[1]);
}

TEST_F(V4l2Camera, PoolServesFastLargeStreamsOnly)
{
    // 1080p at 60 fps is more than one core decodes; 640x480 at 30 is not.
    cap_record &fast = open(1920, 1080, 0, 60);
    EXPECT_EQ(threadsNamed("mjpeg decode"), kMjpegDecodeThreads);
    cap_close(&fast);
    EXPECT_EQ(threadsNamed("mjpeg decode"), 0);
    cap_record &slow = open(640, 480, 0, 30);
    EXPECT_EQ(threadsNamed("mjpeg decode"), 0);
    cap_close(&slow);
    cap_record &raw = open(1920, 1080, 2, 60);  // YUYV needs no decoding
    EXPECT_EQ(threadsNamed("mjpeg decode"), 0);
    cap_close(&raw);
}

TEST_F(V4l2Camera, PulledOutWithFramesInThePool)
{
    setMjpegDecodeThreads(2);
    cap_record &r = open(640, 480, 0);
    scripted_.sendForever(camera_, ScriptedFrame{payload(encodeMjpeg(picture(640, 480)))});
    cap_frame frame;
    ASSERT_EQ(readFrame(r, frame), CAP_OK);
    free_frame(&frame);
    std::memset(&frame, 0, sizeof frame);
    cap_read(&r, &frame);  // the pool holds frames again
    free_frame(&frame);
    scripted_.unplug(camera_);
    // Frames the pool still held may come first.
    int result = CAP_OK;
    for (int held = 0; result == CAP_OK && held < 10; ++held) {
        result = readFrame(r, frame);
        free_frame(&frame);
    }
    EXPECT_EQ(result, CAP_GONE);
    EXPECT_EQ(scripted_.openFiles(camera_), 0);
    EXPECT_EQ(cap_close(&r), CAP_OK);
    EXPECT_EQ(threadsNamed("mjpeg decode"), 0);
}
