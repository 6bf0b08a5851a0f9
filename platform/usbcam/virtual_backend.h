// The virtual camera: a synthetic UVC camera for tests and demos, listed only
// when VORENTA_VIRTUAL_CAMERA=1. It shows a slowly panning, finely textured
// picture (cells with sharp membranes over a grainy background, like a
// stained sample under a microscope), paced to the asked frame rate, and its
// controls act on the picture: exposure, gain, brightness (compensation),
// contrast and gamma on the luma; saturation, hue and manual white balance on
// the chroma; flip and mirror on the geometry; a manual focus away from 200
// blurs the picture.
//
// For stitching and focus fusion the stage can do more (VirtualStage): move
// the sample by a fixed step per frame, and give the sample a relief, so that
// each focus value shows a different region sharp.
#pragma once

#include "backend.h"

namespace usbcam {

// Model E530 (USB product id 0xE530): its code path reads exposure, white
// balance, image controls, flip, mirror, flicker and focus (mode, value and
// region) from the device, so the virtual camera exercises most of the
// camera classes.
constexpr const char *kVirtualCameraName = "Vorenta Virtual UVC Camera";
constexpr const char *kVirtualCameraPath = "virtual:usb-vorenta-virtual&vid_1d6b&pid_e530#000000";
constexpr int kVirtualCameraVersion = 123;  // firmware 1.23

class VirtualBackend final : public CameraBackend
{
public:
    std::vector<DeviceInfo> probe() override;
    bool handles(const std::string &path) const override;
    std::unique_ptr<ControlDevice> openControl(const std::string &path) override;
    std::unique_ptr<CaptureStream> openStream(const std::string &path, const StreamRequest &request) override;
};

// Largest pan step, pixels per frame.
constexpr int kMaxPan = 512;

// The stage under the virtual camera. With a pan, frame n of a stream shows
// the sample from (n * panX, n * panY) on (counted from the stream's first
// frame, 0), so the picture moves by exactly (-panX, -panY) pixels from one
// frame to the next, as if the stage moved; without one (both 0) the
// picture drifts slowly with the program's time (a stream opened anew goes
// on where the one before it was), unless it has the relief: a relief
// without a pan stands still, as a focus series needs. With the relief, the sample's height
// varies in smooth hills from focus value 40 to 360: a point is sharp when
// the focus value (manual focus; automatic focus settles at 200) lies within
// 20 of its height, and blurs more the farther it lies, up to 6 pixels.
//
// Taken from the environment when the program starts and on every reset:
// VORENTA_VIRTUAL_PAN="dx,dy" (each within +-kMaxPan) and
// VORENTA_VIRTUAL_RELIEF=1; the default is no pan and a flat sample.
struct VirtualStage {
    int panX = 0;
    int panY = 0;
    bool relief = false;
};
void setVirtualStage(const VirtualStage &stage);
VirtualStage virtualStage();

// For tests: puts every control back to its default and the stage back to
// what the environment asks for, and simulates pulling the camera out (streams then report Gone, control calls -1, the probe
// leaves it out) or plugging it back in.
void resetVirtualCamera();
void setVirtualCameraPresent(bool present);

// For tests and benchmarks: builds one frame of the picture at time `seconds`
// (frame `frameNumber` of a stream when the stage pans) with the current
// controls and stage, without pacing.
void renderVirtualFrame(I420Frame &out, int width, int height, double seconds, long frameNumber = 0);

} // namespace usbcam
