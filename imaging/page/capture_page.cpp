#include "capture_page.h"
#include "ui_capturepage.h"

#include "camera_play_thread.h"

#include <QCoreApplication>
#include <QDebug>
#include <QMessageBox>
#include <QResizeEvent>
#include <QTabBar>

#include <algorithm>
#include <cstdlib>
#include <utility>

CapturePage::CapturePage(QWidget *parent) : QTabWidget(parent), ui(new Ui::CapturePage)
{
    registerVideoFrameMetaType();
    registerCameraMetaTypes();
    ui->setupUi(this);

    const std::pair<QSlider *, QSpinBox *> ties[] = {
        {ui->stitchSpeed_horizontalSlider, ui->stitchSpeed_spinBox},
        {ui->fusionStartPos_horizontalSlider, ui->fusionStartPos_spinBox},
        {ui->fusionEndPos_horizontalSlider, ui->fusionEndPos_spinBox},
    };
    for (const auto &[slider, spinBox] : ties) {
        connect(slider, &QSlider::valueChanged, spinBox, &QSpinBox::setValue);
        connect(spinBox, qOverload<int>(&QSpinBox::valueChanged), slider, &QSlider::setValue);
    }
    connect(this, &CapturePage::startStitch, &stitch_, &PictureStitch::onStart);
    connect(this, &CapturePage::stopStitch, &stitch_, &PictureStitch::onStop);
    connect(this, &CapturePage::startFusion, &analyse_, &PicAnalyse::onStart);
    connect(this, &CapturePage::stopFusion, &analyse_, &PicAnalyse::onStop);
    connect(&stitch_, &PictureStitch::showDstPix, this, &CapturePage::onShowStitchDstPix);
    connect(&analyse_, &PicAnalyse::showDstPix, this, &CapturePage::onShowFusionDstPix);
    connect(&stitch_, &PictureStitch::getNextVideoFrame, this, &CapturePage::onGetNextVideoFrameForStitch);
    connect(&analyse_, &PicAnalyse::getNextVideoFrame, this, &CapturePage::onGetNextVideoFrameForFusion);
    // A new canvas (frames of another size) opens a window of its own, so
    // that the picture stitched so far stays where the user can save it.
    connect(&stitch_, &PictureStitch::runRestarted, this, [this] {
        if (run_ == Run::Stitch)
            stitchNewWindow_ = true;
    });
    connect(&stitch_, &PictureStitch::runEnded, this, [this](QString message) {
        if (run_ == Run::Stitch)
            endRun(Ending::WorkerEnded, message);
    });

    stepTimer_.setSingleShot(true);
    // A pause lasts at least what was chosen: a coarse timer may end it up
    // to 5 % early, which would cut a focus move's settling time short.
    stepTimer_.setTimerType(Qt::PreciseTimer);
    connect(&stepTimer_, &QTimer::timeout, this, [this] {
        std::function<void()> step = std::move(pendingStep_);
        pendingStep_ = nullptr;
        if (step && run_ != Run::None)
            step();
    });
    frameTimer_.setSingleShot(true);
    frameTimer_.setInterval(kFrameTimeoutMs);
    connect(&frameTimer_, &QTimer::timeout, this, &CapturePage::onFrameTimeout);

    ui->stitchSpeed_horizontalSlider->setRange(20, 500);
    ui->stitchSpeed_spinBox->setRange(20, 500);
    ui->stitchSpeed_horizontalSlider->setValue(stitchDelay_);
    for (QPushButton *button : {ui->startStitching_btn, ui->stopStitching_btn, ui->startFusion_btn, ui->fusionRest_btn})
        button->setProperty("flag", QStringLiteral("LinearGradient"));
    setCurrentIndex(0);
    updateCaptureCount();
    updateRunControls();
}

CapturePage::~CapturePage()
{
    stepTimer_.stop();
    frameTimer_.stop();
    for (const QMetaObject::Connection &connection : playThreadConnections_)
        disconnect(connection);
    // The workers are members, destroyed here on this thread: taken back
    // from a work thread that still runs (one that has ended handles none of
    // their events any more).
    if (workThread_ && workThread_->isRunning())
        moveWorkersTo(thread());
    delete ui;
}

// ---------------------------------------------------------------- main window

void CapturePage::setWorkThread(QSharedPointer<QThread> thread)
{
    if (!thread) {
        qDebug() << "CapturePage set work thread failed!";
        return;
    }
    workThread_ = std::move(thread);
    moveWorkersTo(workThread_.data());
}

void CapturePage::moveWorkersTo(QThread *target)
{
    for (QObject *worker : {static_cast<QObject *>(&stitch_), static_cast<QObject *>(&analyse_)}) {
        QThread *current = worker->thread();
        if (current == target)
            continue;
        if (current == QThread::currentThread()) {
            worker->moveToThread(target);
        } else if (current && current->isRunning()) {
            // Only the worker's own thread may hand it on; this waits until
            // the worker has finished what it was doing.
            QMetaObject::invokeMethod(
                worker, [worker, target] { worker->moveToThread(target); }, Qt::BlockingQueuedConnection);
        } else {
            qWarning() << "CapturePage: a worker stays on a thread that has stopped";
        }
    }
}

void CapturePage::connectToPlayThread(CameraPlayThread *thread)
{
    qDebug() << "connectToPlayThread:" << static_cast<void *>(thread);
    if (!thread)
        return;
    for (const QMetaObject::Connection &connection : playThreadConnections_)
        disconnect(connection);
    playThreadConnections_.clear();
    playThreadConnections_ << connect(this, &CapturePage::getVideoFrame, thread, &CameraPlayThread::onGetVideoFrame);
    playThreadConnections_ << connect(thread, &CameraPlayThread::sendVideoFrame, &stitch_,
                                      &PictureStitch::onRecvVideoFrame);
    playThreadConnections_ << connect(thread, &CameraPlayThread::sendVideoFrame, &analyse_,
                                      &PicAnalyse::onRecvVideoFrame);
    // After the workers: when the page learns that a frame was sent, the
    // frame is already queued for them. Signals of a capture thread queued
    // before it was replaced count for nothing.
    playThreadConnections_ << connect(thread, &CameraPlayThread::sendVideoFrame, this, [this, thread] {
        if (thread == playThread_)
            onFrameSent();
    });
    playThreadConnections_ << connect(thread, &QThread::finished, this, [this, thread] {
        if (thread == playThread_ && run_ != Run::None)
            endRun(Ending::CameraLost);
    });
    if (thread != playThread_) {
        playThread_ = thread;
        framesAsked_ = framesSent_ = 0;
        if (run_ != Run::None)
            endRun(Ending::CameraLost);
    }
}

void CapturePage::setTabsEnabled(bool stitch, bool fusion)
{
    setTabEnabled(0, stitch);
    setTabEnabled(1, fusion);
    if ((run_ == Run::Stitch && !stitch) || (run_ == Run::Fusion && !fusion))
        endRun(Ending::Stopped);
}

void CapturePage::setFocusRange(int min, int max)
{
    // A new range may clamp the values; that moves no focus.
    QSlider *sliders[] = {ui->fusionStartPos_horizontalSlider, ui->fusionEndPos_horizontalSlider};
    QSpinBox *spinBoxes[] = {ui->fusionStartPos_spinBox, ui->fusionEndPos_spinBox};
    for (int i = 0; i < 2; ++i) {
        const QSignalBlocker sliderBlocker(sliders[i]);
        const QSignalBlocker spinBoxBlocker(spinBoxes[i]);
        sliders[i]->setRange(min, max);
        spinBoxes[i]->setRange(min, max);
        spinBoxes[i]->setValue(sliders[i]->value());
    }
    updateCaptureCount();
}

void CapturePage::retranslate()
{
    ui->retranslateUi(this);
    if (running_)
        ui->startFusion_btn->setText(tr("End"));
    updateCaptureCount();
}

void CapturePage::setCameraModesSource(CameraModesSource source)
{
    modesSource_ = std::move(source);
}

void CapturePage::setFrameTimeout(int milliseconds)
{
    frameTimer_.setInterval(milliseconds);
}

void CapturePage::resizeEvent(QResizeEvent *event)
{
    tabBar()->setMinimumWidth(event->size().width());
    QTabWidget::resizeEvent(event);
}

// ---------------------------------------------------------------- stitching

void CapturePage::on_stitchSpeed_horizontalSlider_valueChanged(int value)
{
    stitchDelay_ = value;
}

void CapturePage::on_startStitching_btn_clicked()
{
    if (run_ != Run::None)
        return;
    run_ = Run::Stitch;
    ++runId_;
    stitchNewWindow_ = true;
    updateRunControls();
    takeCameraModes(true);
    emit setModeForStitch(true);
    // The camera settles in its manual modes before the first frame.
    after(startPauseMs_, [this] {
        startWorker();
        requestFrame();
    });
}

void CapturePage::on_stopStitching_btn_clicked()
{
    onStopStitch();
}

void CapturePage::onStopStitch()
{
    if (run_ == Run::Stitch) {
        endRun(Ending::Stopped);
        return;
    }
    emit stopStitch();
    updateRunControls();
}

void CapturePage::onGetNextVideoFrameForStitch()
{
    if (!takeReply(Run::Stitch))
        return;
    after(stitchDelay_, [this] { requestFrame(); });
}

void CapturePage::onShowStitchDstPix(QImage pix, int frameWidth)
{
    if (pix.isNull())
        return;
    const bool newWindow = std::exchange(stitchNewWindow_, false);
    emit showStitchDstPix(QPixmap::fromImage(pix), newWindow, frameWidth);
}

// ---------------------------------------------------------------- focus series

void CapturePage::updateCaptureCount()
{
    const int start = ui->fusionStartPos_horizontalSlider->value();
    const int end = ui->fusionEndPos_horizontalSlider->value();
    const int interval = std::max(1, ui->capInterval_spinBox->value());
    const int distance = std::abs(end - start);
    count_ = 1 + (distance + interval - 1) / interval;
    ui->capNum_lineEdit->setText(QString::number(count_));
}

void CapturePage::on_fusionStartPos_horizontalSlider_valueChanged(int value)
{
    rangeEndMoved(false, value);
}

void CapturePage::on_fusionEndPos_horizontalSlider_valueChanged(int value)
{
    rangeEndMoved(true, value);
}

void CapturePage::rangeEndMoved(bool end, int value)
{
    endMovedLast_ = end;
    updateCaptureCount();
    // The picture at the new end of the range is shown.
    emit changeFocusMode(FocusManual);
    emit changeFocusValue(value);
}

void CapturePage::on_capInterval_spinBox_valueChanged(int)
{
    updateCaptureCount();
}

void CapturePage::on_fusionRest_btn_clicked()
{
    ui->fusionStartPos_horizontalSlider->setValue(1);
    ui->fusionEndPos_horizontalSlider->setValue(1);
    ui->capInterval_spinBox->setValue(2);
    ui->waitInterval_spinBox->setValue(100);
}

void CapturePage::on_startFusion_btn_clicked()
{
    updateCaptureCount();
    if (run_ == Run::Fusion) {
        endRun(Ending::Stopped);
        return;
    }
    if (run_ != Run::None)
        return;
    // The series starts at the end of the range moved last.
    const int start = ui->fusionStartPos_horizontalSlider->value();
    const int end = ui->fusionEndPos_horizontalSlider->value();
    const int interval = std::max(1, ui->capInterval_spinBox->value());
    position_ = endMovedLast_ ? end : start;
    end_ = endMovedLast_ ? start : end;
    step_ = end_ < position_ ? -interval : interval;
    wait_ = ui->waitInterval_spinBox->value();
    index_ = 1;

    run_ = Run::Fusion;
    ++runId_;
    setFusionRunning(true);
    updateRunControls();
    takeCameraModes(false);
    emit changeFocusMode(FocusManual);
    after(startPauseMs_, [this] {
        emit changeFocusValue(position_);
        after(startPauseMs_, [this] {
            startWorker();
            requestFrame();
        });
    });
}

void CapturePage::onGetNextVideoFrameForFusion()
{
    if (!takeReply(Run::Fusion))
        return;
    if (index_ >= count_) {
        endRun(Ending::Completed);
        return;
    }
    // The last step stops at the end of the range.
    position_ = step_ > 0 ? std::min(position_ + step_, end_) : std::max(position_ + step_, end_);
    ui->fusionProgress_lineEdit->setText(QString::number(index_));
    ++index_;
    emit changeFocusValue(position_);
    after(wait_, [this] { requestFrame(); });
}

void CapturePage::onStopFusion()
{
    if (run_ == Run::Fusion)
        endRun(Ending::Stopped);
}

void CapturePage::onShowFusionDstPix(QImage pix)
{
    if (pix.isNull())
        return;
    const bool newWindow = std::exchange(fusionNewWindow_, false);
    emit showFusionDstPix(QPixmap::fromImage(pix), newWindow);
}

void CapturePage::setFusionRunning(bool on)
{
    if (on == running_)
        return;
    running_ = on;
    for (QWidget *input : {static_cast<QWidget *>(ui->fusionStartPos_horizontalSlider),
                           static_cast<QWidget *>(ui->fusionStartPos_spinBox),
                           static_cast<QWidget *>(ui->fusionEndPos_horizontalSlider),
                           static_cast<QWidget *>(ui->fusionEndPos_spinBox), static_cast<QWidget *>(ui->fusionRest_btn),
                           static_cast<QWidget *>(ui->capInterval_spinBox),
                           static_cast<QWidget *>(ui->waitInterval_spinBox)})
        input->setEnabled(!on);
    ui->fusionProgress_lineEdit->setText(QStringLiteral("0"));
    if (on) {
        // The worker starts with the first frame (startWorker).
        fusionNewWindow_ = true;
        ui->startFusion_btn->setText(tr("End"));
    } else {
        emit stopFusion();
        ui->startFusion_btn->setText(tr("Start"));
    }
}

// ---------------------------------------------------------------- runs

void CapturePage::updateRunControls()
{
    ui->startStitching_btn->setEnabled(run_ == Run::None);
    ui->stopStitching_btn->setEnabled(run_ == Run::Stitch);
    ui->startFusion_btn->setEnabled(run_ != Run::Stitch);
}

void CapturePage::endRun(Ending ending, const QString &message)
{
    if (run_ == Run::None)
        return;
    const Run run = run_;
    run_ = Run::None;
    ++runId_;
    workerInStep_ = startPending_ = wantFrame_ = awaitingReply_ = false;
    stepTimer_.stop();
    pendingStep_ = nullptr;
    frameTimer_.stop();
    if (run == Run::Stitch)
        emit stopStitch();
    else
        setFusionRunning(false);
    updateRunControls();
    restoreCameraModes();

    switch (ending) {
    case Ending::Stopped:
        break;
    case Ending::Completed:
        showMessage(false, tr("Compound complete"));
        break;
    case Ending::CameraLost:
        qWarning() << "Capture page: the camera stopped delivering frames";
        showMessage(true, run == Run::Stitch
                              ? tr("The camera stopped delivering pictures. Stitching has stopped.")
                              : tr("The camera stopped delivering pictures. The focus series has stopped."));
        break;
    case Ending::WorkerEnded:
        showMessage(true, message);
        break;
    }
}

void CapturePage::showMessage(bool warning, const QString &text)
{
    // Opened, not executed: the page goes on handling its signals meanwhile.
    auto *box = new QMessageBox(warning ? QMessageBox::Warning : QMessageBox::Information,
                                warning ? tr("Warning") : tr("Info"), text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void CapturePage::after(int milliseconds, std::function<void()> step)
{
    pendingStep_ = std::move(step);
    stepTimer_.start(milliseconds);
}

void CapturePage::startWorker()
{
    if (framesAsked_ != framesSent_) {
        // A frame asked for before this run is still to come. Once it has
        // been sent it lies in the worker's queue before the start and is
        // ignored. A camera that never sends it ends the run.
        startPending_ = true;
        if (!frameTimer_.isActive())
            frameTimer_.start();
        return;
    }
    startPending_ = false;
    QObject *worker = nullptr;
    if (run_ == Run::Stitch) {
        emit startStitch();
        worker = &stitch_;
    } else {
        emit startFusion();
        worker = &analyse_;
    }
    const quint64 run = runId_;
    // Events of one thread are handled in order: what the worker asks for
    // before this comes back belongs to frames it took before its start.
    QMetaObject::invokeMethod(
        worker,
        [this, run] { QMetaObject::invokeMethod(this, [this, run] { onWorkerSynced(run); }, Qt::QueuedConnection); },
        Qt::QueuedConnection);
}

void CapturePage::onWorkerSynced(quint64 run)
{
    if (run != runId_ || run_ == Run::None)
        return;
    workerInStep_ = true;
    tryRequest();
}

void CapturePage::requestFrame()
{
    wantFrame_ = true;
    tryRequest();
}

void CapturePage::tryRequest()
{
    if (run_ == Run::None || !wantFrame_ || !workerInStep_)
        return;
    if (framesAsked_ != framesSent_) {
        if (!frameTimer_.isActive())
            frameTimer_.start();
        return;
    }
    wantFrame_ = false;
    awaitingReply_ = true;
    ++framesAsked_;
    frameTimer_.start();
    emit getVideoFrame();
}

void CapturePage::onFrameSent()
{
    if (framesSent_ < framesAsked_)
        ++framesSent_;
    if (framesSent_ != framesAsked_)
        return;
    frameTimer_.stop();
    if (startPending_)
        startWorker();
    tryRequest();
}

void CapturePage::onFrameTimeout()
{
    if (run_ == Run::None)
        return;
    // The frame may be waiting in this thread's queue behind a long job.
    const quint64 asked = framesAsked_;
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    if (run_ == Run::None || framesSent_ >= asked)
        return;
    endRun(Ending::CameraLost);
}

bool CapturePage::takeReply(Run run)
{
    if (run_ != run || !workerInStep_ || !awaitingReply_)
        return false;
    awaitingReply_ = false;
    return true;
}

// ---------------------------------------------------------------- camera modes

void CapturePage::takeCameraModes(bool stitching)
{
    takenModes_ = CameraModes();
    runThread_ = playThread_;
    if (!modesSource_)
        return;
    const CameraModes modes = modesSource_();
    if (modes.focus != 0 && modes.focus != FocusManual)
        takenModes_.focus = modes.focus;
    if (!stitching)
        return;
    if (modes.exposure != 0 && modes.exposure != ExposureManual)
        takenModes_.exposure = modes.exposure;
    if (modes.whiteBalance != 0 && modes.whiteBalance != WbManual)
        takenModes_.whiteBalance = modes.whiteBalance;
}

void CapturePage::restoreCameraModes()
{
    const CameraModes modes = std::exchange(takenModes_, CameraModes());
    // Only to the camera the run switched: after a camera change or close
    // the panel shows another camera, or none.
    if (!runThread_ || runThread_ != playThread_ || runThread_->isFinished())
        return;
    if (modes.focus != 0)
        emit changeFocusMode(FocusMode(modes.focus));
    if (modes.exposure != 0)
        emit changeExposureMode(ExposureMode(modes.exposure));
    if (modes.whiteBalance != 0)
        emit changeWbMode(WbMode(modes.whiteBalance));
}
