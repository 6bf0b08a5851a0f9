// Snap, still capture at the picture resolution, opening and saving
// pictures, recording and time-lapse series.
#include "main_window.h"

#include "burst_mode_settings.h"
#include "cam_settings.h"
#include "frame_convert.h"
#include "free_memory.h"
#include "log.h"
#include "photo_naming.h"
#include "picture_file.h"
#include "snapshot_naming.h"
#include "ui_mainwindow2.h"
#include "video_recorder.h"
#include "video_widget.h"
#include "wait_dialog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QScopeGuard>
#include <QThread>

#include <functional>


namespace {

// Dynamic property of a picture view: the name of the file it shows, for a
// picture opened from a file or saved once.
const char kPictureFileName[] = "PictureFileName";

// Runs `job` on a thread of its own while the GUI thread goes on with its
// events (user input aside), and returns when it is done. Converting a 4K
// frame or encoding it as a JPEG takes longer than a frame's time.
void runAside(const std::function<void()> &job)
{
    QEventLoop loop;
    QThread *worker = QThread::create([&] {
        job();
        returnFreedMemory();
    });
    QObject::connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker->wait();
    delete worker;
}

QImage convertAside(const VideoFrame &frame)
{
    QImage image;
    if (frame.size() != 0)
        runAside([&] { image = videoFrameToImage(frame); });
    return image;
}

// Converts `frame` (unless `painted` already holds the picture) and writes
// it into `path`, aside.
bool writePictureAside(const VideoFrame &frame, const QImage &painted, const QString &path, QString *error)
{
    bool ok = false;
    QString message;
    runAside([&] {
        const QImage image = painted.isNull() ? videoFrameToImage(frame) : painted;
        ok = !image.isNull() && writePictureFile(image, path, &message);
        if (image.isNull())
            message = QCoreApplication::translate("MainWindow2", "The frame could not be converted.");
    });
    if (error)
        *error = message;
    return ok;
}

} // namespace

// ---------------------------------------------------------------- Snap

void MainWindow2::on_photo_btn_clicked()
{
    takeSnapshot();
}

bool MainWindow2::takeSnapshot()
{
    // One shot at a time: a time-lapse tick or a second click that comes
    // while a shot waits for its picture does not start another.
    if (snapshotInProgress || isPictureTab(ui->video_tabWidget->currentWidget()) || !camera_ || !playThread_)
        return false;
    snapshotInProgress = true;
    lastSnapshot.clear();
    const auto done = qScopeGuard([this] {
        waitDialog->hide();
        snapshotInProgress = false;
    });

    waitDialog->setText(tr("Taking a photo..."));
    waitDialog->show();
    blockingWait(300);
    if (!camera_ || !playThread_)
        return false;  // closed meanwhile

    if (camSettings->isPhotoResolutionDifferent(true, stillCapture.settings)) {
        QSize size;
        camSettings->getPhotoResolution(&size);
        stillCapture.expectedSize = size;
        stillCapture.arm();
        if (!stillCapture.waitDone()) {
            const bool taken = stillCapture.isFrameTaken();
            stillCapture.setPending(false);
            stillCapture.setSwitched(false);
            if (!taken) {
                // No picture came at the picture resolution: back to the
                // preview, and the user knows the shot was not taken.
                if (playThread_)
                    camSettings->isPhotoResolutionDifferent(false, stillCapture.settings);
                qWarning() << "Still capture timed out at" << size;
                showMessage(QMessageBox::Warning, tr("Warning"),
                            tr("The camera delivered no picture at %1x%2; no photo was taken.")
                                .arg(size.width())
                                .arg(size.height()));
            }
        }
    } else if (drawProperties.value(SnapOpenImage).toBool() && !burstTimer.isActive()) {
        snapshotToNewTab();
    } else {
        savePicture();
    }
    return !lastSnapshot.isEmpty();
}

void MainWindow2::restorePreviewResolution()
{
    if (!camSettings->isPhotoResolutionDifferent(false, stillCapture.settings) || !playThread_)
        return;
    stillCapture.setFrameTaken(true);
    stillCapture.setSwitched(false);
    playThread_->setCaptureSettings(stillCapture.settings);
    stillCapture.waitDone();
}

void MainWindow2::snapshotToNewTab()
{
    if (!camera_ || !playThread_ || isPictureTab(ui->video_tabWidget->currentWidget()))
        return;
    QPixmap picture = QPixmap::fromImage(convertAside(playThread_->latestFrame()));
    if (picture.isNull() || !playThread_)
        return;
    if (drawProperties.value(SaveGraphics).toBool() && !stillCapture.isPending())
        if (VideoWidget *view = currentView())
            view->paintGraphics(&picture);
    auto *view = new VideoWidget(ui->video_tabWidget, false);
    attachVideoWidget(view, QString(), false);
    view->setPicture(picture);
    waitDialog->hide();
    lastSnapshot = ui->video_tabWidget->tabText(ui->video_tabWidget->indexOf(view));
}

bool MainWindow2::savePicture()
{
    VideoWidget *view = currentView();
    if (!playThread_ || !camera_ || !view)
        return false;
    view->setDrawProperties(drawProperties);
    // The shapes are painted here, on the GUI thread; a picture without them
    // is converted from the frame on the writing thread.
    const VideoFrame frame = playThread_->latestFrame();
    QImage painted;
    if (frame.size() != 0 && drawProperties.value(SaveGraphics).toBool() && !stillCapture.isPending()) {
        QPixmap picture = QPixmap::fromImage(convertAside(frame));
        view->paintGraphics(&picture);
        painted = picture.toImage();
    }
    restorePreviewResolution();
    const QString path = buildSnapshotPath();
    if (path.isEmpty())
        return false;
    QString error;
    const bool ok = frame.size() != 0 && writePictureAside(frame, painted, path, &error);
    qDebug() << "Save pic, ret=" << ok << ", path=" << path;
    if (!ok) {
        if (frame.size() == 0)
            error = tr("The camera has delivered no picture yet.");
        showMessage(QMessageBox::Warning, tr("Warning"), tr("The photo could not be saved to %1: %2").arg(path, error));
        return false;
    }
    lastSnapshot = path;
    return true;
}

QString MainWindow2::buildSnapshotPath()
{
    const QString extension = imgFormatExtension(static_cast<ImgFormat>(drawProperties.value(PhotoFormat).toInt()));
    const QString folder = drawProperties.value(QuickSavePath).toString();
    QString path;
    if (drawProperties.value(QuickSave).toBool()) {
        path = automaticSnapshotPath(drawProperties, QDateTime::currentDateTime());
    } else if (burstTimer.isActive()) {
        path = timeStampedPath(folder, QDateTime::currentDateTime(), extension);
    } else {
        QString name;
        if (!askSnapshotPath(path, name))
            return QString();
    }
    if (QFileInfo::exists(path) && !askYesNo(tr("Notice"), tr("The file already exists, do you want to overwrite it?")))
        return QString();
    const QString target = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(target)) {
        showMessage(QMessageBox::Warning, tr("Warning"), tr("The folder %1 cannot be created.").arg(target));
        return QString();
    }
    return path;
}

bool MainWindow2::askSnapshotPath(QString &path, QString &name)
{
    const QString extension = imgFormatExtension(static_cast<ImgFormat>(drawProperties.value(PhotoFormat).toInt()));
    // Whether to replace an existing file is asked once the extension is
    // on the name, not by the dialog.
    const QString chosen = QFileDialog::getSaveFileName(nullptr, tr("Save"), pictureDialogFolder(),
                                                        QLatin1Char('*') + extension, nullptr,
                                                        QFileDialog::DontConfirmOverwrite);
    if (chosen.isEmpty())
        return false;
    path = withExtension(chosen, extension);
    const SplitPath split = splitChosenPath(path);
    name = split.name;
    openedImageFolder = split.folder;
    SettingsStore::instance().setOpenedImagePath(openedImageFolder);
    return true;
}

// ---------------------------------------------------------------- pictures

QString MainWindow2::pictureDialogFolder() const
{
    // Until a picture was saved or opened through a dialog, the dialogs
    // start in the snapshot folder, not wherever the program was started.
    return openedImageFolder.isEmpty() ? drawProperties.value(QuickSavePath).toString() : openedImageFolder;
}

void MainWindow2::on_openPic_btn_clicked()
{
    // The dialog splits a filter's patterns at blanks: the text shown stays
    // as it is, the patterns in brackets behind it (hidden) are the ones used.
    const QString path = QFileDialog::getOpenFileName(
        nullptr, tr("Open"), pictureDialogFolder(),
        QStringLiteral("*.bmp; *.jpg; *.png; *.tiff (*.bmp *.jpg *.jpeg *.png *.tif *.tiff)"), nullptr,
        QFileDialog::HideNameFilterDetails);
    if (path.isEmpty())
        return;
    const SplitPath split = splitChosenPath(path);
    openedImageFolder = split.folder;
    SettingsStore::instance().setOpenedImagePath(openedImageFolder);
    auto *view = new VideoWidget(ui->video_tabWidget, false);
    view->setProperty(kPictureFileName, split.name);
    attachVideoWidget(view, split.name, false);
    view->openPicture(path);
    if (!view->errorString().isEmpty() && view->picture().isNull())
        showMessage(QMessageBox::Warning, tr("Warning"),
                    tr("The picture %1 cannot be shown: %2").arg(path, view->errorString()));
}

void MainWindow2::on_savePic_btn_clicked()
{
    QWidget *current = ui->video_tabWidget->currentWidget();
    auto *view = qobject_cast<VideoWidget *>(current);
    if (!view || !isPictureTab(view))
        return;
    if (view == stitchView)
        emit stopStitch();
    else if (view == fusionView)
        emit stopFusion();
    if (!view->isModified())
        return;
    const int index = ui->video_tabWidget->indexOf(view);
    const QString tabText = ui->video_tabWidget->tabText(index);
    // A picture that came from a file (or was saved once) keeps its file
    // name; a snapshot or a result gets a new one.
    const QString fileName = view->property(kPictureFileName).toString();
    QString path;
    if (!fileName.isEmpty()) {
        path = openedPictureSavePath(drawProperties.value(QuickSavePath).toString(), fileName);
        // The snapshot folder may hold another picture of the same name.
        if (path.isEmpty()
            || (QFileInfo::exists(path)
                && !askYesNo(tr("Notice"), tr("The file already exists, do you want to overwrite it?"))))
            return;
    } else {
        path = buildSnapshotPath();
        if (path.isEmpty())
            return;
    }
    const bool ok = view->savePicture(path);
    qDebug() << "Save pic, ret=" << ok << ", path=" << path;
    if (!ok) {
        showMessage(QMessageBox::Warning, tr("Warning"),
                    tr("The picture could not be saved to %1: %2").arg(path, view->errorString()));
        return;
    }
    const QString name = path.section(QLatin1Char('/'), -1);
    ui->video_tabWidget->setTabText(index, name.isEmpty() ? tabText.left(tabText.size() - 1) : name);
    if (!name.isEmpty())
        view->setProperty(kPictureFileName, name);
    view->setModified(false);
}

// ---------------------------------------------------------------- recording

void MainWindow2::setRecordButton(bool on)
{
    const QSignalBlocker blocker(ui->record_btn);
    ui->record_btn->setChecked(on);
}

void MainWindow2::on_record_btn_toggled(bool on)
{
    if (!playThread_) {
        // Nothing records without a camera, and the button says so.
        if (on)
            setRecordButton(false);
        return;
    }
    if (on) {
        const QString folder = drawProperties.value(QuickSavePath).toString();
        if (folder.isEmpty() || !QDir().mkpath(folder)) {
            setRecordButton(false);
            showMessage(QMessageBox::Warning, tr("Warning"), tr("The folder %1 cannot be created.").arg(folder));
            return;
        }
        const QString path = timeStampedPath(folder, QDateTime::currentDateTime(), QStringLiteral(".mp4"));
        recordingPath = path;
        recordingsAskedFor.insert(playThread_->recorder(), path);
        camSettings->setCaptureFormatEnabled(false);
        liveView_->setRecordingBlink(true);
        recordingFailureShown = false;
        playThread_->handRecord(1, path);
        return;
    }
    camSettings->setCaptureFormatEnabled(true);
    liveView_->setRecordingBlink(false);
    playThread_->handRecord(2, QString());
    if (quietRecordStop)
        return;
    auto *box = new QMessageBox(QMessageBox::Information, tr("Info"), tr("Stop Recording"));
    // The name on a line of its own: a long path would be wrapped inside it.
    // A file that is not there (removed with its folder while it recorded) is
    // not named: the recorder tells what became of the recording.
    const QFileInfo file(recordingPath);
    if (file.exists())
        box->setInformativeText(
            tr("%1\nin %2").arg(file.fileName(), QDir::toNativeSeparators(file.absolutePath())));
    box->addButton(tr("OK"), QMessageBox::AcceptRole);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

void MainWindow2::stopRecording()
{
    if (!ui->record_btn->isChecked())
        return;
    // The recorder says why it stopped once the file is closed, naming the
    // file it kept or saying that nothing was recorded.
    quietRecordStop = true;
    ui->record_btn->setChecked(false);
    quietRecordStop = false;
}

void MainWindow2::onRecordingFailed(const QString &message)
{
    // A recorder of an earlier camera that is still finishing its file
    // reports too; only the current one owns the button.
    const bool current = playThread_ && sender() == playThread_->recorder();
    if (current && ui->record_btn->isChecked()) {
        quietRecordStop = true;
        ui->record_btn->setChecked(false);
        quietRecordStop = false;
    }
    if (current && recordingFailureShown)
        return;
    recordingFailureShown = true;
    showMessage(QMessageBox::Warning, tr("Warning"), message);
}

void MainWindow2::onRecordingFinished(const QString &path, bool ok)
{
    qDebug() << "Recording finished:" << path << "complete:" << ok;
    const bool current = playThread_ && sender() == playThread_->recorder();
    const QString askedFor = recordingsAskedFor.take(sender());
    // A recording that left no file has said so already.
    if (!QFileInfo::exists(path))
        return;
    if (ok && !askedFor.isEmpty() && askedFor != path) {
        showMessage(QMessageBox::Information, tr("Info"),
                    tr("The recording was moved while it was being recorded; it is saved as %1.")
                        .arg(QDir::toNativeSeparators(path)));
        return;
    }
    if (ok || (current && recordingFailureShown))
        return;
    showMessage(QMessageBox::Warning, tr("Warning"),
                tr("The recording %1 is incomplete; what was recorded can still be played.").arg(path));
}

// ---------------------------------------------------------------- time lapse

void MainWindow2::stopTimeLapse()
{
    disconnect(burstTick);
    burstTimer.stop();
    timeLapse.reset();
    ui->burstModeInfo_lab->clear();
}

QString MainWindow2::endTimeLapseForFailure()
{
    if (!timeLapse)
        return QString();
    const QString line = tr("The time-lapse series has stopped after %1 of %2 photos.")
                             .arg(timeLapse->taken())
                             .arg(timeLapse->number());
    stopTimeLapse();
    const QSignalBlocker blocker(ui->cPhotos_btn);
    ui->cPhotos_btn->setChecked(false);
    return line;
}

void MainWindow2::on_cPhotos_btn_toggled(bool on)
{
    if (on) {
        disconnect(burstTick);
        burstTimer.setInterval(1000);
        const QMap<int, QVariant> settings = burstModeSettings->getBurstModeMap();
        const int interval = settings.value(BurstModeSettings::IntervalKey).toInt();
        const int number = settings.value(BurstModeSettings::NumberKey).toInt();
        if (interval <= 0 || number <= 0) {
            const QString text = tr("Interval or number should more than zero");
            qDebug().noquote() << text;
            // The button shows what runs: nothing.
            const QSignalBlocker blocker(ui->cPhotos_btn);
            ui->cPhotos_btn->setChecked(false);
            showMessage(QMessageBox::Warning, tr("Warning"), text);
            return;
        }
        timeLapse.emplace(number, interval);
        burstTick = connect(&burstTimer, &QTimer::timeout, this, &MainWindow2::continuousShootingTick,
                            Qt::DirectConnection);
        burstTimer.start();
        qDebug() << "on_continuousShooting_btn_clicked: number=" << number << ", interval=" << interval;
        return;
    }
    if (!burstTimer.isActive())
        return;
    stopTimeLapse();
    showMessage(QMessageBox::Information, tr("Info"), tr("Stop continuous shooting!"));
}

void MainWindow2::continuousShootingTick()
{
    if (!timeLapse)
        return;
    switch (timeLapse->tick(snapshotInProgress)) {
    case TimeLapseSchedule::Step::Done: {
        const int taken = timeLapse->taken();
        stopTimeLapse();
        ui->cPhotos_btn->setChecked(false);
        showMessage(QMessageBox::Information, tr("Info"),
                    tr("Continuous shooting done, the number of photos: %1").arg(taken));
        return;
    }
    case TimeLapseSchedule::Step::Shoot: {
        const bool taken = takeSnapshot();
        // The series may have been stopped while the shot was taken.
        if (!timeLapse)
            return;
        if (taken)
            timeLapse->shotTaken();
        break;
    }
    case TimeLapseSchedule::Step::Wait:
        break;
    }
    ui->burstModeInfo_lab->setText(tr("Continuous Shooting... Countdown: %1 s, progress: %2/%3")
                                       .arg(timeLapse->countdown())
                                       .arg(timeLapse->taken())
                                       .arg(timeLapse->number()));
}
