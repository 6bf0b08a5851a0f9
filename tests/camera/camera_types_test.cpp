// The camera records and enumerations.
#include "camera_test_support.h"

#include <QSignalSpy>
#include <QThread>

TEST(CameraRecords, FreshParametersOfferNothing)
{
    const CameraParameters params;
    for (const ControlRange *control :
         {&params.focus, &params.exposureGain, &params.exposureTime, &params.exposureCompensation,
          &params.whiteBalanceRed, &params.whiteBalanceGreen, &params.whiteBalanceBlue, &params.zoom,
          &params.digitalZoom, &params.hue, &params.saturation, &params.contrast, &params.sharpness, &params.gamma}) {
        EXPECT_FALSE(control->supported);
        EXPECT_EQ(control->value, -1);
        EXPECT_EQ(control->minimum, 0);
        EXPECT_EQ(control->maximum, 0);
    }
    EXPECT_EQ(params.resolution.text, "1920x1080");
    EXPECT_EQ(params.fps, 30);
    EXPECT_TRUE(params.streamFormats.isEmpty());
    EXPECT_EQ(params.focusMode, FocusAuto);
    EXPECT_EQ(params.focusRegionX, -1);
}

TEST(CameraRecords, CopiesAreIndependent)
{
    CameraParameters source;
    source.resolutions = {{StreamMjpeg, {Resolution(1920, 1080)}}, {StreamNv12, {Resolution(3840, 2160)}}};
    source.streamFormats = {0, 1};
    CameraParameters copy = source;
    copy.resolutions[StreamMjpeg] << Resolution(640, 480);
    copy.streamFormats << 2;
    EXPECT_EQ(source.resolutions[StreamMjpeg].size(), 1);
    EXPECT_EQ(source.streamFormats.size(), 2);
}

TEST(CameraRecords, ResolutionsCompareByText)
{
    EXPECT_EQ(Resolution(2592, 1944).text, "2592x1944");
    Resolution odd;
    odd.width = 1;
    EXPECT_EQ(odd, Resolution(1920, 1080));
    EXPECT_NE(Resolution(1920, 1080), Resolution(1080, 1920));
}

TEST(CameraRecords, OpenAndCaptureDefaults)
{
    const CameraOpenSettings open;
    EXPECT_EQ(open.network.rateControl, "cbr");
    EXPECT_EQ(open.network.gop, 90);
    EXPECT_EQ(open.usb.controlContext, 0);
    EXPECT_EQ(open.usb.resolutionText, "1920x1080");
    EXPECT_FALSE(open.isNetwork);
    const CaptureSettings capture;
    EXPECT_EQ(capture.qualityBitrates.value(0), 51200);
    EXPECT_EQ(capture.qualityBitrates.value(2), 100000);
    CaptureSettings other = capture;
    EXPECT_EQ(other, capture);
    other.qualityBitrates[1] = 1;
    EXPECT_NE(other, capture);
}

TEST(CameraRecords, NamesAndTexts)
{
    EXPECT_EQ(streamFormatName(0), "MJPEG");
    EXPECT_EQ(streamFormatName(2), "YUY2");
    EXPECT_EQ(streamFormatName(3), "H264");
    EXPECT_EQ(streamFormatName(7), "");
    EXPECT_EQ(displayModeName(1), "Metallography");
    EXPECT_EQ(cameraCloseReasonText(3), "Camera disconnected connection!");
    EXPECT_EQ(cameraCloseReasonTitle(4), "Info");
    EXPECT_EQ(cameraCloseReasonTitle(0), "Warning");
    EXPECT_EQ(cameraCloseReasonText(9), "");
}

TEST(CameraRecords, BufferSizesFollowFormatAndSize)
{
    EXPECT_EQ(captureBufferSize(1920, 1080, StreamNv12), 1920 * 1080 * 3 / 2);
    EXPECT_EQ(captureBufferSize(1920, 1080, StreamYuy2), 1920 * 1080 * 2);
    // The largest model's stream needs far more than a fixed 8,294,400 bytes.
    EXPECT_EQ(captureBufferSize(5440, 3648, StreamMjpeg), 5440 * 3648 * 2);
    EXPECT_EQ(captureBufferSize(0, 1080, StreamMjpeg), 0);
}

namespace {
class ModeReceiver : public QObject
{
    Q_OBJECT
public slots:
    void take(FocusMode mode, IpInfo info)
    {
        received = mode;
        ip = info.ip;
        thread = QThread::currentThread();
    }

public:
    FocusMode received = FocusAuto;
    QString ip;
    QThread *thread = nullptr;
};
class ModeSender : public QObject
{
    Q_OBJECT
signals:
    void send(FocusMode mode, IpInfo info);
};
} // namespace

TEST(CameraRecords, EnumerationsTravelInQueuedSignals)
{
    registerCameraMetaTypes();
    for (const char *name : {"CameraType", "CameraTypeAndName", "CameraCloseReason", "FocusMode", "ExposureMode",
                             "WbMode", "DisplayMode", "StreamFormat", "IpInfo", "CameraParameters"})
        EXPECT_NE(QMetaType::type(name), 0) << name;

    QThread thread;
    ModeReceiver receiver;
    receiver.moveToThread(&thread);
    ModeSender sender;
    QObject::connect(&sender, &ModeSender::send, &receiver, &ModeReceiver::take, Qt::QueuedConnection);
    thread.start();
    IpInfo info;
    info.ip = "192.168.1.10";
    emit sender.send(FocusOnce, info);
    for (int i = 0; i < 4000 && receiver.thread == nullptr; ++i)
        QThread::msleep(5);
    thread.quit();
    thread.wait();
    EXPECT_EQ(receiver.received, FocusOnce);
    EXPECT_EQ(receiver.ip, "192.168.1.10");
    EXPECT_EQ(receiver.thread, &thread);
}

#include "camera_types_test.moc"
