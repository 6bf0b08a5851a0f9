// Device polling, camera bring-up and close, and the way frames take to the
// live view.
#include "main_window.h"

#include "cam_settings.h"
#include "capture_page.h"
#include "net_devices.h"
#include "ui_mainwindow2.h"
#include "video_recorder.h"
#include "video_widget.h"
#include "wait_dialog.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QThread>

#include <cstring>

// ---------------------------------------------------------------- polling

void MainWindow2::slotDetectTimeout()
{
    // A poll that takes longer than the interval is not piled up behind.
    if (pollBusy || !poller)
        return;
    pollBusy = true;
    QMetaObject::invokeMethod(poller, &DevicePoller::poll, Qt::QueuedConnection);
}

void MainWindow2::onDevicesPolled(const DeviceMap &devices)
{
    pollBusy = false;
    emit detect(devices);
}

// ---------------------------------------------------------------- bring-up

void MainWindow2::cameraChange(QString friendlyName, QString uniqueName)
{
    // The settings page opens a camera lost by disconnection again as soon as
    // the device list names it, which it may do for a while after the loss:
    // the user was told of the loss and opened nothing, so a failure of that
    // first open is only logged. Once a list left it out, what is listed
    // under its name again is a camera plugged in anew, whose failure is told.
    reopeningLostCamera = !lostCamera.isEmpty() && uniqueName == lostCamera;
    lostCamera.clear();
    // The previous camera's capture thread goes first; the new camera opens
    // once it has let go of its device (the same device, or the one decoder
    // every network camera shares).
    retireCaptureThread();
    pendingOpen = PendingOpen{friendlyName, uniqueName};
    if (retiringThreads.isEmpty()) {
        openPendingCamera();
        return;
    }
    qDebug() << "Camera" << uniqueName << "opens once the previous capture thread has stopped";
    pendingOpenTimer.start(kThreadStopWaitMs);
}

void MainWindow2::openPendingCamera()
{
    pendingOpenTimer.stop();
    if (!pendingOpen)
        return;
    const PendingOpen open = *pendingOpen;
    pendingOpen.reset();
    if (!retiringThreads.isEmpty())
        qWarning() << "A previous capture thread is still running; opening" << open.uniqueName << "anyway";
    if (open.friendlyName == QLatin1String("NetCamera"))
        openNetCamera(open.friendlyName, open.uniqueName);
    else
        openUvcCamera(open.friendlyName, open.uniqueName);
}

void MainWindow2::prepareCaptureThread(const QString &uniqueName)
{
    ++bringUp;
    playThread_ = QSharedPointer<CameraPlayThread>::create();
    playThread_->setObjectName(QStringLiteral("capture"));
    attachVideoWidget(liveView_, uniqueName, true);
    wireCaptureThread();
    liveView_->connectToPlayThread(playThread_.data());
    liveView_->setFlowEnable(false);
    playThread_->setRunFlag(true);
    playThread_->setReportFlag(true);
    playThread_->setUniqueName(uniqueName);
}

void MainWindow2::openNetCamera(const QString &friendlyName, const QString &uniqueName)
{
    Q_UNUSED(friendlyName)
    prepareCaptureThread(uniqueName);
    // The device list names a network camera by its address.
    cameraDisplayName = uniqueName;

    CameraOpenSettings settings;
    settings.isNetwork = true;
    settings.network.address = uniqueName;
    settings.network.user = NetCameraCredentials::user;
    settings.network.password = NetCameraCredentials::password;
    settings.network.port = QStringLiteral("80");

    // Asking a network camera for its model and logging in take up to the
    // library's time-out: both run on the control thread, the wait dialog
    // shows meanwhile.
    if (!controlThread_->isRunning())
        controlThread_->start(QThread::InheritPriority);
    waitDialog->setText(tr("Opening the camera, please wait..."));
    waitDialog->show();
    const quint64 mine = bringUp;
    bringUpNetworkCamera(controlThread_, settings, this,
                         [this, mine, uniqueName, settings](QSharedPointer<BaseCamera> camera, CameraCloseReason why) {
                             if (mine != bringUp) {
                                 // Closed or replaced meanwhile: this camera is not wanted any more.
                                 return;
                             }
                             waitDialog->hide();
                             camSettings->bindCamera(camera, settings);
                             camera_ = camera;
                             if (!camera_) {
                                 emit changeDeviceStateForClose(uniqueName);
                                 cameraClose(uniqueName, why);
                                 return;
                             }
                             startCapture(uniqueName, {uniqueName, false});
                         });
}

void MainWindow2::openUvcCamera(const QString &friendlyName, const QString &uniqueName)
{
    cam_probe_buffer probe;
    refreshUsbCameraContext(&probe);
    prepareCaptureThread(uniqueName);
    cameraDisplayName = friendlyName;

    CameraOpenSettings settings;
    settings.usb.devicePath = uniqueName;
    const int count = qBound(0, int(probe.count), int(CAM_MAX_DEVICES));
    const QByteArray path = uniqueName.toLocal8Bit();
    for (int i = 0; i < count; ++i) {
        const cam_device_record &record = probe.devices[i];
        if (strnlen(record.path, sizeof record.path) == size_t(path.size())
            && std::memcmp(record.path, path.constData(), size_t(path.size())) == 0) {
            qDebug() << "cameraChangeUVC: fd=" << record.handle;
            playThread_->setCameraIndex(record.handle);
        }
    }

    camera_ = camSettings->createCamera(settings);
    if (!camera_) {
        emit changeDeviceStateForClose(uniqueName);
        cameraClose(uniqueName, CloseUnsupportedModel);
        return;
    }
    startCapture(uniqueName, {QString::fromLatin1(QT_TR_NOOP("Uvc Camera")), true});
}

void MainWindow2::startCapture(const QString &uniqueName, const LiveTabTitle &title)
{
    Q_UNUSED(uniqueName)
    camera_->moveToThread(controlThread_);
    if (!controlThread_->isRunning())
        controlThread_->start(QThread::InheritPriority);
    camSettings->setPlayThread(playThread_);

    // The parameters are read from the device on the control thread (a
    // network camera answers each request in up to the library's time-out).
    const quint64 mine = bringUp;
    // Weak: the camera holds its capture thread, so a strong hold in a request
    // queued on the camera would keep both alive if the control thread ends first.
    const QWeakPointer<CameraPlayThread> weakThread = playThread_;
    QPointer<MainWindow2> self(this);
    QMetaObject::invokeMethod(camera_.data(), [self, mine, weakThread, title] {
        const QSharedPointer<CameraPlayThread> thread = weakThread.toStrongRef();
        if (!thread)
            return;
        QSharedPointer<CameraParameters> params;
        thread->loadCameraParameters(params, true);
        if (!self)
            return;
        QMetaObject::invokeMethod(self.data(), [self, mine, params, title] {
            if (self && mine == self->bringUp)
                self->onCameraParametersLoaded(params, title);
        }, Qt::QueuedConnection);
    }, Qt::QueuedConnection);
}

void MainWindow2::onCameraParametersLoaded(const QSharedPointer<CameraParameters> &params, const LiveTabTitle &title)
{
    if (!playThread_ || !camera_)
        return;
    camSettings->refreshFromCameraInfo(params);
    liveTabTitle = title;
    showLiveTabTitle();
    if (params) {
        liveView_->setZoomButtonsVisible(params->zoom.supported);
        capturePage->setFocusRange(params->focus.minimum, params->focus.maximum);
        ui->capture_tBtn->setVisible(params->mainToolsFlag || params->panelPageFlag);
        capturePage->setTabsEnabled(params->panelPageFlag, params->mainToolsFlag);
    }
    setWindowTitle(camera_->displayName());
    capturePage->connectToPlayThread(playThread_.data());
    liveView_->onStart();
    playThread_->start(QThread::InheritPriority);
    // Told once the picture is on its way.
    QTimer::singleShot(0, this, &MainWindow2::reportStoredCameraRow);
}

void MainWindow2::reportStoredCameraRow()
{
    if (!camera_)
        return;
    const StoredRowReport stored = camera_->storedRowReport();
    if ((!stored.needsRewrite() && !stored.notRead && stored.notStored.isEmpty())
        || storedRowsReported.contains(stored.key))
        return;
    storedRowsReported << stored.key;
    const QString file = CameraDatabase::instance().databaseName();
    const QString name = cameraDisplayName.isEmpty() ? stored.key : cameraDisplayName;
    QString line;
    if (!stored.notStored.isEmpty()) {
        line = tr("The settings of camera %1 could not be stored in %2 (%3). It works with its model's defaults, "
                  "and changes to its settings are not kept in this run.")
                   .arg(name, file, stored.notStored);
    } else {
        const QString what =
            stored.unreadable || stored.notRead
                ? tr("The stored settings of camera %1 in %2 cannot be read (%3).").arg(name, file, stored.cause)
                : tr("The stored settings of camera %1 in %2 hold values this camera does not allow: %3.")
                      .arg(name, file, stored.ignored.join(QStringLiteral(", ")));
        // Whole: a row kept by a change after an earlier failed read.
        const bool allKept = stored.kept.size() == CameraDatabase::columns().size() - 1;
        QString used;
        if (allKept)
            used = tr("It works with the values you last set, which are stored once the file can be written again.");
        else if (!stored.kept.isEmpty())
            used = tr("It works with the values you last set for %1, which are stored once the file can be written "
                      "again, and with its model's defaults for the others.")
                       .arg(stored.kept.join(QStringLiteral(", ")));
        else
            used = tr("Its model's defaults are used instead.");
        const QString after =
            stored.notRead ? tr("The stored settings stay as they are; a change you make is stored on its own.")
                           : tr("The stored settings stay as they are until you change a setting; then every one "
                                "is stored with the value in use.");
        line = what + QLatin1Char(' ') + used + QLatin1Char(' ') + after;
    }
    qWarning().noquote() << line;
    showMessage(QMessageBox::Warning, tr("Warning"), line);
}

void MainWindow2::wireCaptureThread()
{
    CameraPlayThread *thread = playThread_.data();
    // Its frames and reports reach the window through a receiver of its own,
    // which goes with it: what it had queued when it was retired is dropped.
    captureReceiver = new QObject(this);
    QObject *receiver = captureReceiver;
    connect(thread, &CameraPlayThread::putVideoFrame, receiver,
            [this](VideoFrame frame, int camIndex) { getVideoFrame(frame, camIndex); });
    for (const QMetaObject::Connection &connection : qAsConst(focusRegionConnections))
        disconnect(connection);
    focusRegionConnections = {
        connect(camSettings, &CamSettings::setFocusRegionUI, liveView_, &VideoWidget::onSetFocusRegionUI),
        connect(camSettings, &CamSettings::focusRegionChanged, liveView_, &VideoWidget::blinkChange),
        connect(liveView_, &VideoWidget::blinkArea, camSettings, &CamSettings::onSetFocusRegion),
    };
    edgeConnections = {
        connect(liveView_, &VideoWidget::mousePressPoint, thread, &CameraPlayThread::onMouseClik),
        connect(thread, &CameraPlayThread::sendEdgepos, liveView_, &VideoWidget::sendEdgepos),
    };
    connect(thread, &CameraPlayThread::captureSettingsChanged, receiver, [this](bool busy) {
        for (QWidget *button : {ui->photo_btn, ui->cPhotos_btn, ui->record_btn})
            button->setEnabled(!busy);
    });
    connect(thread, &CameraPlayThread::sendFps, receiver, [this](const QString &fps) { ui->fps_label->setText(fps); });
    connect(thread, &CameraPlayThread::resolutionChange, receiver,
            [this](const QString &size) { ui->resolution_label->setText(size); });
    connect(thread, &CameraPlayThread::formatChanged, receiver,
            [this](const QString &format) { ui->format_label->setText(format); });
    connect(thread, &CameraPlayThread::CameraCloseForReason, receiver,
            [this](const QString &name, CameraCloseReason reason) { camSettings->closeCameraForReason(name, reason); });
    connect(thread, &CameraPlayThread::recorderLackOfFreeSpace, receiver, [this] { stopRecording(); });
    // The recorder reports from its own thread, also after its capture
    // thread is gone (a recording finishing after a close).
    VideoRecorder *recorder = thread->recorder();
    connect(recorder, &VideoRecorder::recordingFailed, this, &MainWindow2::onRecordingFailed, Qt::QueuedConnection);
    connect(recorder, &VideoRecorder::recordingFinished, this, &MainWindow2::onRecordingFinished,
            Qt::QueuedConnection);
}

// ---------------------------------------------------------------- close

void MainWindow2::retireCaptureThread()
{
    // Whatever a bring-up still has under way for this thread is dropped.
    ++bringUp;
    waitDialog->hide();
    if (!playThread_)
        return;
    const QSharedPointer<CameraPlayThread> thread = playThread_;
    playThread_.reset();
    camSettings->setPlayThread({});
    thread->setRunFlag(false);
    thread->setStreamOn(false);
    thread->quit();
    // Frames and reports still queued from it, and the zeros it reports when
    // it goes, must not reach the window any more. The receiver may be
    // handling one of them right now (a frame that opened a message), so it
    // is deleted later, with nothing left in its queue.
    if (captureReceiver) {
        disconnect(thread.data(), nullptr, captureReceiver, nullptr);
        QCoreApplication::removePostedEvents(captureReceiver, QEvent::MetaCall);
        captureReceiver->deleteLater();
        captureReceiver = nullptr;
    }
    // Not started yet (its camera was still being brought up), or already
    // done: nothing holds the device.
    if (!thread->isRunning())
        return;
    // The window never waits for it: still inside a read or a library call,
    // or just leaving its loop, it finishes in the background and is
    // released on this thread once it has.
    retiringThreads.append(thread);
    connect(thread.data(), &QThread::finished, this, &MainWindow2::onRetiredThreadFinished, Qt::QueuedConnection);
}

void MainWindow2::onRetiredThreadFinished()
{
    for (int i = retiringThreads.size() - 1; i >= 0; --i)
        if (retiringThreads[i]->isFinished())
            retiringThreads.removeAt(i);
    if (retiringThreads.isEmpty() && pendingOpen)
        openPendingCamera();
}

void MainWindow2::cameraClose(QString cameraName, CameraCloseReason reason)
{
    if (pendingOpen && pendingOpen->uniqueName == cameraName) {
        // Closed before it could open: nothing was brought up.
        pendingOpen.reset();
        pendingOpenTimer.stop();
        camSettings->resetControlsForNoCamera();
        showCloseMessage(reason);
        return;
    }
    // Only the camera that is open here is closed: a late report about
    // another one (an earlier camera, a failed bring-up) changes nothing.
    if (cameraName.isEmpty() || !playThread_ || playThread_->uniqueName() != cameraName)
        return;
    qDebug() << "CameraClose, cameraName=" << cameraName;

    liveView_->setFlowEnable(false);
    liveView_->setLive(false);
    liveView_->onStop();
    liveView_->setZoomButtonsVisible(false);
    // A recording stops with its camera; the close message names the file.
    QStringList details;
    if (ui->record_btn->isChecked()) {
        quietRecordStop = true;
        ui->record_btn->setChecked(false);
        quietRecordStop = false;
        const QFileInfo file(recordingPath);
        details << tr("The recording has stopped: %1\nin %2")
                       .arg(file.fileName(), QDir::toNativeSeparators(file.absolutePath()));
    }
    details << endTimeLapseForFailure();
    emit stopFusion();
    emit stopStitch();
    for (const QMetaObject::Connection &connection : qAsConst(edgeConnections))
        disconnect(connection);
    edgeConnections.clear();

    playThread_->setCameraName(QStringLiteral("null"));
    retireCaptureThread();
    camera_.reset();

    camSettings->resetControlsForNoCamera();
    ui->stackedWidget->setCurrentWidget(camSettings);
    ui->device_tBtn->setChecked(true);
    ui->capture_tBtn->hide();
    for (const QMetaObject::Connection &connection : qAsConst(focusRegionConnections))
        disconnect(connection);
    focusRegionConnections.clear();
    setWindowTitle(QStringLiteral("5.1.0"));
    liveTabTitle = {QStringLiteral("Camera"), true};
    showLiveTabTitle();
    ui->fps_label->setText(QStringLiteral("0"));
    ui->resolution_label->setText(QStringLiteral("0x0"));
    ui->format_label->clear();
    const bool quiet = reopeningLostCamera && reason != CloseDone;
    reopeningLostCamera = false;
    if (reason == CloseDisconnected)
        lostCamera = cameraName;
    if (quiet) {
        qWarning() << "The lost camera" << cameraName << "could not be opened again:" << cameraCloseReasonText(reason);
        return;
    }
    details.removeAll(QString());
    showCloseMessage(reason, details.join(QLatin1Char('\n')));
}

void MainWindow2::showCloseMessage(int reason, const QString &detail)
{
    const QString text = cameraCloseReasonText(reason);
    if (text.isEmpty())
        return;
    showMessage(reason == CloseDone ? QMessageBox::Information : QMessageBox::Warning,
                cameraCloseReasonTitle(reason), text, detail);
}

// ---------------------------------------------------------------- frames

void MainWindow2::getVideoFrame(VideoFrame frame, int camIndex)
{
    Q_UNUSED(camIndex)
    reopeningLostCamera = false;  // it is open again
    if (!stillCapture.isPending()) {
        setLiveFrameWidth(frame.width());
        liveView_->showFrame(frame);
        if (!messageBoxesWarmed) {
            messageBoxesWarmed = true;
            QTimer::singleShot(kWarmMessagesDelayMs, this, [this] { warmMessageBoxes(); });
        }
        return;
    }
    if (stillCapture.isSwitched())
        return;
    const QSize size(frame.width(), frame.height());
    if (size == stillCapture.expectedSize && !stillCapture.isFrameTaken()) {
        stillCapture.setSwitched(true);
        if (drawProperties.value(SnapOpenImage).toBool() && !burstTimer.isActive()) {
            snapshotToNewTab();
            restorePreviewResolution();
        } else {
            savePicture();
        }
    }
    if (size == QSize(stillCapture.settings.width, stillCapture.settings.height) && stillCapture.isFrameTaken()) {
        stillCapture.setPending(false);
        stillCapture.setSwitched(false);
    }
}
