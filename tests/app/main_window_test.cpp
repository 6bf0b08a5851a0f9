// The main window with the virtual camera on a real display: the camera
// comes up by itself, frames are painted, and Snap, still capture, recording,
// time lapse, measuring and export, the language switch, camera close and
// zoom work as a user drives them.
#include "window_test_support.h"
#include "zoom_steps.h"

#include "burst_mode_settings.h"
#include "camera_factory.h"
#include "control.h"
#include "graphics_view.h"
#include "main_scene.h"
#include "recording_support.h"
#include "sim_camera.h"
#include "title_bar.h"
#include "usb_models.h"
#include "video_recorder.h"
#include "virtual_backend.h"

#include <QAction>
#include <QElapsedTimer>
#include <QGraphicsView>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QProcess>
#include <QSignalSpy>
#include <QSlider>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>

#include <dlfcn.h>

#include <thread>

namespace {

// Mesa's software renderer is unloaded when the last GL context goes; what it
// keeps until then would reach the leak checker without a name to suppress
// it by. Held open, it stays and its frames are named.
const bool kRendererHeld = [] {
    dlopen("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", RTLD_NOW | RTLD_NODELETE);
    return true;
}();

// Duration in seconds of the file's video, as ffprobe reads it; -1 when it can't.
double probeDuration(const QString &path)
{
    QProcess probe;
    probe.start("ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path});
    if (!probe.waitForFinished(30000) || probe.exitCode() != 0)
        return -1;
    bool ok = false;
    const double seconds = probe.readAllStandardOutput().trimmed().toDouble(&ok);
    return ok ? seconds : -1;
}

void clickAt(QWidget *viewport, QPoint at)
{
    QMouseEvent move(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    QMouseEvent press(QEvent::MouseButtonPress, at, viewport->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(viewport, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, viewport->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(viewport, &release);
}

} // namespace

TEST_F(WindowTest, OpensTheVirtualCameraAndPaintsItsFrames)
{
    ASSERT_TRUE(startWithCamera()) << dialogs.all();
    EXPECT_EQ(shownWidth(), 1920);
    auto *tabs = childOf<QTabWidget>(window, "video_tabWidget");
    EXPECT_EQ(tabs->tabText(0), "Uvc Camera");
    EXPECT_EQ(window->windowTitle(), window->camera()->displayName());
    EXPECT_EQ(window->camera()->thread(), window->controlThread());
    EXPECT_TRUE(window->controlThread()->isRunning());
    EXPECT_TRUE(waitFor([&] { return statusLabel("fps_label")->text().toInt() > 0; }, 5000))
        << statusLabel("fps_label")->text();
    EXPECT_TRUE(waitFor([&] { return statusLabel("resolution_label")->text() == "1920x1080"; }, 5000));
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.all();
}

TEST_F(WindowTest, DevicesArePolledAwayFromTheGuiThread)
{
    startWindow();
    QSignalSpy detected(window, &MainWindow2::detect);
    ASSERT_TRUE(waitFor([&] { return detected.count() >= 2; }, 30000));
    const auto devices = detected.last().at(0).value<QMap<QString, QPair<CameraType, QString>>>();
    ASSERT_TRUE(devices.contains(usbcam::kVirtualCameraPath)) << detected.last().at(0).typeName() << devices.keys().join(",");
    EXPECT_EQ(devices.value(usbcam::kVirtualCameraPath), qMakePair(CameraUsb, QStringLiteral("VoCam_1")));
    EXPECT_NE(window->devicePollThread(), QThread::currentThread());
    EXPECT_TRUE(window->devicePollThread()->isRunning());
}

TEST_F(WindowTest, SnapSavesUnderTheConfiguredName)
{
    ASSERT_TRUE(startWithCamera());
    setPhotoSettings(true, 1, "cells", 0);
    button("photo_btn")->click();
    QStringList files = picturesIn("cells_*.jpg");
    ASSERT_EQ(files.size(), 1) << picturesIn().join(",") << dialogs.all();
    EXPECT_TRUE(QRegularExpression("^cells_\\d{8}_\\d{6}_\\d{3}\\.jpg$").match(files[0]).hasMatch()) << files[0];
    const QImage picture(pictures.filePath(files[0]));
    EXPECT_EQ(picture.size(), QSize(1920, 1080));

    // TIFF, and a name without prefix: the time stamp alone.
    setPhotoSettings(true, 1, QString(), 2);
    button("photo_btn")->click();
    files = picturesIn("*.tiff");
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(QRegularExpression("^\\d{8}_\\d{6}_\\d{3}\\.tiff$").match(files[0]).hasMatch()) << files[0];
    EXPECT_EQ(QImage(pictures.filePath(files[0])).size(), QSize(1920, 1080));

    // Naming flags without any part: the time stamp, never a bare ".jpg".
    setPhotoSettings(true, 0, QString(), 7);
    button("photo_btn")->click();
    EXPECT_FALSE(QFile::exists(pictures.filePath(".jpg")));
    EXPECT_EQ(picturesIn("*.jpg").size(), 2);
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.all();
}

TEST_F(WindowTest, SnapOpensTheShotInANewTabWhenAsked)
{
    ASSERT_TRUE(startWithCamera());
    setPhotoSettings(true, 1, "tab", 0);
    window->DrawChange(SnapOpenImage, true);
    auto *tabs = childOf<QTabWidget>(window, "video_tabWidget");
    const int before = tabs->count();
    button("photo_btn")->click();
    ASSERT_EQ(tabs->count(), before + 1);
    EXPECT_TRUE(tabs->tabText(tabs->currentIndex()).startsWith("Tab"));
    EXPECT_TRUE(tabs->tabText(tabs->currentIndex()).endsWith("*"));
    EXPECT_TRUE(picturesIn().isEmpty());
    // Snap on a picture tab does nothing.
    button("photo_btn")->click();
    EXPECT_EQ(tabs->count(), before + 1);
}

TEST_F(WindowTest, ManualNamingAddsTheExtensionOnlyWhenMissing)
{
    ASSERT_TRUE(startWithCamera());
    setPhotoSettings(false, 1, QString(), 0);
    dialogs.fileAnswers = QStringList{pictures.filePath("chosen.jpg"), pictures.filePath("plain")};
    button("photo_btn")->click();
    button("photo_btn")->click();
    EXPECT_EQ(picturesIn(), QStringList({"chosen.jpg", "plain.jpg"})) << dialogs.all();

    // The same name again: asked first, and "No" keeps the file.
    const QByteArray before = fileHash(pictures.filePath("chosen.jpg"));
    dialogs.answerYes = false;
    dialogs.fileAnswers = QStringList{pictures.filePath("chosen.jpg")};
    button("photo_btn")->click();
    EXPECT_TRUE(dialogs.saw("The file already exists, do you want to overwrite it?"));
    EXPECT_EQ(fileHash(pictures.filePath("chosen.jpg")), before);
}

TEST_F(WindowTest, FailedSaveIsShown)
{
    ASSERT_TRUE(startWithCamera());
    setPhotoSettings(true, 1, "x", 0);
    // A folder where a file is: it can't be made.
    writeBytes(pictures.filePath("file"), "x");
    window->DrawChange(QuickSavePath, pictures.filePath("file/sub"));
    button("photo_btn")->click();
    EXPECT_TRUE(dialogs.saw("cannot be created")) << dialogs.all();
    EXPECT_TRUE(window->lastSnapshotPath().isEmpty());
}

TEST_F(WindowTest, SnapAtThePictureResolutionReturnsToThePreview)
{
    ASSERT_TRUE(startWithCamera());
    setPhotoSettings(true, 1, "big", 0);
    childOf<QComboBox>(window->cameraSettings(), "photoRes_comboBox")->setCurrentText("3840x2160");
    button("photo_btn")->click();
    const QStringList files = picturesIn("big_*.jpg");
    ASSERT_EQ(files.size(), 1) << dialogs.all();
    EXPECT_EQ(QImage(pictures.filePath(files[0])).size(), QSize(3840, 2160));
    EXPECT_EQ(window->playThread()->captureSettings().width, 1920);
    EXPECT_TRUE(waitFor([&] { return shownWidth() == 1920 && window->playThread()->latestFrame().width() == 1920; },
                        10000));
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.all();
}

TEST_F(WindowTest, StillCaptureThatTimesOutRestoresThePreviewAndSaysSo)
{
    ASSERT_TRUE(startWithCamera());
    setPhotoSettings(true, 1, "none", 0);
    // A capture that delivers nothing any more.
    window->playThread()->setRunFlag(false);
    ASSERT_TRUE(window->playThread()->wait(5000));
    childOf<QComboBox>(window->cameraSettings(), "photoRes_comboBox")->setCurrentText("3840x2160");
    button("photo_btn")->click();
    EXPECT_TRUE(dialogs.saw("no photo was taken")) << dialogs.all();
    EXPECT_TRUE(picturesIn().isEmpty());
    EXPECT_EQ(window->playThread()->captureSettings().width, 1920);
    EXPECT_FALSE(window->isSnapshotInProgress());
}

TEST_F(WindowTest, RecordsFiveSecondsIntoAFinishedMp4)
{
    ASSERT_TRUE(startWithCamera());
    window->DrawChange(QuickSavePath, pictures.filePath("videos"));
    const QSharedPointer<CameraPlayThread> capture = window->playThread();
    QSignalSpy finished(capture->recorder(), &VideoRecorder::recordingFinished);
    // On a loaded machine the camera gives far fewer than its 30 frames a
    // second, with long gaps: the file is held to the frames it gave between
    // the clicks, counted before and after each click, and to when they were
    // counted.
    QVector<QPair<int64_t, qint64>> counted;  // (captureClockMicroseconds, frames received)
    const auto count = [&] { counted.append({captureClockMicroseconds(), capture->receivedFrameCount()}); };
    const int64_t droppedBefore = H264Encoder::droppedFrameCount();
    const int64_t clickUs = captureClockMicroseconds();
    const qint64 beforeStart = capture->receivedFrameCount();
    button("record_btn")->click();
    const qint64 afterStart = capture->receivedFrameCount();
    ASSERT_TRUE(button("record_btn")->isChecked());
    // The first recording of a process probes the encoders, which takes
    // seconds on a loaded machine; the frames meanwhile are kept.
    EXPECT_TRUE(waitFor([&] { count(); return capture->recorder()->isRecording(); }, 60000));
    EXPECT_FALSE(childOf<QComboBox>(window->cameraSettings(), "previewRes_comboBox")->isEnabled());
    // Five seconds from the click, where the recording starts.
    while (captureClockMicroseconds() - clickUs < 5000000) {
        count();
        QTest::qWait(2);
    }
    const qint64 beforeStop = capture->receivedFrameCount();
    button("record_btn")->click();
    const qint64 afterStop = capture->receivedFrameCount();
    const int64_t stopUs = captureClockMicroseconds();
    EXPECT_FALSE(capture->isRecording());
    ASSERT_TRUE(waitFor([&] { return finished.count() == 1; }, 30000));
    EXPECT_TRUE(finished.at(0).at(1).toBool());
    const QString path = finished.at(0).at(0).toString();
    EXPECT_TRUE(path.startsWith(pictures.filePath("videos") + "/"));
    EXPECT_TRUE(path.endsWith(".mp4"));

    const RecordingInfo info = readRecording(path);
    ASSERT_TRUE(info.opened) << path;
    SCOPED_TRACE(QString("frames counted %1 %2 .. %3 %4, %5 packets, %6 s, longest gap %7 s")
                     .arg(beforeStart).arg(afterStart).arg(beforeStop).arg(afterStop).arg(info.packets)
                     .arg(info.containerDurationSeconds).arg(info.longestGapSeconds)
                     .toStdString());
    // Every frame given is in the file, but those a busy encoder dropped. A
    // frame counted just before a click may be handed over just after it.
    const int dropped = int(H264Encoder::droppedFrameCount() - droppedBefore);
    EXPECT_GE(info.packets, beforeStop - 1 - afterStart - dropped);
    EXPECT_LE(info.packets, afterStop + 1 - beforeStart - dropped);
    EXPECT_EQ(info.decodedFrames, info.packets);
    // The file runs from its first frame to the last but one counted before
    // the stop, which was read after the count last stood three below that;
    // and no longer than from its first frame to the stop and one frame more.
    const int64_t firstUs = capture->recorder()->startTiming().firstFrameCaptureUs;
    int64_t lastFrameAfterUs = firstUs;
    for (const auto &[atUs, frames] : counted) {
        if (frames <= beforeStop - 3)
            lastFrameAfterUs = std::max(lastFrameAfterUs, atUs);
    }
    EXPECT_GE(info.containerDurationSeconds, double(lastFrameAfterUs - firstUs) / 1e6 - 0.01);
    EXPECT_LE(info.containerDurationSeconds, double(stopUs - firstUs) / 1e6 + info.longestGapSeconds + 0.05);
    EXPECT_FALSE(info.topLevelBoxes.isEmpty());
    EXPECT_FALSE(info.topLevelBoxes.contains("moof"));  // finalised: one index, no fragments
    // One message: "Stop Recording", naming the file and its folder.
    EXPECT_TRUE(waitFor([&] { return dialogs.saw("Stop Recording"); }));
    ASSERT_EQ(dialogs.messages.size(), 1) << dialogs.all();
    EXPECT_EQ(dialogs.messages[0].informativeText,
              QFileInfo(path).fileName() + "\nin " + QDir::toNativeSeparators(QFileInfo(path).absolutePath()));
    EXPECT_TRUE(childOf<QComboBox>(window->cameraSettings(), "previewRes_comboBox")->isEnabled());
}

TEST_F(WindowTest, RecorderFailureUntogglesTheButtonOnce)
{
    ASSERT_TRUE(startWithCamera());
    window->DrawChange(QuickSavePath, pictures.filePath("videos"));
    button("record_btn")->click();
    ASSERT_TRUE(waitFor([&] { return window->playThread()->recorder()->isRecording(); }, 5000));
    // What the recorder says when a write fails (a full disk, a pulled drive).
    const QString failure = VideoRecorder::failureText(VideoRecorder::Failure::CannotWrite, "Input/output error");
    emit window->playThread()->recorder()->recordingFailed(failure);
    ASSERT_TRUE(waitFor([&] { return !button("record_btn")->isChecked(); }));
    EXPECT_FALSE(window->playThread()->isRecording());
    EXPECT_TRUE(waitFor([&] { return dialogs.saw(failure); }));
    QTest::qWait(1500);
    EXPECT_FALSE(dialogs.saw("Stop Recording")) << dialogs.all();
    EXPECT_EQ(dialogs.count(failure), 1) << dialogs.all();
}

TEST_F(WindowTest, RecordingFolderThatCannotBeMadeIsReported)
{
    ASSERT_TRUE(startWithCamera());
    writeBytes(pictures.filePath("file"), "x");
    window->DrawChange(QuickSavePath, pictures.filePath("file/videos"));
    button("record_btn")->click();
    EXPECT_FALSE(button("record_btn")->isChecked());
    EXPECT_FALSE(window->playThread()->isRecording());
    EXPECT_TRUE(dialogs.saw("cannot be created")) << dialogs.all();
}

TEST_F(WindowTest, RecordWithoutACameraStaysOff)
{
    usbcam::setVirtualCameraPresent(false);
    startWindow();
    button("record_btn")->click();
    EXPECT_FALSE(button("record_btn")->isChecked());
}

TEST_F(WindowTest, TimeLapseTakesItsShotsAndSaysWhenDone)
{
    ASSERT_TRUE(startWithCamera());
    setPhotoSettings(true, 1, "lapse", 0);
    childOf<QLineEdit>(window->burstModeDialog(), "burstModeNumber_lineEdit")->setText("3");
    childOf<QLineEdit>(window->burstModeDialog(), "burstModeInterval_s_lineEdit")->setText("1");
    button("cPhotos_btn")->click();
    ASSERT_TRUE(window->isTimeLapseRunning());
    EXPECT_TRUE(waitFor([&] { return childOf<QLabel>(window, "burstModeInfo_lab")->text().contains("progress"); }));
    ASSERT_TRUE(waitFor([&] { return dialogs.saw("Continuous shooting done"); }, 20000)) << dialogs.all();
    EXPECT_TRUE(dialogs.saw("the number of photos: 3"));
    EXPECT_EQ(picturesIn("lapse_*.jpg").size(), 3);
    EXPECT_FALSE(button("cPhotos_btn")->isChecked());
    EXPECT_TRUE(childOf<QLabel>(window, "burstModeInfo_lab")->text().isEmpty());
}

TEST_F(WindowTest, TimeLapseWithoutSettingsWarnsAndStaysOff)
{
    ASSERT_TRUE(startWithCamera());
    auto *number = childOf<QLineEdit>(window->burstModeDialog(), "burstModeNumber_lineEdit");
    number->setText("4");
    number->clear();  // the series takes the cleared number, not the one before
    button("cPhotos_btn")->click();
    EXPECT_TRUE(dialogs.saw("Interval or number should more than zero"));
    EXPECT_FALSE(button("cPhotos_btn")->isChecked());
    EXPECT_FALSE(window->isTimeLapseRunning());
}

TEST_F(WindowTest, StoppingATimeLapseMidwaySaysSo)
{
    ASSERT_TRUE(startWithCamera());
    setPhotoSettings(true, 1, "stop", 0);
    childOf<QLineEdit>(window->burstModeDialog(), "burstModeNumber_lineEdit")->setText("5");
    childOf<QLineEdit>(window->burstModeDialog(), "burstModeInterval_s_lineEdit")->setText("30");
    button("cPhotos_btn")->click();
    QTest::qWait(1200);
    button("cPhotos_btn")->click();
    EXPECT_TRUE(dialogs.saw("Stop continuous shooting!"));
    EXPECT_FALSE(window->isTimeLapseRunning());
    EXPECT_TRUE(picturesIn().isEmpty());
}

TEST_F(WindowTest, LineIsMeasuredAndExportedAsCsv)
{
    ASSERT_TRUE(startWithCamera());
    VideoWidget *view = window->liveView();
    window->slotSetDrawMode(DrawType::Line);
    QWidget *viewport = view->graphicsView()->viewport();
    clickAt(viewport, QPoint(100, 100));
    clickAt(viewport, QPoint(300, 100));
    ASSERT_TRUE(waitFor([&] { return view->table()->rowCount() == 1; })) << "no measurement";
    EXPECT_EQ(view->measureScene()->shapes().size(), 1);

    // Typed without a suffix: saved with the filter's.
    const QString csv = pictures.filePath("lines.csv");
    dialogs.fileAnswers = QStringList{pictures.filePath("lines")};
    window->slotExportData();
    EXPECT_FALSE(QFile::exists(pictures.filePath("lines")));
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << dialogs.all();
    QByteArray text = file.readAll();
    // The file starts with a UTF-8 byte-order mark, for spreadsheets.
    ASSERT_TRUE(text.startsWith("\xEF\xBB\xBF")) << text.left(8).toHex().constData();
    const QList<QByteArray> lines = text.mid(3).trimmed().split('\n');
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith("1,")) << lines[0].constData();
    EXPECT_TRUE(lines[0].contains("\"")) << lines[0].constData();
}

TEST_F(WindowTest, ExportWithoutShapesSaysSoAndPictureTabsExportNothing)
{
    usbcam::setVirtualCameraPresent(false);
    startWindow();
    window->slotExportData();
    EXPECT_TRUE(dialogs.saw("current no primitive"));

    // A picture tab with a measurement: no file is asked for, nothing said.
    QPixmap picture(400, 300);
    picture.fill(Qt::gray);
    window->onShowStitchDstPix(picture, true, 200);
    auto *still = qobject_cast<VideoWidget *>(childOf<QTabWidget>(window, "video_tabWidget")->currentWidget());
    ASSERT_TRUE(still && still != window->liveView());
    window->slotSetDrawMode(DrawType::Line);
    clickAt(still->graphicsView()->viewport(), QPoint(20, 20));
    clickAt(still->graphicsView()->viewport(), QPoint(120, 20));
    ASSERT_TRUE(still->hasMeasurements());
    const int seen = dialogs.messages.size();
    dialogs.fileAnswers = QStringList{pictures.filePath("picture.csv")};
    window->slotExportData();
    EXPECT_EQ(dialogs.messages.size(), seen) << dialogs.all();
    EXPECT_EQ(dialogs.fileAnswers.size(), 1);
    EXPECT_FALSE(QFile::exists(pictures.filePath("picture.csv")));
}

TEST_F(WindowTest, LanguageSwitchTranslatesEveryOpenForm)
{
    ASSERT_TRUE(startWithCamera());
    TitleBar *bar = window->titleBar();
    QAction *chinese = nullptr;
    QAction *english = nullptr;
    for (QAction *action : bar->settingsMenu()->findChildren<QAction *>()) {
        if (action->text() == QStringLiteral("中文"))
            chinese = action;
        else if (action->text() == "English")
            english = action;
    }
    ASSERT_TRUE(chinese && english);
    // The capture thread reports its resolution once a second.
    ASSERT_TRUE(waitFor([&] { return statusLabel("resolution_label")->text() == "1920x1080"; }));
    chinese->trigger();
    EXPECT_EQ(button("photo_btn")->text(), QStringLiteral("拍照"));
    EXPECT_EQ(button("record_btn")->text(), QStringLiteral("录像"));
    EXPECT_EQ(childOf<QToolButton>(window, "device_tBtn")->text(), QStringLiteral("设备"));
    EXPECT_EQ(statusLabel("label_2")->text(), QStringLiteral("分辨率:"));
    EXPECT_EQ(window->cameraSettings()->tabText(0), QCoreApplication::translate("CamSettings", "General Settings"));
    EXPECT_NE(window->cameraSettings()->tabText(0), "General Settings");
    EXPECT_EQ(window->burstModeDialog()->windowTitle(), QCoreApplication::translate("BurstModeSettings", "Time Lapse Settings"));
    EXPECT_NE(window->liveView()->table()->horizontalHeaderItem(1)->text(), "Name");
    // Live values survive a switch.
    EXPECT_EQ(statusLabel("resolution_label")->text(), "1920x1080");

    english->trigger();
    EXPECT_EQ(button("photo_btn")->text(), "Snap");
    EXPECT_EQ(window->cameraSettings()->tabText(0), "General Settings");
    EXPECT_EQ(window->liveView()->table()->horizontalHeaderItem(1)->text(), "Name");
}

TEST_F(WindowTest, ClosingTheCameraFromThePanel)
{
    ASSERT_TRUE(startWithCamera());
    QPointer<CameraPlayThread> thread = window->playThread().data();
    // The capture thread has just reported (once a second): its report is
    // still on its way to the window when the user closes the camera.
    std::thread([&] {
        emit thread->sendFps("30");
        emit thread->resolutionChange("1920x1080");
        emit thread->formatChanged("MJPEG");
    }).join();
    childOf<QPushButton>(window->cameraSettings(), "cameraSwitch_btn")->click();
    EXPECT_TRUE(waitFor([&] { return dialogs.saw("The camera is successfully closed!"); })) << dialogs.all();
    EXPECT_FALSE(window->playThread());
    EXPECT_FALSE(window->camera());
    EXPECT_TRUE(waitFor([&] { return thread.isNull(); }, MainWindow2::kThreadStopWaitMs));
    EXPECT_EQ(window->windowTitle(), "5.1.0");
    QCoreApplication::processEvents();
    EXPECT_EQ(statusLabel("fps_label")->text(), "0");
    EXPECT_EQ(statusLabel("resolution_label")->text(), "0x0");
    EXPECT_EQ(statusLabel("format_label")->text(), "");
    // Snap without a camera does nothing.
    setPhotoSettings(true, 1, "closed", 0);
    button("photo_btn")->click();
    EXPECT_TRUE(picturesIn().isEmpty());
}

TEST_F(WindowTest, CloseOfAnotherCameraChangesNothing)
{
    ASSERT_TRUE(startWithCamera());
    window->cameraClose("some other camera", CloseDisconnected);
    window->cameraClose(QString(), CloseDisconnected);
    QTest::qWait(300);
    EXPECT_TRUE(window->playThread());
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.all();
}

TEST_F(WindowTest, UnknownModelIsReportedAndLeavesNoCaptureThread)
{
    usbcam::setVirtualCameraPresent(false);
    startWindow();
    QSignalSpy closed(window, &MainWindow2::changeDeviceStateForClose);
    window->cameraChange("VoCam_1", "usb-nothing&vid_0000&pid_0000#000001");
    EXPECT_TRUE(dialogs.saw("Unsupported camera model, open failed!")) << dialogs.all();
    EXPECT_EQ(closed.count(), 1);
    EXPECT_FALSE(window->playThread());
    EXPECT_FALSE(window->camera());
}

// A lost camera's failure to open again is told once the device list no
// longer named it: what comes back in its place then is another camera for
// the user (the same one still named right after its loss is quiet: see the
// network camera pulled while recording).
TEST_F(WindowTest, CameraInThePlaceOfALostOneThatFailsToOpenIsTold)
{
    ASSERT_TRUE(startWithCamera());
    usbcam::setVirtualCameraPresent(false);
    ASSERT_TRUE(waitFor([&] { return dialogs.saw("Camera disconnected connection!"); }, 30000)) << dialogs.all();
    QSignalSpy lists(window, &MainWindow2::detect);
    ASSERT_TRUE(waitFor([&] { return !lists.isEmpty(); }));  // one without it
    window->cameraSettings()->setCameraFactory([](const QString &) { return QSharedPointer<BaseCamera>(); });
    QSignalSpy failed(window, &MainWindow2::changeDeviceStateForClose);
    usbcam::setVirtualCameraPresent(true);
    ASSERT_TRUE(waitFor([&] { return failed.count() > 0; })) << dialogs.all();
    EXPECT_TRUE(dialogs.saw("Unsupported camera model, open failed!")) << dialogs.all();
}

TEST_F(WindowTest, SwitchingCamerasStopsTheOldCaptureFirst)
{
    ASSERT_TRUE(startWithCamera());
    QPointer<CameraPlayThread> first = window->playThread().data();
    window->cameraChange("VoCam_1", usbcam::kVirtualCameraPath);
    EXPECT_TRUE(waitFor([&] { return first.isNull(); }, MainWindow2::kThreadStopWaitMs));
    ASSERT_TRUE(waitFor([&] { return window->playThread() && window->playThread()->receivedFrameCount() > 3; }, 20000))
        << dialogs.all();
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.all();
}

// A camera released while one of its slots waits for the device: that slot
// waits in no nested event loop (where the release, or any other call, would
// run in its middle), and what it has still to do never reaches the freed
// camera. The one-shot white balance, the camera closed and opened again
// within its second; an E150's advanced reset, the camera released as
// another is bound. The camera then opened takes the one-shot white balance.
TEST_F(WindowTest, CameraReleasedWhileItsSlotWaitsIsNeverUsedAfterwards)
{
    ASSERT_TRUE(startWithCamera());
    CamSettings *panel = window->cameraSettings();
    QPointer<BaseCamera> camera = window->camera().data();
    childOf<QPushButton>(panel, "wBOnce_btn")->click();
    EXPECT_TRUE(threadCaughtUp(camera.data()));
    EXPECT_TRUE(camera->isContinuing());
    childOf<QPushButton>(panel, "cameraSwitch_btn")->click();
    ASSERT_TRUE(waitFor([&] { return camera.isNull(); }));
    panel->setCameraFactory([](const QString &) { return createCamera("usb#vid_0000&pid_e150#1"); });
    window->cameraChange("VoCam_1", usbcam::kVirtualCameraPath);
    ASSERT_TRUE(waitForFrames(20000)) << dialogs.all();

    camera = window->camera().data();
    ASSERT_TRUE(qobject_cast<E150Camera *>(camera.data()));
    ASSERT_TRUE(cameraCaughtUp(camera.data()));
    childOf<QPushButton>(panel, "advancedSettingsAllReset_btn")->click();
    EXPECT_TRUE(threadCaughtUp(camera.data()));
    EXPECT_TRUE(camera->isContinuing());
    panel->setCameraFactory(createCamera);
    window->cameraChange("VoCam_1", usbcam::kVirtualCameraPath);
    ASSERT_TRUE(waitFor([&] { return camera.isNull(); }));
    ASSERT_TRUE(waitForFrames(20000)) << dialogs.all();

    camera = window->camera().data();
    ASSERT_TRUE(cameraCaughtUp(camera.data()));
    childOf<QPushButton>(panel, "wBOnce_btn")->click();
    ASSERT_TRUE(cameraCaughtUp(camera.data()));
    const int32_t board = cam_find_context(usbcam::kVirtualCameraPath);
    EXPECT_EQ(cam_get_white_balance_mode(board), 0);  // manual
    EXPECT_EQ(panel->wbModeUI(), WbManual);
    EXPECT_EQ(childOf<QSlider>(panel, "wBRed_horizontalSlider")->value(), cam_get_white_balance_component_red(board));
    EXPECT_EQ(childOf<QSlider>(panel, "wBBlue_horizontalSlider")->value(),
              cam_get_white_balance_component_blue(board));
    EXPECT_FALSE(dialogs.saw("Failed to open camera!")) << dialogs.all();
}

TEST_F(WindowTest, ZoomTextIsValidatedAndStepsFollowTheList)
{
    ASSERT_TRUE(startWithCamera());
    auto *zoom = childOf<QComboBox>(window, "comboBox");
    zoom->setCurrentText("50%");
    EXPECT_DOUBLE_EQ(window->liveView()->liveScaleValue(), 0.5);
    for (const char *bad : {"abc", "0%", "-20", "nan%"}) {
        zoom->setCurrentText(bad);
        EXPECT_DOUBLE_EQ(window->liveView()->liveScaleValue(), 0.5) << bad;
    }
    // The steps go through the box's items, which hold the fitted scale of
    // the live picture besides 1, 10 ... 100.
    QList<double> levels;
    for (int i = 0; i < zoom->count(); ++i)
        levels << zoom->itemData(i).toDouble();
    ASSERT_TRUE(levels.contains(40.0) && levels.contains(50.0)) << zoom->count();
    double above = 0;
    for (double level : levels)
        if (level > 50.0 && (above == 0 || level < above))
            above = level;
    zoom->setCurrentText("50%");
    button("zoomAdd_btn")->click();
    EXPECT_EQ(zoom->currentText(), zoomText(above));
    button("zoomSub_btn")->click();
    button("zoomSub_btn")->click();
    EXPECT_EQ(zoom->currentText(), "40%");
    EXPECT_DOUBLE_EQ(window->liveView()->liveScaleValue(), 0.4);
}

TEST_F(WindowTest, StartsInTheSelectionMode)
{
    startWindow();
    EXPECT_EQ(window->currentDrawType(), int(DrawType::Hand));
    EXPECT_EQ(window->liveView()->measureScene()->drawMode(), int(DrawType::Hand));
    EXPECT_TRUE(button("hand_btn")->isChecked());
}

TEST_F(WindowTest, UnitsAndCalibrationReachEveryView)
{
    ASSERT_TRUE(startWithCamera()) << dialogs.all();
    VideoWidget *still = openPicture(pictures.filePath("still.png"), QSize(640, 480));
    ASSERT_TRUE(still);
    auto *tabs = childOf<QTabWidget>(window, "video_tabWidget");
    window->slotUnitChange("mil");
    window->slotUnitChange("furlong");
    window->calibrateChange(2.5);
    for (VideoWidget *view : {window->liveView(), still}) {
        EXPECT_EQ(view->measureScene()->unit(), 5);
        EXPECT_DOUBLE_EQ(view->measureScene()->calibration(), 2.5);
    }

    // A calibration line reaches the calibration dialog in picture pixels:
    // the live view's scaled to the frame, a picture's as drawn. The one on
    // the picture is kept with the picture's width.
    QStringList shown;
    dialogs.dialogActions["CalibrationWidget"] = [&shown](QDialog *dialog) {
        shown << dialog->findChild<QLabel *>("label_6")->text();
        if (shown.size() == 1) {
            dialog->reject();
            return;
        }
        dialog->findChild<QLineEdit *>("lineEdit")->setText("on the picture");
        dialog->findChild<QLineEdit *>("lineEdit_2")->setText("1");
        dialog->findChild<QPushButton *>("pushButton")->click();
    };
    tabs->setCurrentIndex(0);
    const double areaWidth = window->liveView()->videoAreaWidth();
    ASSERT_GT(areaWidth, 0.0);
    window->caliOver(100.0);
    tabs->setCurrentIndex(1);
    window->caliOver(100.0);
    ASSERT_EQ(shown.size(), 2) << dialogs.all();
    EXPECT_EQ(shown[0], QString::number(100.0 * 1920 / areaWidth, 'g', 6) + " pixel");
    EXPECT_EQ(shown[1], "100 pixel");
    const QList<CalibrationRecord> stored = SettingsStore::instance().calibrations();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored[0].width, 640);
}

TEST_F(WindowTest, UntitledTabsAreNumberedAndAModifiedOneAsksBeforeClosing)
{
    startWindow();
    auto *tabs = childOf<QTabWidget>(window, "video_tabWidget");
    QPixmap picture(64, 48);
    picture.fill(Qt::gray);
    window->onShowStitchDstPix(picture, true, 32);
    window->onShowFusionDstPix(picture, true);
    ASSERT_EQ(tabs->count(), 3);
    const QRegularExpression untitled("^Tab(\\d+)\\*$");
    const auto first = untitled.match(tabs->tabText(1));
    const auto second = untitled.match(tabs->tabText(2));
    ASSERT_TRUE(first.hasMatch() && second.hasMatch());
    EXPECT_EQ(second.captured(1).toInt(), first.captured(1).toInt() + 1);

    window->on_video_tabWidget_tabCloseRequested(0);
    EXPECT_EQ(tabs->count(), 3);
    dialogs.answerYes = false;
    window->on_video_tabWidget_tabCloseRequested(1);
    EXPECT_TRUE(dialogs.saw("Do you want to exit without saving?"));
    EXPECT_EQ(tabs->count(), 3);
    QSignalSpy stopStitch(window, &MainWindow2::stopStitch);
    dialogs.answerYes = true;
    window->on_video_tabWidget_tabCloseRequested(1);
    EXPECT_EQ(tabs->count(), 2);
    EXPECT_EQ(stopStitch.count(), 1);
}

TEST_F(WindowTest, SavingAnOpenedPictureAsksBeforeReplacingAnotherFile)
{
    startWindow();
    const QString snapshots = pictures.filePath("snaps");
    window->DrawChange(QuickSavePath, snapshots);
    writeBytes(snapshots + "/shot.png", "an unrelated file");

    VideoWidget *view = openPicture(pictures.filePath("source/shot.png"), QSize(80, 60), Qt::darkGreen);
    ASSERT_TRUE(view);
    auto *tabs = childOf<QTabWidget>(window, "video_tabWidget");
    ASSERT_EQ(tabs->count(), 2);
    view->setModified(true);
    dialogs.answerYes = false;
    button("savePic_btn")->click();
    EXPECT_TRUE(dialogs.saw("The file already exists"));
    QFile unrelated(snapshots + "/shot.png");
    ASSERT_TRUE(unrelated.open(QIODevice::ReadOnly));
    EXPECT_EQ(unrelated.readAll(), QByteArray("an unrelated file"));
    unrelated.close();

    dialogs.answerYes = true;
    button("savePic_btn")->click();
    EXPECT_EQ(QImage(snapshots + "/shot.png").size(), QSize(80, 60));
    EXPECT_EQ(tabs->tabText(tabs->currentIndex()), "shot.png");
}

TEST_F(WindowTest, EscapeLeavesFullScreen)
{
    startWindow();
    const QRect before = window->geometry();
    auto *fullScreen = button("fullScreen_btn");
    fullScreen->click();
    EXPECT_FALSE(window->titleBar()->isVisible());
    QTest::keyClick(window, Qt::Key_Escape);
    EXPECT_FALSE(fullScreen->isChecked());
    EXPECT_TRUE(window->titleBar()->isVisible());
    EXPECT_EQ(window->geometry().size(), before.size());
}

// ---------------------------------------------------------------- shut-down

TEST(Shutdown, StopsEveryThreadInOrderAndFinishesARunningRecording)
{
    QTemporaryDir videos;
    SettingsStore::instance().setBaseFolderForTesting(appDataFolder());
    usbcam::setVirtualCameraPresent(true);
    DialogWatcher dialogs;
    auto *window = new MainWindow2;
    window->show();
    ASSERT_TRUE(waitFor([&] { return window->playThread() && window->playThread()->receivedFrameCount() > 3; }, 20000));
    window->DrawChange(QuickSavePath, videos.path());
    VideoRecorder *recorder = window->playThread()->recorder();
    QString recorded;
    QObject::connect(recorder, &VideoRecorder::recordingFinished, [&](const QString &path, bool) { recorded = path; });
    childOf<QPushButton>(window, "record_btn")->click();
    ASSERT_TRUE(waitFor([&] { return recorder->isRecording(); }, 5000));
    QTest::qWait(1500);

    // The order in which the threads finish, recorded on the threads themselves.
    QMutex mutex;
    QStringList order;
    auto watch = [&](QThread *thread, const QString &name) {
        QObject::connect(thread, &QThread::finished, thread, [&, name] {
            QMutexLocker lock(&mutex);
            order << name;
        }, Qt::DirectConnection);
    };
    watch(window->playThread().data(), "capture");
    watch(window->workThread(), "work");
    watch(window->controlThread(), "control");
    watch(window->devicePollThread(), "device poll");
    delete window;
    // A thread whose wait ran out would finish after the ones stopped after it.
    EXPECT_EQ(order, QStringList({"capture", "work", "control", "device poll"}));

    ASSERT_TRUE(FinishingRecorders::waitForAll(FinishingRecorders::kShutdownWaitMs));
    EXPECT_EQ(FinishingRecorders::pendingCount(), 0);
    QCoreApplication::processEvents();
    ASSERT_FALSE(recorded.isEmpty());
    EXPECT_GT(probeDuration(recorded), 0.5);
    for (const Mp4Box &box : mp4Boxes(recorded))
        EXPECT_NE(box.type, "moof");
}

// ---- network cameras ----

namespace {

// A simulated network camera on a loopback address of its own, at the port
// the window opens network cameras on.
constexpr char kSimAddress[] = "127.0.0.57";

// Counts GUI-thread timer ticks and the longest time between two: a GUI
// thread blocked on a device shows as a long gap.
struct TickCounter {
    TickCounter()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            ++ticks;
            longestGapMs = std::max(longestGapMs, sinceLast.restart());
        });
        sinceLast.start();
        timer.start(20);
    }
    QTimer timer;
    QElapsedTimer sinceLast;
    int ticks = 0;
    qint64 longestGapMs = 0;
};

} // namespace

TEST_F(WindowTest, OpensANetworkCameraOffTheGuiThread)
{
    simcam::SimCamera sim;
    sim.setModel("Y260_IPC");
    ASSERT_EQ(sim.start(80, kSimAddress), 80) << "port 80 of " << kSimAddress << " is taken";
    usbcam::setVirtualCameraPresent(false);
    startWindow();
    TickCounter ticks;
    window->cameraChange("NetCamera", kSimAddress);
    ASSERT_TRUE(waitFor([&] { return window->playThread() && window->playThread()->receivedFrameCount() > 3; }, 20000))
        << dialogs.all();
    ASSERT_TRUE(window->camera());
    EXPECT_EQ(window->camera()->thread(), window->controlThread());
    EXPECT_EQ(childOf<QTabWidget>(window, "video_tabWidget")->tabText(0), kSimAddress);
    EXPECT_EQ(window->windowTitle(), window->camera()->displayName());
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.all();
    EXPECT_GT(ticks.ticks, 10);

    window->cameraClose(kSimAddress, CloseDone);
    EXPECT_FALSE(window->playThread());
    EXPECT_TRUE(dialogs.saw("The camera is successfully closed!")) << dialogs.all();
}

// The IP settings of a network camera that is lost close with it, before
// the loss is told: no Ok is left to send a changed address nowhere.
TEST_F(WindowTest, IpSettingsOfALostNetworkCameraCloseWithIt)
{
    simcam::SimCamera sim;
    sim.setModel("Y260_IPC");
    ASSERT_EQ(sim.start(80, kSimAddress), 80) << "port 80 of " << kSimAddress << " is taken";
    usbcam::setVirtualCameraPresent(false);
    startWindow();
    window->cameraChange("NetCamera", kSimAddress);
    ASSERT_TRUE(waitFor([&] { return window->playThread() && window->playThread()->receivedFrameCount() > 3; }, 20000))
        << dialogs.all();
    // The dialog runs modally: the camera is lost while it is open.
    bool shown = false, lossTold = false, openAtTheLoss = true;
    dialogs.dialogActions["IpSetting"] = [&](QDialog *dialog) {
        shown = true;
        QPointer<QDialog> ip = dialog;
        const QMetaObject::Connection closed = QObject::connect(
            dialog, &QDialog::finished, [&] { openAtTheLoss = dialogs.saw("Camera disconnected connection!"); });
        sim.stop();
        lossTold = waitFor([&] { return dialogs.saw("Camera disconnected connection!"); }, 60000);
        if (ip && ip->isVisible())
            ip->reject();
        QObject::disconnect(closed);
    };
    childOf<QPushButton>(window->cameraSettings(), "changeIP_btn")->click();
    ASSERT_TRUE(waitFor([&] { return shown && !window->playThread(); }, 90000)) << dialogs.all();
    EXPECT_TRUE(lossTold) << dialogs.all();
    EXPECT_FALSE(openAtTheLoss);
}

TEST_F(WindowTest, NetworkCameraThatDoesNotAnswerFailsToOpenWithoutFreezingTheWindow)
{
    simcam::SimCamera sim;
    sim.setModel("Y260_IPC");
    sim.setLoginReply(simcam::Reply::silent());
    ASSERT_EQ(sim.start(80, kSimAddress), 80) << "port 80 of " << kSimAddress << " is taken";
    usbcam::setVirtualCameraPresent(false);
    startWindow();
    TickCounter ticks;
    QElapsedTimer clock;
    clock.start();
    window->cameraChange("NetCamera", kSimAddress);
    ASSERT_TRUE(waitFor([&] { return dialogs.saw("Failed to open camera!"); }, 30000)) << dialogs.all();
    // Not the message of an unknown model: the camera could not be opened.
    EXPECT_FALSE(dialogs.saw("Unsupported camera model")) << dialogs.all();
    EXPECT_FALSE(window->playThread());
    EXPECT_FALSE(window->camera());
    // The window kept handling its events while the library waited for the
    // camera: never blocked for a good part of that wait.
    EXPECT_LT(ticks.longestGapMs, clock.elapsed() / 2) << clock.elapsed() << " ms";
}
