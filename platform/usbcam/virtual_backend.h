// The virtual camera: a synthetic UVC camera for tests and demos, listed only
// when VORENTA_VIRTUAL_CAMERA=1. It shows a slowly panning, finely textured
// picture (cells with sharp membranes over a grainy background, like a
// stained sample under a microscope), paced to the asked frame rate, and its
// controls act on the picture: exposure, gain, brightness (compensation),
// contrast and gamma on the luma; saturation, hue and manual white balance on
// the chroma; flip and mirror on the geometry; a manual focus away from 200
// blurs the picture.
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

// For tests: puts every control back to its default, and simulates pulling
// the camera out (streams then report Gone, control calls -1, the probe
// leaves it out) or plugging it back in.
void resetVirtualCamera();
void setVirtualCameraPresent(bool present);

// For tests and benchmarks: builds one frame of the picture at time `seconds`
// with the current controls, without pacing.
void renderVirtualFrame(I420Frame &out, int width, int height, double seconds);

} // namespace usbcam
