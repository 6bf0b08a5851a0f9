#include "camera_types.h"

#include <QCoreApplication>

#include <limits>

QString streamFormatName(int format)
{
    switch (format) {
    case StreamMjpeg: return QStringLiteral("MJPEG");
    case StreamNv12: return QStringLiteral("NV12");
    case StreamYuy2: return QStringLiteral("YUY2");
    case StreamH264: return QStringLiteral("H264");
    default: return QString();
    }
}

QString displayModeName(int mode)
{
    switch (mode) {
    case DisplayDefault: return QCoreApplication::translate("CameraTypes", "Default");
    case DisplayMetallography: return QCoreApplication::translate("CameraTypes", "Metallography");
    default: return QString();
    }
}

QString cameraCloseReasonText(int reason)
{
    switch (reason) {
    case CloseOpenFailed: return QCoreApplication::translate("CameraTypes", "Failed to open camera!");
    case CloseSystemUnsupported:
        return QCoreApplication::translate(
            "CameraTypes", "Camera does not support current system, please use windows 10 and above systems!");
    case CloseUnsupportedModel:
        return QCoreApplication::translate("CameraTypes", "Unsupported camera model, open failed!");
    case CloseDisconnected: return QCoreApplication::translate("CameraTypes", "Camera disconnected connection!");
    case CloseDone: return QCoreApplication::translate("CameraTypes", "The camera is successfully closed!");
    default: return QString();
    }
}

QString cameraCloseReasonTitle(int reason)
{
    if (reason == CloseDone)
        return QCoreApplication::translate("CameraTypes", "Info");
    if (reason >= CloseOpenFailed && reason < CloseDone)
        return QCoreApplication::translate("CameraTypes", "Warning");
    return QString();
}

int32_t captureBufferSize(int width, int height, int streamFormat)
{
    if (width <= 0 || height <= 0)
        return 0;
    const int64_t pixels = int64_t(width) * height;
    const int64_t bytes = streamFormat == StreamNv12 || streamFormat == StreamH264 ? pixels * 3 / 2 : pixels * 2;
    return bytes > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max() : int32_t(bytes);
}

void registerCameraMetaTypes()
{
    qRegisterMetaType<CameraType>("CameraType");
    qRegisterMetaType<CameraTypeAndName>("CameraTypeAndName");
    qRegisterMetaType<CameraCloseReason>("CameraCloseReason");
    qRegisterMetaType<FocusMode>("FocusMode");
    qRegisterMetaType<ExposureMode>("ExposureMode");
    qRegisterMetaType<WbMode>("WbMode");
    qRegisterMetaType<DisplayMode>("DisplayMode");
    qRegisterMetaType<StreamFormat>("StreamFormat");
    qRegisterMetaType<IpInfo>("IpInfo");
    qRegisterMetaType<Resolution>("Resolution");
    qRegisterMetaType<CameraParameters>("CameraParameters");
    qRegisterMetaType<CameraOpenSettings>("CameraOpenSettings");
    qRegisterMetaType<CaptureSettings>("CaptureSettings");
}
