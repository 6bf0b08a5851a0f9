// USB cameras on the uvcvideo driver, scripted for tests and benchmarks: while
// a ScriptedV4l2 lives, the V4L2 backend's system calls reach these cameras
// instead of the kernel. They answer the way the driver does: capabilities,
// formats, frame sizes and rates, format negotiation with the nearest size,
// mmap buffers (EBUSY for a second owner), controls with ranges, steps,
// menus and automatic modes, EAGAIN while no frame is ready, and after an
// unplug ENODEV on every call and an error on poll. Frames carry whatever
// payload the script sends. Not part of the program.
#pragma once

#include "backend.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace usbcam {

// A four-character code ("MJPG", "YUYV", "NV12").
uint32_t fourcc(const char *code);

struct ScriptedFrameSize {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint32_t> fps;  // the rates offered, fastest first
};

struct ScriptedFormat {
    uint32_t fourcc = 0;
    std::string description;
    std::vector<ScriptedFrameSize> sizes;
};

struct ScriptedControl {
    enum Type { Integer = 1, Boolean = 2, Menu = 3 };
    uint32_t id = 0;  // V4L2 control id
    Type type = Integer;
    std::string name;  // as the driver names it ("Brightness")
    int32_t minimum = 0, maximum = 0, step = 1, defaultValue = 0;
    uint32_t menuEntries = 0;  // menus: bit n set when entry n exists
    // Inactive (and refusing writes with EACCES) while the control `autoId`
    // is not at `manualValue`, like exposure time under automatic exposure.
    uint32_t autoId = 0;
    int32_t manualValue = 0;
};

struct ScriptedUvcCamera {
    std::string card = "USB 4K Camera";
    std::string driver = "uvcvideo";
    std::string busInfo = "usb-0000:00:14.0-1";
    // sysfs directory of the USB device; empty for a camera on no USB port.
    std::string usbDevice = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1";
    unsigned vendor = 0x32e4, product = 0x9415, release = 0x0102;
    // uvcvideo gives every camera a second node for metadata, one number up.
    bool metadataNode = true;
    std::vector<ScriptedFormat> formats;
    std::vector<ScriptedControl> controls;

    // A 4K camera: MJPEG up to 3840x2160, YUYV up to 1920x1080 at low rates,
    // NV12 at two sizes, and the usual UVC controls (no zoom, no red/blue
    // gains: a colour temperature instead, no one-shot focus).
    static ScriptedUvcCamera typical();
    void removeControl(const std::string &name);
    ScriptedControl *control(const std::string &name);
};

// One frame the camera sends: the payload and what the driver reports of it.
struct ScriptedFrame {
    std::shared_ptr<const std::vector<uint8_t>> payload;
    int64_t bytesUsed = -1;  // -1: the payload's size
    bool error = false;      // the driver's "frame damaged" flag
};

class ScriptedV4l2
{
public:
    // Puts the scripted cameras behind the system-call table until destroyed.
    ScriptedV4l2();
    ~ScriptedV4l2();
    ScriptedV4l2(const ScriptedV4l2 &) = delete;
    ScriptedV4l2 &operator=(const ScriptedV4l2 &) = delete;

    // Plugs a camera in at /dev/video<node>; returns its number for the
    // calls below.
    int addCamera(int node, const ScriptedUvcCamera &camera);
    // Pulls the camera out; plugging it back in gives it a fresh node (the
    // files of the old one stay dead).
    void unplug(int camera);
    void plugIn(int camera, int node);

    // Frames the camera sends from now on, one per filled buffer, in order;
    // `forever` is sent into every buffer after the queued ones ran out.
    void send(int camera, const ScriptedFrame &frame);
    void sendForever(int camera, const ScriptedFrame &frame);
    void stopSending(int camera);
    // The next `count` polls wake with no frame (DQBUF then says EAGAIN).
    void wakeWithoutFrame(int camera, int count);

    // What the camera sees.
    int openFiles(int camera) const;
    int mappedBuffers(int camera) const;
    size_t bufferLength(int camera) const;  // of each buffer now requested, 0 for none
    int bufferCount(int camera) const;
    std::string pixelFormat(int camera) const;  // as four characters
    uint32_t width(int camera) const;
    uint32_t height(int camera) const;
    uint32_t fps(int camera) const;
    int framesDelivered(int camera) const;
    bool streaming(int camera) const;
    int controlValue(int camera, const std::string &name) const;
    void setControlValue(int camera, const std::string &name, int value);

    struct State;

private:
    std::unique_ptr<State> state_;
};

// Payloads for the scripted cameras: a picture as the 4:2:2 baseline JPEG
// most UVC cameras send, as packed YUYV (even widths) and as NV12, each with
// rows of exactly the picture's width.
std::vector<uint8_t> encodeMjpeg(const I420Frame &picture, int quality = 85);
std::vector<uint8_t> encodeYuyv(const I420Frame &picture);
std::vector<uint8_t> encodeNv12(const I420Frame &picture);

} // namespace usbcam
