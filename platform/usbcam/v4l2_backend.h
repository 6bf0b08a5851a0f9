// Real UVC cameras through Video4Linux2: the capture nodes under /dev/video*,
// mmap streaming, MJPEG (libturbojpeg), YUYV or NV12 converted to I420, and
// the control calls mapped onto V4L2 controls.
#pragma once

#include "backend.h"

namespace usbcam {

class V4l2Backend final : public CameraBackend
{
public:
    std::vector<DeviceInfo> probe() override;
    bool handles(const std::string &path) const override;
    std::unique_ptr<ControlDevice> openControl(const std::string &path) override;
    std::unique_ptr<CaptureStream> openStream(const std::string &path, const StreamRequest &request) override;
};

// Device paths: "v4l2:" + bus info + "&vid_xxxx&pid_xxxx" + "#" + the node
// number in 6 digits. The node ("/dev/video3") of such a path, empty when the
// path has another form.
std::string v4l2NodeOfPath(const std::string &path);
std::string v4l2PathFor(const std::string &busInfo, unsigned vendor, unsigned product, int node);

// MJPEG streams of more than 1920x1080 at 30 fps worth of pixels a second
// decode on a pool of kMjpegDecodeThreads threads (one core can't keep up
// with them); the others on the reading thread. A pooled stream hands out a
// frame at most one frame after it came in.
constexpr int kMjpegDecodeThreads = 2;
// For tests and benchmarks: 0 decodes every stream opened from now on on the
// reading thread, 1 or 2 on a pool of that many threads, -1 restores the rule.
void setMjpegDecodeThreads(int threads);
// The white-balance components of the control calls run from 1 to 4095 (the
// range the camera classes give their sliders); a V4L2 camera has its own
// range for each (red and blue balance, or the colour temperature that UVC
// cameras offer in place of red). The two map linearly onto each other; a
// device value is always inside the device's range and on its step.
constexpr int kWhiteBalanceComponentMinimum = 1;
constexpr int kWhiteBalanceComponentMaximum = 4095;
int whiteBalanceToDevice(int component, int deviceMinimum, int deviceMaximum, int deviceStep);
int whiteBalanceFromDevice(int deviceValue, int deviceMinimum, int deviceMaximum);

} // namespace usbcam
