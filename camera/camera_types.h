// The values every camera class, the capture thread, the main window and the
// camera settings panel exchange: the parameter record of one camera, the
// records that open a camera and change its stream, and the enumerations
// that travel in queued signals.
#pragma once

#include <QList>
#include <QMap>
#include <QMetaType>
#include <QPair>
#include <QString>

#include <cstdint>

enum CameraType : int { CameraUsb = 0, CameraNetwork = 1 };

using CameraTypeAndName = QPair<CameraType, QString>;

enum CameraCloseReason : int {
    CloseOpenFailed = 0,
    CloseSystemUnsupported = 1,
    CloseUnsupportedModel = 2,
    CloseDisconnected = 3,
    CloseDone = 4,
};

enum FocusMode : int { FocusAuto = 1, FocusManual = 2, FocusOnce = 3 };
enum ExposureMode : int { ExposureAuto = 1, ExposureManual = 2 };
enum WbMode : int { WbAuto = 1, WbManual = 2 };
enum DisplayMode : int { DisplayDefault = 0, DisplayMetallography = 1 };
enum StreamFormat : int { StreamMjpeg = 0, StreamNv12 = 1, StreamYuy2 = 2, StreamH264 = 3 };

// "MJPEG", "NV12", "YUY2", "H264"; empty for other codes.
QString streamFormatName(int format);
// "Default", "Metallography"; empty for other codes.
QString displayModeName(int mode);
// The message the main window shows for a close reason (translated), and its
// title: "Info" for a normal close, "Warning" otherwise. Empty for other codes.
QString cameraCloseReasonText(int reason);
QString cameraCloseReasonTitle(int reason);

struct Resolution {
    int32_t width = 1920;
    int32_t height = 1080;
    QString text = QStringLiteral("1920x1080");

    Resolution() = default;
    Resolution(int32_t w, int32_t h) : width(w), height(h), text(QStringLiteral("%1x%2").arg(w).arg(h)) {}
    // Two resolutions are the same when their texts are.
    bool operator==(const Resolution &other) const { return text == other.text; }
    bool operator!=(const Resolution &other) const { return !(*this == other); }
};

using ResolutionMap = QMap<int, QList<Resolution>>;

// One adjustable control: the panel shows it only when supported, with
// minimum..maximum as its slider range. value -1 = nothing read yet.
struct ControlRange {
    int32_t value = -1;
    int32_t minimum = 0;
    int32_t maximum = 0;
    int32_t defaultValue = 0;
    int32_t step = 0;
    bool supported = false;

    void setRange(int32_t minimumValue, int32_t maximumValue, int32_t defaultValueOfRange, int32_t stepValue = 1)
    {
        minimum = minimumValue;
        maximum = maximumValue;
        defaultValue = defaultValueOfRange;
        step = stepValue;
    }
};

// What one camera can do and is set to. A plain value: copies are deep.
struct CameraParameters {
    uint32_t modelId = 0;         // USB product id (0xE150 ...); 42112 for R480; 0 = none
    int32_t firmwareVersion = 0;  // x 100
    ResolutionMap resolutions;    // stream format -> offered sizes
    Resolution resolution;        // preview (stream) size
    QString pictureResolution;    // still-picture size text

    ControlRange focus;
    int32_t focusMode = FocusAuto;
    bool focusPresent = false;
    bool focusSlider = false;  // slider and number box; when clear, step buttons
    bool focusOnceSupported = false;
    bool focusRegionSupported = false;
    bool focusRegionEnabled = false;
    int32_t focusRegionX = -1;  // column 0..16
    int32_t focusRegionY = -1;  // row 0..14

    bool exposureSupported = false;
    int32_t exposureMode = ExposureAuto;
    ControlRange exposureGain;
    ControlRange exposureTime;
    ControlRange exposureCompensation;

    bool whiteBalanceSupported = false;
    int32_t whiteBalanceMode = WbAuto;
    ControlRange whiteBalanceRed;
    ControlRange whiteBalanceGreen;
    ControlRange whiteBalanceBlue;

    bool flip = false;
    bool mirror = false;
    bool flipMirrorSupported = false;

    ControlRange zoom;
    ControlRange digitalZoom;
    ControlRange hue;
    ControlRange saturation;
    ControlRange contrast;
    ControlRange sharpness;
    ControlRange gamma;

    bool mainToolsFlag = false;  // focus-fusion tools of the capture page
    bool panelPageFlag = false;  // stitching tools of the capture page
    bool defogSupported = false;
    bool defogOn = false;
    bool flickerSupported = false;
    bool flickerOn = false;
    bool monochromeSupported = false;
    bool monochromeOn = false;

    QList<int> streamFormats;  // offer order
    int32_t decodeWay = StreamMjpeg;

    bool resolutionSelectable = false;
    bool frameRateSelectable = false;
    bool qualitySelectable = false;
    bool streamFormatSelectable = false;
    bool extraControlA = false;
    bool extraControlB = false;

    int32_t fps = 30;
    int32_t bitrate = 0;  // quality index 0..2
    int32_t displayMode = DisplayDefault;
    bool extraFlag = false;
};

struct NetworkOpenSettings {
    QString address;
    QString user;
    QString password;
    QString port;
    int32_t width = 1920;
    int32_t height = 1080;
    QString resolutionText = QStringLiteral("1920x1080");
    QString rateControl = QStringLiteral("cbr");
    QString profile = QStringLiteral("high");
    int32_t fps = 30;
    int32_t bitrate = 86000;
    int32_t gop = 90;
};

struct UsbOpenSettings {
    QString devicePath;
    int32_t controlContext = 0;  // negative: no control handle
    int32_t width = 1920;
    int32_t height = 1080;
    QString resolutionText = QStringLiteral("1920x1080");
    int32_t streamFormat = StreamMjpeg;
    int32_t fps = 30;
    int32_t bufferSize = 0;  // bytes of one frame as the device delivers it
};

struct CameraOpenSettings {
    NetworkOpenSettings network;
    UsbOpenSettings usb;
    bool isNetwork = false;
};

// Asks the capture thread for another stream.
struct CaptureSettings {
    int32_t fps = 30;
    int32_t width = 1920;
    int32_t height = 1080;
    int32_t bitrate = 86000;
    int32_t format = StreamMjpeg;
    QMap<int, int> qualityBitrates{{0, 51200}, {1, 86000}, {2, 100000}};  // quality index -> bit/s

    bool operator==(const CaptureSettings &other) const
    {
        return fps == other.fps && width == other.width && height == other.height && bitrate == other.bitrate
               && format == other.format && qualityBitrates == other.qualityBitrates;
    }
    bool operator!=(const CaptureSettings &other) const { return !(*this == other); }
};

struct IpInfo {
    bool dhcp = false;
    QString ip;
    QString gateway;
    QString netmask;
    QString dns1;
    QString dns2;
};

// Bytes one frame of a stream format takes at a size: NV12 1.5 bytes per
// pixel, YUY2 2, and MJPEG at most what the same frame takes as YUY2.
int32_t captureBufferSize(int width, int height, int streamFormat);

// Registers every type above that travels in queued signals or QVariants.
void registerCameraMetaTypes();

Q_DECLARE_METATYPE(CameraType)
Q_DECLARE_METATYPE(CameraTypeAndName)
Q_DECLARE_METATYPE(CameraCloseReason)
Q_DECLARE_METATYPE(FocusMode)
Q_DECLARE_METATYPE(ExposureMode)
Q_DECLARE_METATYPE(WbMode)
Q_DECLARE_METATYPE(DisplayMode)
Q_DECLARE_METATYPE(StreamFormat)
Q_DECLARE_METATYPE(IpInfo)
Q_DECLARE_METATYPE(Resolution)
Q_DECLARE_METATYPE(CameraParameters)
Q_DECLARE_METATYPE(CameraOpenSettings)
Q_DECLARE_METATYPE(CaptureSettings)
