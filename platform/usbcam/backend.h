// The backends behind the capture and control calls. Each backend lists its
// devices, opens control handles and streams for the paths it listed, and
// hands out frames as tight I420 planes. Internal to the USB camera layer
// (and its tests); other folders use capture.h and control.h.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace usbcam {

// The controls the control calls reach, one per getter/setter pair.
enum class Control {
    ExposureMode,  // 1 auto, 0 manual
    ExposureTime,
    ExposureGain,
    ExposureCompensation,
    WhiteBalanceMode,  // 1 auto, 0 manual
    WhiteBalanceRed,
    WhiteBalanceGreen,
    WhiteBalanceBlue,
    Focus,
    FocusMode,  // 1 auto, 0 manual, 2 once
    Zoom,
    Demist,
    Hue,
    Saturation,
    Contrast,
    Sharpness,
    Gamma,
    Flip,
    Mirror,
    Flicker,
    Count
};

struct ControlRange {
    int minimum = 0;
    int maximum = 0;
    int defaultValue = 0;
};

struct DeviceInfo {
    std::string name;
    std::string path;
};

// Stream formats as the caller prefers them.
enum class StreamFormat { Mjpeg = 0, Nv12 = 1, Yuyv = 2 };

struct StreamRequest {
    int width = 1920;
    int height = 1080;
    int fps = 30;
    StreamFormat preferred = StreamFormat::Mjpeg;
};

// One frame of tight I420 planes: Y (width x height), then U and V
// ((width + 1) / 2 x (height + 1) / 2 each).
struct I420Frame {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> data;

    static size_t sizeFor(int width, int height)
    {
        return size_t(width) * height + 2 * size_t((width + 1) / 2) * ((height + 1) / 2);
    }
    void resize(int w, int h)
    {
        width = w;
        height = h;
        data.resize(sizeFor(w, h));
    }
    uint8_t *y() { return data.data(); }
    uint8_t *u() { return data.data() + size_t(width) * height; }
    uint8_t *v() { return u() + size_t((width + 1) / 2) * ((height + 1) / 2); }
};

enum class ReadResult { Frame, NoFrame, Gone };

class ControlDevice
{
public:
    virtual ~ControlDevice() = default;
    // -1 when the device lacks the control or the read failed.
    virtual int get(Control control) = 0;
    // 0 on success, -1 otherwise.
    virtual int set(Control control, int value) = 0;
    virtual int range(Control control, ControlRange &out) = 0;
    virtual int version() = 0;  // firmware version x 100, -1 when unknown
    virtual int focusRegion(int &x, int &y) = 0;
    virtual int setFocusRegion(int x, int y) = 0;
    virtual int triggerFocusOnce() = 0;
    virtual int saveConfig() = 0;
    virtual int focusCurveTest() = 0;
    virtual int focusCurveCheck() = 0;
    // False once the device behind the handle has gone (unplugged): a device
    // plugged in again at the same path needs a new handle.
    virtual bool alive() = 0;
};

class CaptureStream
{
public:
    virtual ~CaptureStream() = default;
    // Negotiated size and the bytes of one frame as the device delivers it.
    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual size_t deviceFrameBytes() const = 0;
    // Waits at most `timeoutMs` for the next frame and converts it into `out`.
    virtual ReadResult read(I420Frame &out, int timeoutMs) = 0;
};

class CameraBackend
{
public:
    virtual ~CameraBackend() = default;
    virtual std::vector<DeviceInfo> probe() = 0;
    // Whether `path` has the form of this backend's device paths.
    virtual bool handles(const std::string &path) const = 0;
    virtual std::unique_ptr<ControlDevice> openControl(const std::string &path) = 0;
    virtual std::unique_ptr<CaptureStream> openStream(const std::string &path, const StreamRequest &request) = 0;
};

// The backends in probe order: V4L2, then (with VORENTA_VIRTUAL_CAMERA=1) the
// virtual camera.
std::vector<CameraBackend *> activeBackends();
// The backend whose path form `path` has, whether or not it is active.
CameraBackend *backendFor(const std::string &path);

// Frame size for one of the capture record's resolution codes (unknown codes
// and code 5 give 1920x1080).
void sizeForResolutionCode(int code, int &width, int &height);

} // namespace usbcam
