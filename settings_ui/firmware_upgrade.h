// The camera settings panel's firmware upgrade: which way a package goes
// (a network camera upgrades itself through the device library and is
// polled for its progress; a USB camera board in upgrade mode gets the file
// over bulk USB transfers), the package name rules, the progress dialog and
// the result messages. The panel owns one and passes its slots on to it.
#pragma once

#include "usb_upgrade.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>

#include <functional>

class QProgressDialog;
class QTimer;
class QWidget;
class UpgradeDialog;

// The USB board's package name rule, on the file name without folder:
// "update" and ".bin" anywhere in it, in any case. The message that refuses
// the name, or null when it passes. (A network camera's rule is the camera
// layer's NetCamera::upgradeFileProblem.)
const char *usbUpgradeFileProblem(const QString &fileName);

// What the panel holds when an upgrade is asked for.
struct UpgradeTarget {
    bool cameraOpen = false;     // a camera is open
    bool networkCamera = false;  // ... and it is a network camera
    QString cameraName;          // the bound camera's name (a network camera's model name)
    QStringList listedDevices;   // unique names in the device list
};

class FirmwareUpgrade : public QObject
{
    Q_OBJECT
public:
    // `panel` parents the status timer; the dialogs have no parent.
    explicit FirmwareUpgrade(QWidget *panel, std::function<UpgradeTarget()> target);
    ~FirmwareUpgrade() override;

    UpgradeDialog *dialog() const { return dialog_; }
    QProgressDialog *progressDialog() const { return progress_; }
    USBUpgrade &usbUpgrade() { return usb_; }

    // The upgrade dialog, modally.
    void runDialog();
    // Decides the way for the package and starts it; refused while an
    // upgrade runs (the progress is shown again instead).
    void doUpgrade(const QString &filePath);
    bool isRunning() const { return way_ != Way::None; }

    // A device-list name holds an upgrade-mode fragment, or a board in
    // upgrade mode is on the USB bus.
    bool hasUsbUpgradeDevice(const QStringList &listedDevices) const;
    // The name rules, each with its warning box.
    bool checkNetUpgradeFileName(const QString &fileName, const QString &cameraName);
    bool checkUsbUpgradeFileName(const QString &fileName);

    // A network camera's answer to a status poll.
    void onRecvCameraUpgradeStatus(QString status, double percentage);
    // The camera went away: a network upgrade can no longer be followed.
    void cameraClosed();
    void retranslate();

    // A network upgrade that hasn't ended after this long has failed.
    void setNetworkTimeLimitMs(int milliseconds) { networkLimitMs_ = milliseconds; }
    static constexpr int kNetworkTimeLimitMs = 10 * 60 * 1000;
    static constexpr int kStatusPollMs = 100;

signals:
    // To the bound camera.
    void upgradeCamera(QString filePath);
    void getCameraUpgradeStatus();

private:
    enum class Way { None, Network, Usb };

    void startNetworkUpgrade(const QString &filePath);
    void startUsbUpgrade(const QString &filePath);
    void pollStatus();
    void onUsbMaximum(qlonglong maximum);
    void onUsbValue(qlonglong value);
    void onUsbText(const QString &text);
    void onUsbStatus(bool ok);
    void onProgressCanceled();
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showProgress(bool cancellable);
    void closeProgress();
    // Ends the upgrade under way and says how it went.
    void finish(bool ok);
    static void warn(const QString &text);
    // True without a problem; else logs it and shows it, translated in
    // `context`, as a warning.
    static bool accepted(const char *context, const char *problem);

    std::function<UpgradeTarget()> target_;
    UpgradeDialog *dialog_;
    QProgressDialog *progress_;
    QTimer *statusTimer_;
    USBUpgrade usb_;
    QStringList upgradeModeFragments_{QStringLiteral("pid_0480")};

    Way way_ = Way::None;
    bool cancelRequested_ = false;  // the user stopped the USB transfer; its end is awaited
    QElapsedTimer started_;
    int networkLimitMs_ = kNetworkTimeLimitMs;
    // A status poll is out and not yet answered (a camera that can't reach the
    // library answers nothing): the next one waits for it, up to a time.
    bool pollOut_ = false;
    QElapsedTimer pollSent_;
};
