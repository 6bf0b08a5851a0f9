#include "v4l2_backend.h"

#include "convert.h"
#include "mjpeg_pool.h"
#include "v4l2_system.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>

namespace usbcam {
namespace {

std::atomic<int> mjpegDecodeThreads{-1};

std::string nodePath(int node) { return "/dev/video" + std::to_string(node); }

bool readHexAttribute(const V4l2System &system, const std::string &path, unsigned &value)
{
    std::string line;
    if (!system.readLine(path, line) || line.empty())
        return false;
    char *end = nullptr;
    const unsigned long parsed = std::strtoul(line.c_str(), &end, 16);
    if (end == line.c_str() || parsed > 0xffff)
        return false;
    value = unsigned(parsed);
    return true;
}

// The USB device directory above a video node's interface in sysfs; empty
// when the node has none.
std::string usbDeviceDirectory(const V4l2System &system, int node)
{
    std::string directory;
    if (!system.resolveLink("/sys/class/video4linux/video" + std::to_string(node) + "/device", directory))
        return {};
    // The link points at the interface ("1-1:1.0"); idProduct lives one up.
    const size_t slash = directory.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return {};
    return directory.substr(0, slash);
}

bool queryCapture(const V4l2System &system, int fd, v4l2_capability &capability)
{
    std::memset(&capability, 0, sizeof capability);
    if (system.ioctl(fd, VIDIOC_QUERYCAP, &capability) != 0)
        return false;
    const uint32_t caps = (capability.capabilities & V4L2_CAP_DEVICE_CAPS) ? capability.device_caps
                                                                            : capability.capabilities;
    // Metadata nodes of UVC cameras have neither bit.
    return (caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING);
}

std::string cString(const uint8_t *text, size_t size) { return std::string(reinterpret_cast<const char *>(text), strnlen(reinterpret_cast<const char *>(text), size)); }

// The V4L2 controls behind each control call, tried in order.
std::vector<uint32_t> controlIds(Control control)
{
    switch (control) {
    case Control::ExposureMode: return {V4L2_CID_EXPOSURE_AUTO};
    case Control::ExposureTime: return {V4L2_CID_EXPOSURE_ABSOLUTE};
    case Control::ExposureGain: return {V4L2_CID_GAIN};
    case Control::ExposureCompensation: return {V4L2_CID_BRIGHTNESS, V4L2_CID_AUTO_EXPOSURE_BIAS};
    case Control::WhiteBalanceMode: return {V4L2_CID_AUTO_WHITE_BALANCE};
    // UVC cameras offer a colour temperature rather than red/blue gains.
    case Control::WhiteBalanceRed: return {V4L2_CID_RED_BALANCE, V4L2_CID_WHITE_BALANCE_TEMPERATURE};
    case Control::WhiteBalanceGreen: return {};
    case Control::WhiteBalanceBlue: return {V4L2_CID_BLUE_BALANCE};
    case Control::Focus: return {V4L2_CID_FOCUS_ABSOLUTE};
    case Control::FocusMode: return {V4L2_CID_FOCUS_AUTO};
    case Control::Zoom: return {V4L2_CID_ZOOM_ABSOLUTE};
    case Control::Demist: return {};
    case Control::Hue: return {V4L2_CID_HUE};
    case Control::Saturation: return {V4L2_CID_SATURATION};
    case Control::Contrast: return {V4L2_CID_CONTRAST};
    case Control::Sharpness: return {V4L2_CID_SHARPNESS};
    case Control::Gamma: return {V4L2_CID_GAMMA};
    case Control::Flip: return {V4L2_CID_VFLIP};
    case Control::Mirror: return {V4L2_CID_HFLIP};
    case Control::Flicker: return {V4L2_CID_POWER_LINE_FREQUENCY};
    case Control::Count: break;
    }
    return {};
}

// Calls may come from any thread; they take turns on the one file. The file
// is closed as soon as the driver says the camera has gone (ENODEV), so that
// the node is freed for the camera when it is plugged in again.
class V4l2Control final : public ControlDevice
{
public:
    V4l2Control(const V4l2System &system, int fd, int version) : system_(system), fd_(fd), version_(version) {}
    ~V4l2Control() override
    {
        if (fd_ >= 0)
            system_.close(fd_);
    }

    int get(Control control) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        v4l2_queryctrl query;
        if (!find(control, query))
            return -1;
        int value = 0;
        if (!read(query.id, value))
            return -1;
        switch (control) {
        case Control::ExposureMode: return value == V4L2_EXPOSURE_MANUAL ? 0 : 1;
        case Control::Flicker: return value == V4L2_CID_POWER_LINE_FREQUENCY_DISABLED ? 0 : 1;
        case Control::FocusMode: return value ? 1 : 0;
        case Control::WhiteBalanceRed:
        case Control::WhiteBalanceGreen:
        case Control::WhiteBalanceBlue: return whiteBalanceFromDevice(value, query.minimum, query.maximum);
        default: return value;
        }
    }

    int set(Control control, int value) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        v4l2_queryctrl query;
        if (!find(control, query))
            return -1;
        int deviceValue = value;
        switch (control) {
        case Control::ExposureMode:
            if (value != 0 && value != 1)
                return -1;
            // UVC cameras take "aperture priority" as their automatic mode.
            deviceValue = value == 0 ? V4L2_EXPOSURE_MANUAL
                                     : (menuHas(query, V4L2_EXPOSURE_APERTURE_PRIORITY) ? V4L2_EXPOSURE_APERTURE_PRIORITY
                                                                                        : V4L2_EXPOSURE_AUTO);
            break;
        case Control::Flicker:
            if (value != 0 && value != 1)
                return -1;
            deviceValue = value == 0 ? V4L2_CID_POWER_LINE_FREQUENCY_DISABLED
                                     : (menuHas(query, V4L2_CID_POWER_LINE_FREQUENCY_AUTO) ? V4L2_CID_POWER_LINE_FREQUENCY_AUTO
                                                                                           : V4L2_CID_POWER_LINE_FREQUENCY_50HZ);
            break;
        case Control::FocusMode:
            if (value < 0 || value > 2)
                return -1;
            if (value == 2) {
                // Once: manual focus, then a single automatic search.
                if (!write(query.id, 0))
                    return -1;
                // Cameras without a one-shot trigger simply stay in manual focus.
                focusOnce();
                return 0;
            }
            deviceValue = value;
            break;
        case Control::WhiteBalanceRed:
        case Control::WhiteBalanceGreen:
        case Control::WhiteBalanceBlue:
            deviceValue = whiteBalanceToDevice(value, query.minimum, query.maximum, query.step);
            break;
        default:
            if (value < query.minimum || value > query.maximum)
                return -1;
            break;
        }
        return write(query.id, deviceValue) ? 0 : -1;
    }

    int range(Control control, ControlRange &out) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        v4l2_queryctrl query;
        if (!find(control, query))
            return -1;
        out.minimum = query.minimum;
        out.maximum = query.maximum;
        out.defaultValue = query.default_value;
        return 0;
    }

    int version() override { return version_; }
    int focusRegion(int &, int &) override { return -1; }
    int setFocusRegion(int, int) override { return -1; }
    int triggerFocusOnce() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return focusOnce();
    }
    // UVC has no "store the settings" request.
    int saveConfig() override { return -1; }
    int focusCurveTest() override { return -1; }
    int focusCurveCheck() override { return -1; }
    // The driver answers ENODEV on the file of an unplugged camera.
    bool alive() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        v4l2_capability capability;
        return request(VIDIOC_QUERYCAP, &capability) || (fd_ >= 0 && errno != ENODEV);
    }

private:
    bool request(unsigned long code, void *argument)
    {
        if (fd_ < 0) {
            errno = ENODEV;
            return false;
        }
        if (system_.ioctl(fd_, code, argument) == 0)
            return true;
        if (errno == ENODEV) {
            system_.close(fd_);
            fd_ = -1;
            errno = ENODEV;
        }
        return false;
    }
    int focusOnce()
    {
        v4l2_queryctrl query;
        std::memset(&query, 0, sizeof query);
        query.id = V4L2_CID_AUTO_FOCUS_START;
        if (!request(VIDIOC_QUERYCTRL, &query) || (query.flags & V4L2_CTRL_FLAG_DISABLED))
            return -1;
        return write(query.id, 1) ? 0 : -1;
    }
    bool find(Control control, v4l2_queryctrl &query)
    {
        for (uint32_t id : controlIds(control)) {
            std::memset(&query, 0, sizeof query);
            query.id = id;
            if (request(VIDIOC_QUERYCTRL, &query) && !(query.flags & V4L2_CTRL_FLAG_DISABLED))
                return true;
        }
        return false;
    }
    bool menuHas(const v4l2_queryctrl &query, int index)
    {
        v4l2_querymenu menu;
        std::memset(&menu, 0, sizeof menu);
        menu.id = query.id;
        menu.index = uint32_t(index);
        return request(VIDIOC_QUERYMENU, &menu);
    }
    bool read(uint32_t id, int &value)
    {
        v4l2_control control{};
        control.id = id;
        if (!request(VIDIOC_G_CTRL, &control))
            return false;
        value = control.value;
        return true;
    }
    bool write(uint32_t id, int value)
    {
        v4l2_control control{};
        control.id = id;
        control.value = value;
        return request(VIDIOC_S_CTRL, &control);
    }

    const V4l2System &system_;
    std::mutex mutex_;
    int fd_;
    const int version_;
};

uint32_t fourccFor(StreamFormat format)
{
    switch (format) {
    case StreamFormat::Nv12: return V4L2_PIX_FMT_NV12;
    case StreamFormat::Yuyv: return V4L2_PIX_FMT_YUYV;
    case StreamFormat::Mjpeg: break;
    }
    return V4L2_PIX_FMT_MJPEG;
}

class V4l2Stream final : public CaptureStream
{
public:
    explicit V4l2Stream(const V4l2System &system) : system_(system) {}
    ~V4l2Stream() override
    {
        pool_.reset();
        release();
    }

    bool start(const std::string &node, const StreamRequest &request)
    {
        fd_ = system_.open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0)
            return false;
        v4l2_capability capability;
        if (!queryCapture(system_, fd_, capability))
            return false;
        if (!negotiate(request))
            return false;

        v4l2_streamparm parm;
        std::memset(&parm, 0, sizeof parm);
        parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        parm.parm.capture.timeperframe.numerator = 1;
        parm.parm.capture.timeperframe.denominator = uint32_t(request.fps > 0 ? request.fps : 30);
        int fps = int(parm.parm.capture.timeperframe.denominator);
        // A camera without rate choice keeps its own; the driver writes back
        // the rate it picked.
        if (system_.ioctl(fd_, VIDIOC_S_PARM, &parm) == 0) {
            const v4l2_fract granted = parm.parm.capture.timeperframe;
            if (granted.numerator > 0 && granted.denominator > 0)
                fps = std::max(1, int((granted.denominator + granted.numerator / 2) / granted.numerator));
        }

        v4l2_requestbuffers buffers;
        std::memset(&buffers, 0, sizeof buffers);
        buffers.count = 4;
        buffers.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffers.memory = V4L2_MEMORY_MMAP;
        if (system_.ioctl(fd_, VIDIOC_REQBUFS, &buffers) != 0 || buffers.count < 2)
            return false;
        for (uint32_t i = 0; i < buffers.count; ++i) {
            v4l2_buffer buffer;
            std::memset(&buffer, 0, sizeof buffer);
            buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buffer.memory = V4L2_MEMORY_MMAP;
            buffer.index = i;
            if (system_.ioctl(fd_, VIDIOC_QUERYBUF, &buffer) != 0)
                return false;
            void *start = system_.mmap(nullptr, buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_,
                                       off_t(buffer.m.offset));
            if (start == MAP_FAILED)
                return false;
            maps_.push_back({start, buffer.length});
            if (system_.ioctl(fd_, VIDIOC_QBUF, &buffer) != 0)
                return false;
        }
        v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (system_.ioctl(fd_, VIDIOC_STREAMON, &type) != 0)
            return false;
        streaming_ = true;

        if (fourcc_ == V4L2_PIX_FMT_MJPEG) {
            int threads = mjpegDecodeThreads.load();
            if (threads < 0) {
                const double pixelsPerSecond = double(width_) * height_ * fps;
                threads = pixelsPerSecond > 1920.0 * 1080.0 * 30.0 ? kMjpegDecodeThreads : 0;
            }
            if (threads > 0) {
                // The pool's threads take turns at the device; the reading
                // thread leaves it to them.
                pool_ = std::make_unique<MjpegDecodePool>(
                    std::min(threads, kMjpegDecodeThreads), width_, height_,
                    [this](std::vector<uint8_t> &jpeg, int timeoutMs) {
                        const ReadResult result = dequeue(timeoutMs, [&](const uint8_t *data, size_t used) {
                            if (used == 0)
                                return false;
                            jpeg.assign(data, data + used);
                            return true;
                        });
                        return result == ReadResult::Frame  ? MjpegDecodePool::Fetch::Frame
                               : result == ReadResult::Gone ? MjpegDecodePool::Fetch::Gone
                                                            : MjpegDecodePool::Fetch::NoFrame;
                    });
            }
        }
        return true;
    }

    int width() const override { return width_; }
    int height() const override { return height_; }
    size_t deviceFrameBytes() const override { return frameBytes_; }

    ReadResult read(I420Frame &out, int timeoutMs) override
    {
        ReadResult result;
        if (pool_) {
            switch (pool_->takeOldest(out, timeoutMs)) {
            case MjpegDecodePool::Result::Frame: result = ReadResult::Frame; break;
            case MjpegDecodePool::Result::Gone: result = ReadResult::Gone; break;
            default: result = ReadResult::NoFrame; break;
            }
        } else {
            result = dequeue(timeoutMs, [&](const uint8_t *data, size_t used) { return convert(data, used, out); });
        }
        if (result == ReadResult::Gone) {
            // The camera has gone: its buffers and file are released at once,
            // so that the driver can free the node for the camera's return.
            pool_.reset();
            release();
        }
        return result;
    }

private:
    struct Mapping {
        void *start;
        size_t length;
    };

    // Waits at most `timeoutMs` for a filled buffer, hands its bytes to `use`
    // and gives the buffer back to the driver. Frame when `use` took them.
    // On the reading thread, or on the pool's threads one at a time.
    template <typename Use>
    ReadResult dequeue(int timeoutMs, Use &&use)
    {
        if (gone_ || fd_ < 0)
            return ReadResult::Gone;
        pollfd waiter{fd_, POLLIN, 0};
        const int ready = system_.poll(&waiter, 1, timeoutMs);
        if (ready == 0)
            return ReadResult::NoFrame;
        if (ready < 0)
            return errno == EINTR ? ReadResult::NoFrame : markGone();
        if (waiter.revents & (POLLERR | POLLHUP | POLLNVAL))
            return markGone();

        v4l2_buffer buffer;
        std::memset(&buffer, 0, sizeof buffer);
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (system_.ioctl(fd_, VIDIOC_DQBUF, &buffer) != 0) {
            // EIO: a transfer error on this frame; the stream goes on.
            return errno == EAGAIN || errno == EIO ? ReadResult::NoFrame : markGone();
        }
        bool taken = false;
        if (buffer.index < maps_.size() && !(buffer.flags & V4L2_BUF_FLAG_ERROR)) {
            const size_t used = std::min<size_t>(buffer.bytesused, maps_[buffer.index].length);
            taken = use(static_cast<const uint8_t *>(maps_[buffer.index].start), used);
        }
        if (system_.ioctl(fd_, VIDIOC_QBUF, &buffer) != 0 && errno == ENODEV)
            markGone();
        return taken ? ReadResult::Frame : ReadResult::NoFrame;
    }

    ReadResult markGone()
    {
        gone_ = true;
        return ReadResult::Gone;
    }

    bool offers(uint32_t fourcc, int width, int height)
    {
        v4l2_frmsizeenum size;
        // Bounded: a driver that ignored the index would never end the list.
        for (uint32_t index = 0; index < 1024; ++index) {
            std::memset(&size, 0, sizeof size);
            size.index = index;
            size.pixel_format = fourcc;
            if (system_.ioctl(fd_, VIDIOC_ENUM_FRAMESIZES, &size) != 0)
                return false;
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                if (int(size.discrete.width) == width && int(size.discrete.height) == height)
                    return true;
            } else {
                const auto &s = size.stepwise;
                return uint32_t(width) >= s.min_width && uint32_t(width) <= s.max_width
                       && uint32_t(height) >= s.min_height && uint32_t(height) <= s.max_height;
            }
        }
        return false;
    }

    // The preferred format when the device offers it at the asked size, else
    // the first of MJPEG, YUYV and NV12 that it offers at that size, else the
    // preferred format at whatever size the driver picks.
    bool negotiate(const StreamRequest &request)
    {
        std::vector<uint32_t> order = {fourccFor(request.preferred)};
        for (uint32_t f : {V4L2_PIX_FMT_MJPEG, V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_NV12})
            if (f != order.front())
                order.push_back(f);
        uint32_t chosen = 0;
        for (uint32_t f : order) {
            if (offers(f, request.width, request.height)) {
                chosen = f;
                break;
            }
        }
        std::vector<uint32_t> attempts = chosen ? std::vector<uint32_t>{chosen} : order;
        for (uint32_t f : attempts) {
            v4l2_format format;
            std::memset(&format, 0, sizeof format);
            format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            format.fmt.pix.width = uint32_t(request.width);
            format.fmt.pix.height = uint32_t(request.height);
            format.fmt.pix.pixelformat = f;
            format.fmt.pix.field = V4L2_FIELD_NONE;
            if (system_.ioctl(fd_, VIDIOC_S_FMT, &format) != 0 || format.fmt.pix.pixelformat != f)
                continue;
            if (format.fmt.pix.width == 0 || format.fmt.pix.height == 0 || format.fmt.pix.width > 16384
                || format.fmt.pix.height > 16384)
                continue;
            fourcc_ = f;
            width_ = int(format.fmt.pix.width);
            height_ = int(format.fmt.pix.height);
            // The driver's stride; packed formats at least the plain row size.
            const int bytesPerPixelRow = f == V4L2_PIX_FMT_YUYV ? width_ * 2 : width_;
            stride_ = std::max(int(format.fmt.pix.bytesperline), bytesPerPixelRow);
            // Bytes one frame takes, from the negotiated size and format.
            if (f == V4L2_PIX_FMT_YUYV)
                frameBytes_ = size_t(stride_) * height_;
            else if (f == V4L2_PIX_FMT_NV12)
                frameBytes_ = size_t(stride_) * height_ + size_t(stride_) * ((height_ + 1) / 2);
            else
                frameBytes_ = std::max<size_t>(format.fmt.pix.sizeimage, size_t(width_) * height_ * 2);
            return true;
        }
        return false;
    }

    bool convert(const uint8_t *data, size_t used, I420Frame &out)
    {
        out.resize(width_, height_);
        switch (fourcc_) {
        case V4L2_PIX_FMT_YUYV:
            // A short buffer means the device changed format or lost data.
            if (used < size_t(stride_) * (height_ - 1) + size_t(width_) * 2 || (width_ & 1))
                return false;
            yuyvToI420(data, stride_, width_, height_, out.y(), out.u(), out.v());
            return true;
        case V4L2_PIX_FMT_NV12: {
            const size_t chromaRows = size_t((height_ + 1) / 2);
            if (used < size_t(stride_) * height_ + size_t(stride_) * (chromaRows - 1) + size_t((width_ + 1) / 2) * 2)
                return false;
            nv12ToI420(data, stride_, data + size_t(stride_) * height_, stride_, width_, height_, out.y(), out.u(),
                       out.v());
            return true;
        }
        default:
            return decoder_.decode(data, used, width_, height_, out.y(), out.u(), out.v());
        }
    }

    void release()
    {
        if (fd_ < 0)
            return;
        if (streaming_ && !gone_) {
            v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            system_.ioctl(fd_, VIDIOC_STREAMOFF, &type);
        }
        streaming_ = false;
        for (const Mapping &m : maps_)
            system_.munmap(m.start, m.length);
        maps_.clear();
        system_.close(fd_);
        fd_ = -1;
    }

    const V4l2System &system_;
    int fd_ = -1;
    bool streaming_ = false;
    std::atomic<bool> gone_{false};
    uint32_t fourcc_ = 0;
    int width_ = 0, height_ = 0, stride_ = 0;
    size_t frameBytes_ = 0;
    std::vector<Mapping> maps_;
    MjpegDecoder decoder_;
    std::unique_ptr<MjpegDecodePool> pool_;
};

} // namespace

int whiteBalanceToDevice(int component, int deviceMinimum, int deviceMaximum, int deviceStep)
{
    if (deviceMaximum <= deviceMinimum)
        return deviceMinimum;
    const long long span = kWhiteBalanceComponentMaximum - kWhiteBalanceComponentMinimum;
    const long long offset = std::clamp(component, kWhiteBalanceComponentMinimum, kWhiteBalanceComponentMaximum)
                             - kWhiteBalanceComponentMinimum;
    const long long range = (long long)deviceMaximum - deviceMinimum;
    long long steps = (offset * range + span / 2) / span;
    if (deviceStep > 1)
        steps = std::min((steps + deviceStep / 2) / deviceStep * deviceStep, range / deviceStep * deviceStep);
    return int(deviceMinimum + steps);
}

int whiteBalanceFromDevice(int deviceValue, int deviceMinimum, int deviceMaximum)
{
    if (deviceMaximum <= deviceMinimum)
        return kWhiteBalanceComponentMinimum;
    const long long span = kWhiteBalanceComponentMaximum - kWhiteBalanceComponentMinimum;
    const long long range = (long long)deviceMaximum - deviceMinimum;
    const long long offset = std::clamp(deviceValue, deviceMinimum, deviceMaximum) - (long long)deviceMinimum;
    return int(kWhiteBalanceComponentMinimum + (offset * span + range / 2) / range);
}

std::string v4l2PathFor(const std::string &busInfo, unsigned vendor, unsigned product, int node)
{
    char tail[64];
    std::snprintf(tail, sizeof tail, "&vid_%04x&pid_%04x#%06d", vendor & 0xffff, product & 0xffff, node);
    return "v4l2:" + busInfo + tail;
}

std::string v4l2NodeOfPath(const std::string &path)
{
    if (path.rfind("v4l2:", 0) != 0 || path.size() < 5 + 7 || path[path.size() - 7] != '#')
        return {};
    int node = 0;
    for (size_t i = path.size() - 6; i < path.size(); ++i) {
        if (path[i] < '0' || path[i] > '9')
            return {};
        node = node * 10 + (path[i] - '0');
    }
    return "/dev/video" + std::to_string(node);
}

void setMjpegDecodeThreads(int threads) { mjpegDecodeThreads.store(threads < 0 ? -1 : threads); }

std::vector<DeviceInfo> V4l2Backend::probe()
{
    const V4l2System &system = v4l2System();
    std::vector<int> nodes = system.videoNodes();
    std::sort(nodes.begin(), nodes.end());
    std::vector<DeviceInfo> devices;
    for (int node : nodes) {
        const int fd = system.open(nodePath(node).c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        v4l2_capability capability;
        const bool capture = queryCapture(system, fd, capability);
        system.close(fd);
        if (!capture)
            continue;
        const std::string usbDirectory = usbDeviceDirectory(system, node);
        unsigned vendor = 0, product = 0;
        if (!usbDirectory.empty()) {
            readHexAttribute(system, usbDirectory + "/idVendor", vendor);
            readHexAttribute(system, usbDirectory + "/idProduct", product);
        }
        std::string name = cString(capability.card, sizeof capability.card);
        // The program lists cameras whose name says UVC; the uvcvideo driver
        // is what makes a camera one.
        if (cString(capability.driver, sizeof capability.driver) == "uvcvideo" && name.find("UVC") == std::string::npos)
            name += " (UVC)";
        devices.push_back(
            DeviceInfo{name, v4l2PathFor(cString(capability.bus_info, sizeof capability.bus_info), vendor, product, node)});
    }
    return devices;
}

bool V4l2Backend::handles(const std::string &path) const { return path.rfind("v4l2:", 0) == 0; }

std::unique_ptr<ControlDevice> V4l2Backend::openControl(const std::string &path)
{
    const std::string node = v4l2NodeOfPath(path);
    if (node.empty())
        return nullptr;
    const V4l2System &system = v4l2System();
    const int fd = system.open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    v4l2_capability capability;
    if (!queryCapture(system, fd, capability)) {
        system.close(fd);
        return nullptr;
    }
    // The USB device release (bcdDevice, BCD "0123" = 1.23) as version x 100.
    int version = -1;
    const std::string usbDirectory = usbDeviceDirectory(system, std::atoi(node.c_str() + 10));
    unsigned bcd = 0;
    if (!usbDirectory.empty() && readHexAttribute(system, usbDirectory + "/bcdDevice", bcd))
        version = int(((bcd >> 12) & 0xf) * 1000 + ((bcd >> 8) & 0xf) * 100 + ((bcd >> 4) & 0xf) * 10 + (bcd & 0xf));
    return std::make_unique<V4l2Control>(system, fd, version);
}

std::unique_ptr<CaptureStream> V4l2Backend::openStream(const std::string &path, const StreamRequest &request)
{
    const std::string node = v4l2NodeOfPath(path);
    if (node.empty() || request.width <= 0 || request.height <= 0)
        return nullptr;
    auto stream = std::make_unique<V4l2Stream>(v4l2System());
    if (!stream->start(node, request))
        return nullptr;
    return stream;
}

} // namespace usbcam
