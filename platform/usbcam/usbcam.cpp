// The cap_* and cam_* entry points: control handles, open streams and frame
// slots on top of the backends.
#include "backend.h"
#include "capture.h"
#include "control.h"
#include "v4l2_backend.h"
#include "virtual_backend.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace usbcam {

std::vector<CameraBackend *> activeBackends()
{
    static V4l2Backend v4l2;
    static VirtualBackend virtualCamera;
    return {&v4l2, &virtualCamera};
}

CameraBackend *backendFor(const std::string &path)
{
    for (CameraBackend *backend : activeBackends())
        if (backend->handles(path))
            return backend;
    return nullptr;
}

void sizeForResolutionCode(int code, int &width, int &height)
{
    static const int sizes[][2] = {{640, 480},   {1280, 720},  {1344, 1008}, {1536, 1024}, {1824, 1216},
                                   {1920, 1080}, {2048, 1080}, {2016, 1512}, {2592, 1944}, {2720, 1824},
                                   {3072, 2048}, {3840, 2160}, {4000, 3000}, {5440, 3648}};
    if (code < 0 || code >= int(sizeof sizes / sizeof sizes[0])) {
        width = 1920;
        height = 1080;
        return;
    }
    width = sizes[code][0];
    height = sizes[code][1];
}

namespace {

// Control handles are never reused: a handle of a released context answers -1
// instead of reaching another camera.
struct ControlTable {
    std::mutex mutex;
    int32_t nextHandle = 1;
    std::map<int32_t, std::pair<std::string, std::shared_ptr<ControlDevice>>> handles;
};

ControlTable &controls()
{
    static ControlTable table;
    return table;
}

std::shared_ptr<ControlDevice> deviceFor(int32_t handle)
{
    ControlTable &table = controls();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto found = table.handles.find(handle);
    return found == table.handles.end() ? nullptr : found->second.second;
}

std::vector<DeviceInfo> probeAll()
{
    std::vector<DeviceInfo> devices;
    for (CameraBackend *backend : activeBackends()) {
        for (DeviceInfo &device : backend->probe()) {
            if (devices.size() >= CAM_MAX_DEVICES)
                return devices;
            devices.push_back(std::move(device));
        }
    }
    return devices;
}

void copyText(char *target, size_t size, const std::string &text)
{
    const size_t length = std::min(text.size(), size - 1);
    std::memcpy(target, text.data(), length);
    std::memset(target + length, 0, size - length);
}

int32_t handleOfPathLocked(ControlTable &table, const std::string &path)
{
    for (const auto &entry : table.handles)
        if (entry.second.first == path)
            return entry.first;
    return -1;
}

void fillBuffer(cam_probe_buffer *buffer, const std::vector<DeviceInfo> &devices, ControlTable &table)
{
    std::memset(buffer, 0, sizeof *buffer);
    for (size_t i = 0; i < devices.size(); ++i) {
        copyText(buffer->devices[i].name, CAM_NAME_SIZE, devices[i].name);
        copyText(buffer->devices[i].path, CAM_PATH_SIZE, devices[i].path);
        buffer->devices[i].handle = handleOfPathLocked(table, devices[i].path);
    }
    buffer->count = int32_t(devices.size());
}

// Frames handed out by cap_read live in slots; a stream keeps a few spare
// ones so that 4K frames are not allocated anew every time.
struct SlotPool;

struct FrameSlot {
    I420Frame frame;
    std::shared_ptr<SlotPool> pool;
};

struct SlotPool {
    std::mutex mutex;
    std::vector<FrameSlot *> spare;

    ~SlotPool()
    {
        for (FrameSlot *slot : spare)
            delete slot;
    }
};

struct OpenStream {
    std::unique_ptr<CaptureStream> stream;
    std::shared_ptr<SlotPool> pool = std::make_shared<SlotPool>();
    bool gone = false;
};

constexpr int kReadTimeoutMs = 30;

} // namespace
} // namespace usbcam

using namespace usbcam;

extern "C" {

int cam_probe_devices(cam_probe_buffer *buffer)
{
    if (!buffer)
        return -1;
    const std::vector<DeviceInfo> devices = probeAll();
    ControlTable &table = controls();
    std::lock_guard<std::mutex> lock(table.mutex);
    fillBuffer(buffer, devices, table);
    return buffer->count;
}

int cam_free_context(void)
{
    ControlTable &table = controls();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.handles.clear();
    return 0;
}

int cam_get_context(cam_probe_buffer *buffer)
{
    const std::vector<DeviceInfo> devices = probeAll();
    std::vector<std::pair<std::string, std::shared_ptr<ControlDevice>>> opened;
    for (const DeviceInfo &device : devices) {
        CameraBackend *backend = backendFor(device.path);
        std::shared_ptr<ControlDevice> control = backend ? backend->openControl(device.path) : nullptr;
        opened.push_back({device.path, std::move(control)});
    }
    ControlTable &table = controls();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.handles.clear();
    for (auto &entry : opened)
        if (entry.second)
            table.handles[table.nextHandle++] = std::move(entry);
    if (buffer)
        fillBuffer(buffer, devices, table);
    return int(devices.size());
}

int32_t cam_find_context(const char *path)
{
    if (!path || !*path)
        return -1;
    const std::string wanted = path;
    ControlTable &table = controls();
    int32_t stale = -1;
    {
        std::lock_guard<std::mutex> lock(table.mutex);
        stale = handleOfPathLocked(table, wanted);
    }
    if (stale >= 0) {
        const std::shared_ptr<ControlDevice> device = deviceFor(stale);
        if (device && device->alive())
            return stale;
        // The camera was pulled out and plugged in again at the same path:
        // the old handle keeps answering -1, a fresh one reaches the device.
        std::lock_guard<std::mutex> lock(table.mutex);
        table.handles.erase(stale);
    }
    CameraBackend *backend = backendFor(wanted);
    if (!backend)
        return -1;
    bool listed = false;
    for (const DeviceInfo &device : backend->probe())
        listed = listed || device.path == wanted;
    if (!listed)
        return -1;
    std::shared_ptr<ControlDevice> control = backend->openControl(wanted);
    if (!control)
        return -1;
    std::lock_guard<std::mutex> lock(table.mutex);
    const int32_t existing = handleOfPathLocked(table, wanted);
    if (existing >= 0)
        return existing;
    const int32_t handle = table.nextHandle++;
    table.handles[handle] = {wanted, std::move(control)};
    return handle;
}

int cam_get_version(int32_t handle, int32_t *version)
{
    const auto device = deviceFor(handle);
    if (!device || !version)
        return -1;
    const int value = device->version();
    if (value < 0)
        return -1;
    *version = value;
    return 0;
}

int cam_save_config(int32_t handle)
{
    const auto device = deviceFor(handle);
    return device ? device->saveConfig() : -1;
}

#define VORENTA_CAM_PAIR(name, control)                                          \
    int32_t cam_get_##name(int32_t handle)                                       \
    {                                                                            \
        const auto device = deviceFor(handle);                                   \
        return device ? device->get(Control::control) : -1;                      \
    }                                                                            \
    int cam_set_##name(int32_t handle, int32_t value)                            \
    {                                                                            \
        const auto device = deviceFor(handle);                                   \
        return device ? device->set(Control::control, value) : -1;               \
    }

VORENTA_CAM_PAIR(exposure_mode, ExposureMode)
VORENTA_CAM_PAIR(exposure_time, ExposureTime)
VORENTA_CAM_PAIR(exposure_gain, ExposureGain)
VORENTA_CAM_PAIR(exposure_compensation, ExposureCompensation)
VORENTA_CAM_PAIR(white_balance_mode, WhiteBalanceMode)
VORENTA_CAM_PAIR(white_balance_component_red, WhiteBalanceRed)
VORENTA_CAM_PAIR(white_balance_component_green, WhiteBalanceGreen)
VORENTA_CAM_PAIR(white_balance_component_blue, WhiteBalanceBlue)
VORENTA_CAM_PAIR(focus, Focus)
VORENTA_CAM_PAIR(focus_mode, FocusMode)
VORENTA_CAM_PAIR(zoom, Zoom)
VORENTA_CAM_PAIR(demist, Demist)
VORENTA_CAM_PAIR(hue, Hue)
VORENTA_CAM_PAIR(saturation, Saturation)
VORENTA_CAM_PAIR(contrast, Contrast)
VORENTA_CAM_PAIR(sharpness, Sharpness)
VORENTA_CAM_PAIR(gamma, Gamma)
VORENTA_CAM_PAIR(flip, Flip)
VORENTA_CAM_PAIR(mirror, Mirror)
VORENTA_CAM_PAIR(flick, Flicker)

#undef VORENTA_CAM_PAIR

#define VORENTA_CAM_RANGE(name, control)                                                        \
    int cam_get_##name##_range(int32_t handle, int32_t *minimum, int32_t *maximum, int32_t *defaultValue) \
    {                                                                                           \
        const auto device = deviceFor(handle);                                                  \
        ControlRange range;                                                                     \
        if (!device || !minimum || !maximum || !defaultValue || device->range(Control::control, range) != 0) \
            return -1;                                                                          \
        *minimum = range.minimum;                                                               \
        *maximum = range.maximum;                                                               \
        *defaultValue = range.defaultValue;                                                     \
        return 0;                                                                               \
    }

VORENTA_CAM_RANGE(exposure_gain, ExposureGain)
VORENTA_CAM_RANGE(exposure_compensation, ExposureCompensation)
VORENTA_CAM_RANGE(hue, Hue)
VORENTA_CAM_RANGE(saturation, Saturation)
VORENTA_CAM_RANGE(contrast, Contrast)
VORENTA_CAM_RANGE(sharpness, Sharpness)
VORENTA_CAM_RANGE(gamma, Gamma)

#undef VORENTA_CAM_RANGE

int cam_get_focus_region(int32_t handle, int32_t *x, int32_t *y)
{
    const auto device = deviceFor(handle);
    int rx = 0, ry = 0;
    if (!device || !x || !y || device->focusRegion(rx, ry) != 0)
        return -1;
    *x = rx;
    *y = ry;
    return 0;
}

int cam_set_focus_region(int32_t handle, int32_t x, int32_t y)
{
    const auto device = deviceFor(handle);
    return device ? device->setFocusRegion(x, y) : -1;
}

int cam_trigger_focus_once(int32_t handle)
{
    const auto device = deviceFor(handle);
    return device ? device->triggerFocusOnce() : -1;
}

int cam_focus_cure_test(int32_t handle)
{
    const auto device = deviceFor(handle);
    return device ? device->focusCurveTest() : -1;
}

int cam_focus_cure_check(int32_t handle)
{
    const auto device = deviceFor(handle);
    return device ? device->focusCurveCheck() : -1;
}

int cap_open(cap_record *record)
{
    if (!record || record->priv)
        return CAP_ERROR;
    const std::string path(record->device_path, strnlen(record->device_path, sizeof record->device_path));
    CameraBackend *backend = backendFor(path);
    if (!backend)
        return CAP_ERROR;
    StreamRequest request;
    if (record->width > 0 && record->height > 0) {
        request.width = record->width;
        request.height = record->height;
    } else {
        sizeForResolutionCode(record->resolution_code, request.width, request.height);
    }
    request.fps = record->fps > 0 ? record->fps : 30;
    request.preferred = record->stream_format == 1 ? StreamFormat::Nv12
                        : record->stream_format == 2 ? StreamFormat::Yuyv : StreamFormat::Mjpeg;
    auto stream = backend->openStream(path, request);
    if (!stream)
        return CAP_ERROR;
    auto *open = new OpenStream;
    const size_t bytes = stream->deviceFrameBytes();
    record->buffer_size = bytes > size_t(INT32_MAX) ? INT32_MAX : int32_t(bytes);
    record->width = stream->width();
    record->height = stream->height();
    open->stream = std::move(stream);
    record->priv = open;
    return CAP_OK;
}

int cap_read(cap_record *record, cap_frame *frame)
{
    if (!record || !record->priv || !frame)
        return CAP_ERROR;
    auto *open = static_cast<OpenStream *>(record->priv);
    if (open->gone)
        return CAP_GONE;
    FrameSlot *slot = nullptr;
    {
        std::lock_guard<std::mutex> lock(open->pool->mutex);
        if (!open->pool->spare.empty()) {
            slot = open->pool->spare.back();
            open->pool->spare.pop_back();
        }
    }
    if (!slot)
        slot = new FrameSlot;
    slot->pool = open->pool;
    const ReadResult result = open->stream->read(slot->frame, kReadTimeoutMs);
    if (result != ReadResult::Frame) {
        if (result == ReadResult::Gone)
            open->gone = true;
        frame->priv = slot;
        free_frame(frame);
        return result == ReadResult::Gone ? CAP_GONE : CAP_NO_FRAME;
    }
    I420Frame &image = slot->frame;
    const int chromaWidth = (image.width + 1) / 2;
    frame->y = image.y();
    frame->u = image.u();
    frame->v = image.v();
    frame->priv = slot;
    frame->format = CAP_FORMAT_I420;
    frame->width = image.width;
    frame->height = image.height;
    frame->stride_y = image.width;
    frame->stride_u = chromaWidth;
    frame->stride_v = chromaWidth;
    return CAP_OK;
}

void free_frame(cap_frame *frame)
{
    if (!frame || !frame->priv)
        return;
    auto *slot = static_cast<FrameSlot *>(frame->priv);
    std::shared_ptr<SlotPool> pool = std::move(slot->pool);
    bool kept = false;
    if (pool) {
        std::lock_guard<std::mutex> lock(pool->mutex);
        if (pool->spare.size() < 2) {
            pool->spare.push_back(slot);
            kept = true;
        }
    }
    if (!kept)
        delete slot;
    std::memset(frame, 0, sizeof *frame);
}

int cap_close(cap_record *record)
{
    if (!record || !record->priv)
        return CAP_ERROR;
    delete static_cast<OpenStream *>(record->priv);
    record->priv = nullptr;
    return CAP_OK;
}

} // extern "C"
