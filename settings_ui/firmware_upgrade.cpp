#include "firmware_upgrade.h"

#include "net_camera.h"
#include "upgrade_dialog.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTimer>

#include <climits>
#include <cmath>

namespace {

QDebug logLine()
{
    return qDebug().nospace().noquote();
}

// The device library waits at most 6 s for a reply; a poll unanswered for
// longer is taken as lost and the next one goes out.
constexpr int kPollAnswerWaitMs = 7000;

} // namespace

const char *usbUpgradeFileProblem(const QString &fileName)
{
    const bool fits = fileName.contains(QLatin1String("update"), Qt::CaseInsensitive)
                      && fileName.contains(QLatin1String(".bin"), Qt::CaseInsensitive);
    return fits ? nullptr : QT_TRANSLATE_NOOP("FirmwareUpgrade", "Invalid upgrade file name!");
}

FirmwareUpgrade::FirmwareUpgrade(QWidget *panel, std::function<UpgradeTarget()> target)
    : target_(std::move(target)), dialog_(new UpgradeDialog),
      progress_(new QProgressDialog(tr("Upgrading, please not disconnect!"), tr("Cancel"), 0, 100, nullptr,
                                    Qt::Dialog | Qt::WindowCloseButtonHint)),
      statusTimer_(new QTimer(panel))
{
    progress_->setWindowTitle(tr("Upgrade"));
    progress_->setModal(true);
    progress_->setAutoClose(false);
    progress_->setAutoReset(false);
    // The dialog would show itself a few seconds after it was made; it is
    // shown only while an upgrade runs.
    progress_->reset();
    progress_->hide();
    progress_->installEventFilter(this);

    connect(dialog_, &UpgradeDialog::upgrade, this, &FirmwareUpgrade::doUpgrade);
    connect(statusTimer_, &QTimer::timeout, this, &FirmwareUpgrade::pollStatus);
    connect(progress_, &QProgressDialog::canceled, this, &FirmwareUpgrade::onProgressCanceled);
    connect(&usb_, &USBUpgrade::signalProgressBarMaxSignal, this, &FirmwareUpgrade::onUsbMaximum);
    connect(&usb_, &USBUpgrade::signalProgressBarValueSignal, this, &FirmwareUpgrade::onUsbValue);
    connect(&usb_, &USBUpgrade::signalTextSignal, this, &FirmwareUpgrade::onUsbText);
    connect(&usb_, &USBUpgrade::signalUsbTransferStatus, this, &FirmwareUpgrade::onUsbStatus);
}

FirmwareUpgrade::~FirmwareUpgrade()
{
    delete progress_;
    delete dialog_;
}

void FirmwareUpgrade::retranslate()
{
    dialog_->retranslate();
    progress_->setWindowTitle(tr("Upgrade"));
}

void FirmwareUpgrade::runDialog()
{
    dialog_->exec();
}

bool FirmwareUpgrade::hasUsbUpgradeDevice(const QStringList &listedDevices) const
{
    for (const QString &name : listedDevices) {
        for (const QString &fragment : upgradeModeFragments_) {
            if (name.contains(fragment))
                return true;
        }
    }
    return usb_.isBoardPresent();
}

bool FirmwareUpgrade::checkNetUpgradeFileName(const QString &fileName, const QString &cameraName)
{
    return accepted("NetCamera", NetCamera::upgradeFileProblem(fileName, cameraName));
}

bool FirmwareUpgrade::checkUsbUpgradeFileName(const QString &fileName)
{
    return accepted("FirmwareUpgrade", usbUpgradeFileProblem(fileName));
}

bool FirmwareUpgrade::accepted(const char *context, const char *problem)
{
    if (!problem)
        return true;
    logLine() << problem;
    warn(QCoreApplication::translate(context, problem));
    return false;
}

void FirmwareUpgrade::doUpgrade(const QString &filePath)
{
    if (isRunning()) {
        logLine() << "An upgrade is running; " << filePath << " waits for its end";
        progress_->show();
        return;
    }
    const QString name = QFileInfo(filePath).fileName();
    const UpgradeTarget target = target_ ? target_() : UpgradeTarget();
    if (target.networkCamera && checkNetUpgradeFileName(name, target.cameraName)) {
        startNetworkUpgrade(filePath);
        return;
    }
    if (!target.cameraOpen && hasUsbUpgradeDevice(target.listedDevices) && checkUsbUpgradeFileName(name)) {
        startUsbUpgrade(filePath);
        return;
    }
    if (target.cameraOpen) {
        logLine() << "Current camera is not support upgrade!";
        warn(tr("Current camera is not support upgrade!"));
    } else {
        warn(tr("There is no camera to upgrade!"));
    }
}

void FirmwareUpgrade::startNetworkUpgrade(const QString &filePath)
{
    way_ = Way::Network;
    started_.start();
    pollOut_ = false;
    showProgress(false);
    // Before the request: a camera that refuses at once ends the upgrade
    // (and stops the timer) before the emit returns.
    statusTimer_->start(kStatusPollMs);
    emit upgradeCamera(filePath);
}

void FirmwareUpgrade::startUsbUpgrade(const QString &filePath)
{
    way_ = Way::Usb;
    cancelRequested_ = false;
    showProgress(true);
    if (!usb_.startUpgrade(filePath))
        finish(false);
}

void FirmwareUpgrade::pollStatus()
{
    if (way_ != Way::Network) {
        statusTimer_->stop();
        return;
    }
    if (started_.elapsed() > networkLimitMs_) {
        logLine() << "The camera's upgrade did not end within " << networkLimitMs_ / 1000 << " s";
        finish(false);
        return;
    }
    if (pollOut_ && pollSent_.elapsed() < kPollAnswerWaitMs)
        return;
    pollOut_ = true;
    pollSent_.start();
    emit getCameraUpgradeStatus();
}

void FirmwareUpgrade::onRecvCameraUpgradeStatus(QString status, double percentage)
{
    logLine() << "Upgrade status: " << status << ", " << percentage;
    if (way_ != Way::Network)
        return;  // a late answer to a poll of an upgrade that has ended
    pollOut_ = false;
    if (status.isEmpty() || percentage == -1 || !std::isfinite(percentage)) {
        finish(false);
        return;
    }
    // "done" is the device library's word for an upgrade that is no longer
    // running; only one that reached 100 % has been installed.
    if (status == QLatin1String("done")) {
        if (percentage < 100)
            logLine() << "The camera's upgrade ended at " << percentage << " %";
        finish(percentage >= 100);
        return;
    }
    if (status == QLatin1String("failed")) {
        finish(false);
        return;
    }
    // Any other word is not an outcome: the next poll may bring one.
    if (status == QLatin1String("doing"))
        progress_->setValue(qBound(0, int(percentage), progress_->maximum()));
}

void FirmwareUpgrade::cameraClosed()
{
    if (way_ != Way::Network)
        return;
    logLine() << "The camera was closed during its upgrade";
    finish(false);
}

void FirmwareUpgrade::onUsbMaximum(qlonglong maximum)
{
    if (way_ == Way::Usb && !cancelRequested_)
        progress_->setMaximum(int(qBound<qlonglong>(1, maximum, INT_MAX)));
}

void FirmwareUpgrade::onUsbValue(qlonglong value)
{
    if (way_ == Way::Usb && !cancelRequested_)
        progress_->setValue(int(qBound<qlonglong>(0, value, progress_->maximum())));
}

void FirmwareUpgrade::onUsbText(const QString &text)
{
    if (way_ == Way::Usb && !cancelRequested_)
        progress_->setLabelText(text);
}

void FirmwareUpgrade::onUsbStatus(bool ok)
{
    if (way_ == Way::Usb)
        finish(ok);
}

void FirmwareUpgrade::onProgressCanceled()
{
    if (way_ != Way::Usb || cancelRequested_)
        return;
    logLine() << "USB upgrade cancelled by the user";
    cancelRequested_ = true;
    usb_.cancel();
}

bool FirmwareUpgrade::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != progress_ || way_ == Way::None)
        return QObject::eventFilter(watched, event);
    // A network upgrade can't be stopped from here: its dialog stays until
    // the camera reports the end. Escape cancels a USB transfer like the button.
    const bool escape = event->type() == QEvent::KeyPress
                        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape;
    if (way_ == Way::Network && (escape || event->type() == QEvent::Close)) {
        event->ignore();
        return true;
    }
    if (way_ == Way::Usb && escape) {
        progress_->cancel();
        onProgressCanceled();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void FirmwareUpgrade::showProgress(bool cancellable)
{
    progress_->reset();
    progress_->setLabelText(tr("Upgrading, please not disconnect!"));
    if (cancellable) {
        progress_->setCancelButtonText(tr("Cancel"));
        progress_->setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
    } else {
        progress_->setCancelButton(nullptr);
        progress_->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    }
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->resize(progress_->sizeHint());
    progress_->show();
}

void FirmwareUpgrade::closeProgress()
{
    progress_->reset();
    progress_->hide();
}

void FirmwareUpgrade::finish(bool ok)
{
    way_ = Way::None;
    statusTimer_->stop();
    pollOut_ = false;
    closeProgress();
    if (ok) {
        logLine() << "Upgrade successful!";
        QMessageBox box(QMessageBox::Information, tr("Info"), tr("Upgrade successful!"));
        box.addButton(tr("OK"), QMessageBox::AcceptRole);
        box.exec();
    } else {
        logLine() << "Upgrade failed!";
        warn(tr("Upgrade failed!"));
    }
}

void FirmwareUpgrade::warn(const QString &text)
{
    QMessageBox box(QMessageBox::Warning, tr("Warning"), text);
    box.addButton(tr("OK"), QMessageBox::AcceptRole);
    box.exec();
}
