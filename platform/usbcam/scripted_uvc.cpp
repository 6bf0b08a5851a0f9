#include "scripted_uvc.h"

#include "v4l2_system.h"

#include <linux/videodev2.h>
#include <sys/mman.h>
#include <turbojpeg.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>

namespace usbcam {

uint32_t fourcc(const char *code) { return v4l2_fourcc(code[0], code[1], code[2], code[3]); }

namespace {

constexpr size_t kPage = 4096;

std::string fourccText(uint32_t code)
{
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i)
        text[size_t(i)] = char((code >> (8 * i)) & 0xff);
    return text;
}

// Copies `text` into a fixed field the way the driver does: cut at the
// field's size, with no terminator when it fills the field.
void copyField(uint8_t *field, size_t size, const std::string &text)
{
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(size, text.size()));
}

// File numbers are never reused, not even by the next scripted system, so
// that a file left open by a failed test cannot reach another test's camera.
std::atomic<int> nextFd{7000};

int fail(int error)
{
    errno = error;
    return -1;
}

} // namespace

ScriptedUvcCamera ScriptedUvcCamera::typical()
{
    ScriptedUvcCamera camera;
    camera.formats = {
        {fourcc("MJPG"), "Motion-JPEG",
         {{3840, 2160, {30}}, {1920, 1080, {60, 30}}, {1280, 720, {60, 30}}, {640, 480, {30, 15}}}},
        {fourcc("YUYV"), "YUYV 4:2:2", {{1920, 1080, {5}}, {1280, 720, {10}}, {640, 480, {30, 15}}}},
        {fourcc("NV12"), "Y/UV 4:2:0", {{1920, 1080, {30}}, {640, 480, {30}}}},
    };
    using C = ScriptedControl;
    const uint32_t manualExposure = 1u << V4L2_EXPOSURE_MANUAL;
    const uint32_t aperturePriority = 1u << V4L2_EXPOSURE_APERTURE_PRIORITY;
    camera.controls = {
        {V4L2_CID_BRIGHTNESS, C::Integer, "Brightness", -64, 64, 1, 0},
        {V4L2_CID_CONTRAST, C::Integer, "Contrast", 0, 64, 1, 32},
        {V4L2_CID_SATURATION, C::Integer, "Saturation", 0, 128, 1, 64},
        {V4L2_CID_HUE, C::Integer, "Hue", -2000, 2000, 100, 0},
        {V4L2_CID_AUTO_WHITE_BALANCE, C::Boolean, "White Balance, Automatic", 0, 1, 1, 1},
        {V4L2_CID_GAMMA, C::Integer, "Gamma", 72, 500, 1, 100},
        {V4L2_CID_GAIN, C::Integer, "Gain", 0, 100, 1, 0},
        {V4L2_CID_POWER_LINE_FREQUENCY, C::Menu, "Power Line Frequency", 0, 2, 1, 1, 0x7},
        {V4L2_CID_WHITE_BALANCE_TEMPERATURE, C::Integer, "White Balance Temperature", 2800, 6500, 10, 4600, 0,
         V4L2_CID_AUTO_WHITE_BALANCE, 0},
        {V4L2_CID_SHARPNESS, C::Integer, "Sharpness", 0, 6, 1, 3},
        {V4L2_CID_EXPOSURE_AUTO, C::Menu, "Auto Exposure", 0, 3, 1, V4L2_EXPOSURE_APERTURE_PRIORITY,
         manualExposure | aperturePriority},
        {V4L2_CID_EXPOSURE_ABSOLUTE, C::Integer, "Exposure Time, Absolute", 1, 5000, 1, 157, 0, V4L2_CID_EXPOSURE_AUTO,
         V4L2_EXPOSURE_MANUAL},
        {V4L2_CID_FOCUS_ABSOLUTE, C::Integer, "Focus, Absolute", 0, 1023, 1, 68, 0, V4L2_CID_FOCUS_AUTO, 0},
        {V4L2_CID_FOCUS_AUTO, C::Boolean, "Focus, Automatic Continuous", 0, 1, 1, 1},
        {V4L2_CID_HFLIP, C::Boolean, "Horizontal Flip", 0, 1, 1, 0},
        {V4L2_CID_VFLIP, C::Boolean, "Vertical Flip", 0, 1, 1, 0},
    };
    return camera;
}

void ScriptedUvcCamera::removeControl(const std::string &name)
{
    controls.erase(std::remove_if(controls.begin(), controls.end(),
                                  [&](const ScriptedControl &c) { return c.name == name; }),
                   controls.end());
}

ScriptedControl *ScriptedUvcCamera::control(const std::string &name)
{
    for (ScriptedControl &c : controls)
        if (c.name == name)
            return &c;
    return nullptr;
}

struct ScriptedV4l2::State {
    struct Buffer {
        std::vector<uint8_t> memory;
        std::shared_ptr<const std::vector<uint8_t>> holds;  // the payload last copied in
        uint32_t bytesUsed = 0;
        bool error = false;
        uint32_t sequence = 0;
        enum Where { Dequeued, Queued, Done } where = Dequeued;
    };
    struct Camera {
        ScriptedUvcCamera config;
        int node = 0;
        bool present = true;
        int generation = 0;
        uint32_t pixelFormat = 0, width = 0, height = 0, bytesPerLine = 0, sizeImage = 0, fps = 0;
        int owner = -1;  // the file that set the format and holds the buffers
        std::vector<std::shared_ptr<Buffer>> buffers;
        std::deque<uint32_t> queued, done;
        bool streaming = false;
        std::deque<ScriptedFrame> pending;
        ScriptedFrame forever;
        bool sendsForever = false;
        int spuriousWakes = 0;
        uint32_t sequence = 0;
        int delivered = 0;
        std::map<uint32_t, int32_t> values;  // by control id
    };
    struct File {
        int camera;
        int generation;
        bool metadata;
    };
    struct Mapping {
        std::shared_ptr<Buffer> buffer;
        int camera;
        int count;
    };

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Camera> cameras;
    std::map<int, File> files;
    std::map<void *, Mapping> mappings;

    Camera &camera(int index) { return cameras.at(size_t(index)); }

    static void setFormat(Camera &camera, const ScriptedFormat &format, const ScriptedFrameSize &size)
    {
        camera.pixelFormat = format.fourcc;
        camera.width = size.width;
        camera.height = size.height;
        if (format.fourcc == fourcc("YUYV")) {
            camera.bytesPerLine = size.width * 2;
            camera.sizeImage = size.width * size.height * 2;
        } else if (format.fourcc == fourcc("NV12")) {
            camera.bytesPerLine = size.width;
            camera.sizeImage = size.width * size.height * 3 / 2;
        } else {
            // uvcvideo reports the camera's largest compressed frame.
            camera.bytesPerLine = 0;
            camera.sizeImage = size.width * size.height * 2;
        }
        camera.fps = size.fps.empty() ? 30 : size.fps.front();
    }

    static void resetDevice(Camera &camera)
    {
        camera.owner = -1;
        camera.buffers.clear();
        camera.queued.clear();
        camera.done.clear();
        camera.streaming = false;
        camera.values.clear();
        for (const ScriptedControl &c : camera.config.controls)
            camera.values[c.id] = c.defaultValue;
        if (!camera.config.formats.empty() && !camera.config.formats.front().sizes.empty())
            setFormat(camera, camera.config.formats.front(), camera.config.formats.front().sizes.front());
    }

    const ScriptedFormat *formatOf(const Camera &camera, uint32_t code) const
    {
        for (const ScriptedFormat &format : camera.config.formats)
            if (format.fourcc == code)
                return &format;
        return nullptr;
    }

    // The driver's choice: the frame size whose area differs least from the
    // asked one.
    static const ScriptedFrameSize &nearestSize(const ScriptedFormat &format, uint32_t width, uint32_t height)
    {
        const ScriptedFrameSize *best = &format.sizes.front();
        uint64_t bestDistance = UINT64_MAX;
        for (const ScriptedFrameSize &size : format.sizes) {
            const uint64_t overlap = uint64_t(std::min(width, size.width)) * std::min(height, size.height);
            const uint64_t distance = uint64_t(width) * height + uint64_t(size.width) * size.height - 2 * overlap;
            if (distance < bestDistance) {
                bestDistance = distance;
                best = &size;
            }
        }
        return *best;
    }

    const ScriptedControl *controlOf(const Camera &camera, uint32_t id) const
    {
        for (const ScriptedControl &c : camera.config.controls)
            if (c.id == id)
                return &c;
        return nullptr;
    }

    bool inactive(const Camera &camera, const ScriptedControl &c) const
    {
        if (!c.autoId)
            return false;
        const auto master = camera.values.find(c.autoId);
        return master != camera.values.end() && master->second != c.manualValue;
    }

    // Camera of a node and whether it is the metadata node; null when no
    // camera is plugged in there.
    int cameraOfNode(int node, bool &metadata) const
    {
        for (size_t i = 0; i < cameras.size(); ++i) {
            const Camera &c = cameras[i];
            if (!c.present)
                continue;
            if (c.node == node || (c.config.metadataNode && c.node + 1 == node)) {
                metadata = c.node != node;
                return int(i);
            }
        }
        return -1;
    }

    // Sends frames into the queued buffers, as the camera would while
    // streaming.
    void fill(Camera &camera)
    {
        while (camera.streaming && !camera.queued.empty() && (!camera.pending.empty() || camera.sendsForever)) {
            ScriptedFrame frame;
            if (!camera.pending.empty()) {
                frame = camera.pending.front();
                camera.pending.pop_front();
            } else {
                frame = camera.forever;
            }
            const uint32_t index = camera.queued.front();
            camera.queued.pop_front();
            Buffer &buffer = *camera.buffers[index];
            const size_t size = frame.payload ? frame.payload->size() : 0;
            const size_t copied = std::min(size, buffer.memory.size());
            if (buffer.holds != frame.payload) {
                if (copied)
                    std::memcpy(buffer.memory.data(), frame.payload->data(), copied);
                buffer.holds = frame.payload;
            }
            buffer.bytesUsed = uint32_t(frame.bytesUsed >= 0 ? std::min<size_t>(size_t(frame.bytesUsed), buffer.memory.size())
                                                             : copied);
            // A frame larger than the buffer is cut and marked damaged.
            buffer.error = frame.error || size > buffer.memory.size();
            buffer.sequence = camera.sequence++;
            buffer.where = Buffer::Done;
            camera.done.push_back(index);
        }
    }

    void releaseQueue(Camera &camera)
    {
        camera.streaming = false;
        camera.buffers.clear();  // mapped memory lives on until unmapped
        camera.queued.clear();
        camera.done.clear();
        camera.owner = -1;
    }

    int open(const char *path)
    {
        std::lock_guard<std::mutex> lock(mutex);
        int node = -1;
        char rest = 0;
        if (std::sscanf(path, "/dev/video%d%c", &node, &rest) != 1 || node < 0)
            return fail(ENOENT);
        bool metadata = false;
        const int index = cameraOfNode(node, metadata);
        if (index < 0)
            return fail(ENOENT);
        const int fd = nextFd.fetch_add(1);
        files[fd] = File{index, cameras[size_t(index)].generation, metadata};
        return fd;
    }

    int close(int fd)
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto found = files.find(fd);
        if (found == files.end())
            return fail(EBADF);
        Camera &c = camera(found->second.camera);
        if (c.owner == fd && found->second.generation == c.generation)
            releaseQueue(c);
        files.erase(found);
        changed.notify_all();
        return 0;
    }

    int ioctl(int fd, unsigned long request, void *argument)
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto found = files.find(fd);
        if (found == files.end())
            return fail(EBADF);
        Camera &c = camera(found->second.camera);
        if (!c.present || found->second.generation != c.generation)
            return fail(ENODEV);
        if (request == VIDIOC_QUERYCAP) {
            auto *capability = static_cast<v4l2_capability *>(argument);
            std::memset(capability, 0, sizeof *capability);
            copyField(capability->driver, sizeof capability->driver, c.config.driver);
            copyField(capability->card, sizeof capability->card, c.config.card);
            copyField(capability->bus_info, sizeof capability->bus_info, c.config.busInfo);
            capability->version = (6u << 16) | (1u << 8);
            capability->capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_DEVICE_CAPS
                                       | (c.config.metadataNode ? V4L2_CAP_META_CAPTURE : 0);
            capability->device_caps = found->second.metadata ? V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING
                                                             : V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
            return 0;
        }
        if (found->second.metadata)
            return fail(ENOTTY);
        return captureIoctl(fd, c, request, argument);
    }

    int captureIoctl(int fd, Camera &c, unsigned long request, void *argument)
    {
        const bool otherOwner = c.owner >= 0 && c.owner != fd;
        switch (request) {
        case VIDIOC_ENUM_FMT: {
            auto *description = static_cast<v4l2_fmtdesc *>(argument);
            if (description->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || description->index >= c.config.formats.size())
                return fail(EINVAL);
            const ScriptedFormat &format = c.config.formats[description->index];
            description->pixelformat = format.fourcc;
            description->flags = format.fourcc == fourcc("MJPG") ? V4L2_FMT_FLAG_COMPRESSED : 0;
            copyField(description->description, sizeof description->description, format.description);
            return 0;
        }
        case VIDIOC_ENUM_FRAMESIZES: {
            auto *size = static_cast<v4l2_frmsizeenum *>(argument);
            const ScriptedFormat *format = formatOf(c, size->pixel_format);
            if (!format || size->index >= format->sizes.size())
                return fail(EINVAL);
            size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
            size->discrete.width = format->sizes[size->index].width;
            size->discrete.height = format->sizes[size->index].height;
            return 0;
        }
        case VIDIOC_ENUM_FRAMEINTERVALS: {
            auto *interval = static_cast<v4l2_frmivalenum *>(argument);
            const ScriptedFormat *format = formatOf(c, interval->pixel_format);
            if (!format)
                return fail(EINVAL);
            for (const ScriptedFrameSize &size : format->sizes) {
                if (size.width != interval->width || size.height != interval->height)
                    continue;
                if (interval->index >= size.fps.size())
                    return fail(EINVAL);
                interval->type = V4L2_FRMIVAL_TYPE_DISCRETE;
                interval->discrete = {1, size.fps[interval->index]};
                return 0;
            }
            return fail(EINVAL);
        }
        case VIDIOC_S_FMT: {
            auto *format = static_cast<v4l2_format *>(argument);
            if (format->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || c.config.formats.empty())
                return fail(EINVAL);
            if (otherOwner || !c.buffers.empty())
                return fail(EBUSY);
            // An unknown format gets the camera's first one.
            const ScriptedFormat *chosen = formatOf(c, format->fmt.pix.pixelformat);
            if (!chosen)
                chosen = &c.config.formats.front();
            setFormat(c, *chosen, nearestSize(*chosen, format->fmt.pix.width, format->fmt.pix.height));
            c.owner = fd;
            std::memset(&format->fmt.pix, 0, sizeof format->fmt.pix);
            format->fmt.pix.pixelformat = c.pixelFormat;
            format->fmt.pix.width = c.width;
            format->fmt.pix.height = c.height;
            format->fmt.pix.bytesperline = c.bytesPerLine;
            format->fmt.pix.sizeimage = c.sizeImage;
            format->fmt.pix.field = V4L2_FIELD_NONE;
            format->fmt.pix.colorspace = V4L2_COLORSPACE_SRGB;
            return 0;
        }
        case VIDIOC_S_PARM: {
            // The nearest rate the frame size offers.
            auto *parm = static_cast<v4l2_streamparm *>(argument);
            if (parm->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
                return fail(EINVAL);
            if (otherOwner || c.streaming)
                return fail(EBUSY);
            const v4l2_fract asked = parm->parm.capture.timeperframe;
            const double wanted = asked.numerator ? double(asked.denominator) / asked.numerator : 1e9;
            const ScriptedFormat *format = formatOf(c, c.pixelFormat);
            for (const ScriptedFrameSize &size : format ? format->sizes : std::vector<ScriptedFrameSize>()) {
                if (size.width != c.width || size.height != c.height)
                    continue;
                uint32_t best = c.fps;
                for (uint32_t rate : size.fps)
                    if (std::abs(rate - wanted) < std::abs(best - wanted))
                        best = rate;
                c.fps = best;
            }
            c.owner = fd;
            std::memset(&parm->parm, 0, sizeof parm->parm);
            parm->parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
            parm->parm.capture.timeperframe = {1, c.fps};
            parm->parm.capture.readbuffers = 0;
            return 0;
        }
        case VIDIOC_REQBUFS: {
            auto *request = static_cast<v4l2_requestbuffers *>(argument);
            if (request->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || request->memory != V4L2_MEMORY_MMAP)
                return fail(EINVAL);
            if (otherOwner || c.streaming)
                return fail(EBUSY);
            for (const auto &buffer : c.buffers)
                if (buffer.use_count() > 1)
                    return fail(EBUSY);  // still mapped
            c.buffers.clear();
            c.queued.clear();
            c.done.clear();
            if (request->count == 0)
                return 0;
            request->count = std::clamp<uint32_t>(request->count, 2, 32);
            const size_t length = (size_t(c.sizeImage) + kPage - 1) / kPage * kPage;
            for (uint32_t i = 0; i < request->count; ++i) {
                auto buffer = std::make_shared<Buffer>();
                buffer->memory.assign(length, 0);
                c.buffers.push_back(std::move(buffer));
            }
            c.owner = fd;
            return 0;
        }
        case VIDIOC_QUERYBUF:
        case VIDIOC_QBUF:
        case VIDIOC_DQBUF: {
            auto *buffer = static_cast<v4l2_buffer *>(argument);
            if (buffer->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || buffer->memory != V4L2_MEMORY_MMAP)
                return fail(EINVAL);
            if (otherOwner)
                return fail(EBUSY);
            if (request == VIDIOC_DQBUF) {
                fill(c);
                if (c.done.empty())
                    return fail(c.streaming ? EAGAIN : EINVAL);
                buffer->index = c.done.front();
                c.done.pop_front();
                ++c.delivered;
            }
            if (buffer->index >= c.buffers.size())
                return fail(EINVAL);
            Buffer &b = *c.buffers[buffer->index];
            if (request == VIDIOC_QBUF) {
                if (b.where != Buffer::Dequeued)
                    return fail(EINVAL);
                b.where = Buffer::Queued;
                c.queued.push_back(buffer->index);
                changed.notify_all();
                return 0;
            }
            if (request == VIDIOC_DQBUF)
                b.where = Buffer::Dequeued;
            buffer->length = uint32_t(b.memory.size());
            buffer->m.offset = uint32_t(buffer->index * kPage);
            buffer->bytesused = request == VIDIOC_DQBUF ? b.bytesUsed : 0;
            buffer->sequence = b.sequence;
            buffer->field = V4L2_FIELD_NONE;
            buffer->flags = (c.buffers[buffer->index].use_count() > 1 ? V4L2_BUF_FLAG_MAPPED : 0)
                            | (b.where == Buffer::Queued ? V4L2_BUF_FLAG_QUEUED : 0)
                            | (b.where == Buffer::Done ? V4L2_BUF_FLAG_DONE : 0)
                            | (request == VIDIOC_DQBUF && b.error ? V4L2_BUF_FLAG_ERROR : 0);
            return 0;
        }
        case VIDIOC_STREAMON:
        case VIDIOC_STREAMOFF: {
            if (*static_cast<int *>(argument) != V4L2_BUF_TYPE_VIDEO_CAPTURE)
                return fail(EINVAL);
            if (otherOwner)
                return fail(EBUSY);
            if (request == VIDIOC_STREAMON) {
                if (c.buffers.empty())
                    return fail(EINVAL);
                c.streaming = true;
            } else {
                c.streaming = false;
                for (const auto &buffer : c.buffers)
                    buffer->where = Buffer::Dequeued;
                c.queued.clear();
                c.done.clear();
            }
            changed.notify_all();
            return 0;
        }
        case VIDIOC_QUERYCTRL:
        case VIDIOC_QUERYMENU:
        case VIDIOC_G_CTRL:
        case VIDIOC_S_CTRL:
            return controlIoctl(c, request, argument);
        default:
            return fail(ENOTTY);
        }
    }

    int controlIoctl(Camera &c, unsigned long request, void *argument)
    {
        switch (request) {
        case VIDIOC_QUERYCTRL: {
            auto *query = static_cast<v4l2_queryctrl *>(argument);
            const ScriptedControl *control = controlOf(c, query->id);
            if (!control)
                return fail(EINVAL);
            query->type = control->type;
            copyField(query->name, sizeof query->name, control->name);
            query->minimum = control->minimum;
            query->maximum = control->maximum;
            query->step = control->step;
            query->default_value = control->defaultValue;
            query->flags = inactive(c, *control) ? V4L2_CTRL_FLAG_INACTIVE : 0;
            return 0;
        }
        case VIDIOC_QUERYMENU: {
            auto *menu = static_cast<v4l2_querymenu *>(argument);
            const ScriptedControl *control = controlOf(c, menu->id);
            if (!control || control->type != ScriptedControl::Menu || int64_t(menu->index) < control->minimum
                || int64_t(menu->index) > control->maximum || menu->index >= 32
                || !(control->menuEntries & (1u << menu->index)))
                return fail(EINVAL);
            char name[32];
            std::snprintf(name, sizeof name, "Entry %u", menu->index);
            copyField(menu->name, sizeof menu->name, name);
            return 0;
        }
        case VIDIOC_G_CTRL: {
            auto *value = static_cast<v4l2_control *>(argument);
            if (!controlOf(c, value->id))
                return fail(EINVAL);
            value->value = c.values[value->id];
            return 0;
        }
        case VIDIOC_S_CTRL: {
            auto *value = static_cast<v4l2_control *>(argument);
            const ScriptedControl *control = controlOf(c, value->id);
            if (!control)
                return fail(EINVAL);
            if (inactive(c, *control))
                return fail(EACCES);
            int64_t v = value->value;
            switch (control->type) {
            case ScriptedControl::Menu:
                if (v < control->minimum || v > control->maximum || v >= 32 || !(control->menuEntries & (1u << v)))
                    return fail(EINVAL);
                break;
            case ScriptedControl::Boolean:
                v = v ? 1 : 0;
                break;
            case ScriptedControl::Integer: {
                // Clamped into the range and rounded to the nearest step.
                const int64_t step = control->step > 0 ? control->step : 1;
                v = std::clamp<int64_t>(v, control->minimum, control->maximum);
                v = control->minimum + (v - control->minimum + step / 2) / step * step;
                if (v > control->maximum)
                    v -= step;
                break;
            }
            }
            value->value = int32_t(v);
            c.values[value->id] = int32_t(v);
            return 0;
        }
        }
        return fail(ENOTTY);
    }

    void *mmap(size_t length, int fd, long long offset)
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto found = files.find(fd);
        if (found == files.end()) {
            errno = EBADF;
            return MAP_FAILED;
        }
        Camera &c = camera(found->second.camera);
        if (!c.present || found->second.generation != c.generation) {
            errno = ENODEV;
            return MAP_FAILED;
        }
        const size_t index = size_t(offset) / kPage;
        if (found->second.metadata || offset < 0 || size_t(offset) % kPage || index >= c.buffers.size()
            || length == 0 || length > c.buffers[index]->memory.size()) {
            errno = EINVAL;
            return MAP_FAILED;
        }
        void *address = c.buffers[index]->memory.data();
        Mapping &mapping = mappings[address];
        mapping.buffer = c.buffers[index];
        mapping.camera = found->second.camera;
        ++mapping.count;
        return address;
    }

    int munmap(void *address)
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto found = mappings.find(address);
        if (found == mappings.end())
            return fail(EINVAL);
        if (--found->second.count == 0)
            mappings.erase(found);
        return 0;
    }

    int poll(pollfd *fds, nfds_t count, int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(mutex);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
        for (;;) {
            int ready = 0;
            for (nfds_t i = 0; i < count; ++i) {
                pollfd &entry = fds[i];
                entry.revents = 0;
                const auto found = files.find(entry.fd);
                if (found == files.end()) {
                    entry.revents = POLLNVAL;
                } else {
                    Camera &c = camera(found->second.camera);
                    if (!c.present || found->second.generation != c.generation) {
                        entry.revents = POLLERR | POLLHUP | POLLPRI;
                    } else if (!found->second.metadata) {
                        if (!c.streaming || c.owner != entry.fd) {
                            entry.revents = POLLERR;
                        } else {
                            fill(c);
                            if (!c.done.empty() || c.spuriousWakes > 0) {
                                if (c.done.empty())
                                    --c.spuriousWakes;
                                entry.revents = short(entry.events & (POLLIN | POLLRDNORM));
                            }
                        }
                    }
                }
                if (entry.revents)
                    ++ready;
            }
            if (ready || timeoutMs == 0)
                return ready;
            if (timeoutMs < 0)
                changed.wait(lock);
            else if (changed.wait_until(lock, deadline) == std::cv_status::timeout)
                timeoutMs = 0;  // one last look, then the time-out
        }
    }

    std::vector<int> videoNodes()
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<int> nodes;
        for (const Camera &c : cameras) {
            if (!c.present)
                continue;
            nodes.push_back(c.node);
            if (c.config.metadataNode)
                nodes.push_back(c.node + 1);
        }
        // Directory order is no order.
        std::sort(nodes.rbegin(), nodes.rend());
        return nodes;
    }

    bool resolveLink(const std::string &link, std::string &target)
    {
        std::lock_guard<std::mutex> lock(mutex);
        int node = -1;
        char tail[16] = {0};
        if (std::sscanf(link.c_str(), "/sys/class/video4linux/video%d/%15s", &node, tail) != 2
            || std::strcmp(tail, "device") != 0)
            return false;
        bool metadata = false;
        const int index = cameraOfNode(node, metadata);
        if (index < 0)
            return false;
        const ScriptedUvcCamera &config = cameras[size_t(index)].config;
        if (config.usbDevice.empty()) {
            target = "/sys/devices/platform/" + config.driver + ".0";
        } else {
            // The video function is the camera's second interface ("1-1:1.1").
            const std::string port = config.usbDevice.substr(config.usbDevice.rfind('/') + 1);
            target = config.usbDevice + "/" + port + ":1.1";
        }
        return true;
    }

    bool readLine(const std::string &path, std::string &line)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const Camera &c : cameras) {
            if (!c.present || c.config.usbDevice.empty() || path.rfind(c.config.usbDevice + "/", 0) != 0)
                continue;
            const std::string name = path.substr(c.config.usbDevice.size() + 1);
            unsigned value;
            if (name == "idVendor")
                value = c.config.vendor;
            else if (name == "idProduct")
                value = c.config.product;
            else if (name == "bcdDevice")
                value = c.config.release;
            else
                return false;
            char text[8];
            std::snprintf(text, sizeof text, "%04x", value & 0xffff);
            line = text;
            return true;
        }
        return false;
    }
};

namespace {

// The scripted system whose calls the table reaches; the table itself stays
// valid after it, so that a file closed late fails cleanly.
std::mutex activeMutex;
ScriptedV4l2::State *active = nullptr;

ScriptedV4l2::State *activeState()
{
    std::lock_guard<std::mutex> lock(activeMutex);
    return active;
}

int scriptedOpen(const char *path, int)
{
    ScriptedV4l2::State *state = activeState();
    return state ? state->open(path) : fail(ENOENT);
}

int scriptedClose(int fd)
{
    ScriptedV4l2::State *state = activeState();
    return state ? state->close(fd) : fail(EBADF);
}

int scriptedIoctl(int fd, unsigned long request, void *argument)
{
    ScriptedV4l2::State *state = activeState();
    return state ? state->ioctl(fd, request, argument) : fail(EBADF);
}

void *scriptedMmap(void *, size_t length, int, int, int fd, off_t offset)
{
    ScriptedV4l2::State *state = activeState();
    if (!state) {
        errno = EBADF;
        return MAP_FAILED;
    }
    return state->mmap(length, fd, offset);
}

int scriptedMunmap(void *address, size_t)
{
    ScriptedV4l2::State *state = activeState();
    return state ? state->munmap(address) : fail(EINVAL);
}

int scriptedPoll(pollfd *fds, nfds_t count, int timeoutMs)
{
    ScriptedV4l2::State *state = activeState();
    return state ? state->poll(fds, count, timeoutMs) : fail(EBADF);
}

std::vector<int> scriptedVideoNodes()
{
    ScriptedV4l2::State *state = activeState();
    return state ? state->videoNodes() : std::vector<int>();
}

bool scriptedResolveLink(const std::string &link, std::string &target)
{
    ScriptedV4l2::State *state = activeState();
    return state && state->resolveLink(link, target);
}

bool scriptedReadLine(const std::string &path, std::string &line)
{
    ScriptedV4l2::State *state = activeState();
    return state && state->readLine(path, line);
}

const V4l2System kScriptedSystem = {scriptedOpen,        scriptedClose,       scriptedIoctl,
                                    scriptedMmap,        scriptedMunmap,      scriptedPoll,
                                    scriptedVideoNodes,  scriptedResolveLink, scriptedReadLine};

} // namespace

ScriptedV4l2::ScriptedV4l2() : state_(std::make_unique<State>())
{
    {
        std::lock_guard<std::mutex> lock(activeMutex);
        active = state_.get();
    }
    setV4l2System(&kScriptedSystem);
}

ScriptedV4l2::~ScriptedV4l2()
{
    setV4l2System(nullptr);
    std::lock_guard<std::mutex> lock(activeMutex);
    active = nullptr;
}

int ScriptedV4l2::addCamera(int node, const ScriptedUvcCamera &camera)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    State::Camera added;
    added.config = camera;
    added.node = node;
    State::resetDevice(added);
    state_->cameras.push_back(std::move(added));
    return int(state_->cameras.size()) - 1;
}

void ScriptedV4l2::unplug(int camera)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->camera(camera).present = false;
    state_->changed.notify_all();
}

void ScriptedV4l2::plugIn(int camera, int node)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    State::Camera &c = state_->camera(camera);
    c.present = true;
    c.node = node;
    ++c.generation;
    State::resetDevice(c);
    state_->changed.notify_all();
}

void ScriptedV4l2::send(int camera, const ScriptedFrame &frame)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->camera(camera).pending.push_back(frame);
    state_->changed.notify_all();
}

void ScriptedV4l2::sendForever(int camera, const ScriptedFrame &frame)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    State::Camera &c = state_->camera(camera);
    c.forever = frame;
    c.sendsForever = true;
    state_->changed.notify_all();
}

void ScriptedV4l2::stopSending(int camera)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    State::Camera &c = state_->camera(camera);
    c.pending.clear();
    c.sendsForever = false;
    c.forever = ScriptedFrame();
}

void ScriptedV4l2::wakeWithoutFrame(int camera, int count)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->camera(camera).spuriousWakes += count;
    state_->changed.notify_all();
}

int ScriptedV4l2::openFiles(int camera) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    int count = 0;
    for (const auto &file : state_->files)
        count += file.second.camera == camera;
    return count;
}

int ScriptedV4l2::mappedBuffers(int camera) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    int count = 0;
    for (const auto &mapping : state_->mappings)
        count += mapping.second.camera == camera ? mapping.second.count : 0;
    return count;
}

size_t ScriptedV4l2::bufferLength(int camera) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    const State::Camera &c = state_->camera(camera);
    return c.buffers.empty() ? 0 : c.buffers.front()->memory.size();
}

int ScriptedV4l2::bufferCount(int camera) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return int(state_->camera(camera).buffers.size());
}

std::string ScriptedV4l2::pixelFormat(int camera) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return fourccText(state_->camera(camera).pixelFormat);
}

uint32_t ScriptedV4l2::width(int camera) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->camera(camera).width;
}

uint32_t ScriptedV4l2::height(int camera) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->camera(camera).height;
}

uint32_t ScriptedV4l2::fps(int camera) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->camera(camera).fps;
}

int ScriptedV4l2::framesDelivered(int camera) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->camera(camera).delivered;
}

bool ScriptedV4l2::streaming(int camera) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->camera(camera).streaming;
}

int ScriptedV4l2::controlValue(int camera, const std::string &name) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    State::Camera &c = state_->camera(camera);
    for (const ScriptedControl &control : c.config.controls)
        if (control.name == name)
            return c.values[control.id];
    return -1;
}

void ScriptedV4l2::setControlValue(int camera, const std::string &name, int value)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    State::Camera &c = state_->camera(camera);
    for (const ScriptedControl &control : c.config.controls)
        if (control.name == name)
            c.values[control.id] = value;
}

std::vector<uint8_t> encodeMjpeg(const I420Frame &picture, int quality)
{
    const int width = picture.width, height = picture.height;
    const int chromaWidth = (width + 1) / 2;
    const uint8_t *y = picture.data.data();
    const uint8_t *u = y + size_t(width) * height;
    const uint8_t *v = u + size_t(chromaWidth) * ((height + 1) / 2);
    // 4:2:0 widened to 4:2:2 by repeating chroma rows.
    std::vector<uint8_t> u422(size_t(chromaWidth) * height), v422(size_t(chromaWidth) * height);
    for (int row = 0; row < height; ++row) {
        std::memcpy(&u422[size_t(row) * chromaWidth], u + size_t(row / 2) * chromaWidth, size_t(chromaWidth));
        std::memcpy(&v422[size_t(row) * chromaWidth], v + size_t(row / 2) * chromaWidth, size_t(chromaWidth));
    }
    const unsigned char *planes[3] = {y, u422.data(), v422.data()};
    int strides[3] = {width, chromaWidth, chromaWidth};
    tjhandle handle = tjInitCompress();
    unsigned char *jpeg = nullptr;
    unsigned long size = 0;
    std::vector<uint8_t> bytes;
    if (handle
        && tjCompressFromYUVPlanes(handle, planes, width, strides, height, TJSAMP_422, &jpeg, &size, quality, 0) == 0)
        bytes.assign(jpeg, jpeg + size);
    tjFree(jpeg);
    if (handle)
        tjDestroy(handle);
    return bytes;
}

std::vector<uint8_t> encodeYuyv(const I420Frame &picture)
{
    const int width = picture.width, height = picture.height;
    const int chromaWidth = (width + 1) / 2;
    const uint8_t *y = picture.data.data();
    const uint8_t *u = y + size_t(width) * height;
    const uint8_t *v = u + size_t(chromaWidth) * ((height + 1) / 2);
    std::vector<uint8_t> packed(size_t(width) * height * 2);
    for (int row = 0; row < height; ++row) {
        uint8_t *out = &packed[size_t(row) * width * 2];
        for (int x = 0; x + 1 < width; x += 2) {
            out[2 * x] = y[size_t(row) * width + x];
            out[2 * x + 1] = u[size_t(row / 2) * chromaWidth + x / 2];
            out[2 * x + 2] = y[size_t(row) * width + x + 1];
            out[2 * x + 3] = v[size_t(row / 2) * chromaWidth + x / 2];
        }
    }
    return packed;
}

std::vector<uint8_t> encodeNv12(const I420Frame &picture)
{
    const int width = picture.width, height = picture.height;
    const size_t chromaWidth = size_t((width + 1) / 2), chromaHeight = size_t((height + 1) / 2);
    const uint8_t *y = picture.data.data();
    const uint8_t *u = y + size_t(width) * height;
    const uint8_t *v = u + chromaWidth * chromaHeight;
    std::vector<uint8_t> planes(size_t(width) * height + 2 * chromaWidth * chromaHeight);
    std::memcpy(planes.data(), y, size_t(width) * height);
    uint8_t *uv = planes.data() + size_t(width) * height;
    for (size_t i = 0; i < chromaWidth * chromaHeight; ++i) {
        uv[2 * i] = u[i];
        uv[2 * i + 1] = v[i];
    }
    return planes;
}

} // namespace usbcam
