// Shared pieces of the settings-panel tests: a camera that records every slot
// call, a record with every control supported, a counter of writes into the
// camera database, the main window's part of a camera bring-up and of a
// device poll, a helper to answer modal message boxes, and the look of a
// window (the style sheet, texts cut off).
#pragma once

#include "cam_settings.h"
#include "camera_test_support.h"
#include "test_support.h"
#include "unlock_advanced_settings.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMutex>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <functional>

// A camera whose slots only record what they were called with ("onSetHueValue 33").
class RecordingCamera : public BaseCamera
{
    Q_OBJECT
public:
    explicit RecordingCamera(QString name = QStringLiteral("usb-recording&vid_0000&pid_0000#000000"))
        : name_(std::move(name))
    {
        resetFrameRateLists();
        resolutions_ = {{StreamMjpeg, {Resolution(1280, 720), Resolution(1920, 1080), Resolution(3840, 2160)}},
                        {StreamNv12, {Resolution(1920, 1080), Resolution(2592, 1944)}}};
    }

    QStringList calls() const
    {
        QMutexLocker lock(&mutex_);
        return calls_;
    }
    void clearCalls()
    {
        QMutexLocker lock(&mutex_);
        calls_.clear();
    }
    // Whether anything listens to one of the camera's signals.
    template <typename Signal>
    bool isHeard(Signal signal) const
    {
        return isSignalConnected(QMetaMethod::fromSignal(signal));
    }
    void setResolutions(const ResolutionMap &resolutions) { resolutions_ = resolutions; }
    // What the camera does after recording a call (a device that rounds values, ...).
    std::function<void(RecordingCamera &, const QString &slot, const QVariant &value)> reaction;

    bool queryParameters(CameraParameters &) override { return true; }
    CameraOpenSettings getOpenSettings() override { return openSettings_; }
    void setOpenSettings(const CameraOpenSettings &settings) override { openSettings_ = settings; }
    int defaultFrameRate() override { return 30; }
    bool isSystemSupported() override { return true; }
    bool upgradeFirmware(const QString &, QWidget *) override { return false; }
    QString cameraName() override { return uniqueName_; }
    bool login(const CameraOpenSettings &) override
    {
        uniqueName_ = name_;
        return true;
    }
    bool logout() override { return true; }
    bool open(const CameraOpenSettings &) override { return true; }
    bool close() override { return true; }
    bool reopen(const CameraOpenSettings &) override { return true; }
    VideoFrame getVideoFrameData() override { return VideoFrame(); }
    void prepareCaptureParams() override {}

#define RECORD0(slot) \
    void slot() override { record(#slot, QVariant()); }
#define RECORD1(slot, type) \
    void slot(type value) override { record(#slot, QVariant::fromValue(value)); }
#define RECORDENUM(slot, type) \
    void slot(type value) override { record(#slot, int(value)); }

    RECORDENUM(onSetFocusMode, FocusMode)
    RECORD1(onSetFocusValue, int)
    RECORD0(onSetFocusAdd)
    RECORD0(onSetFocusSub)
    RECORD0(onSetFocusOnce)
    RECORDENUM(onSetExpMode, ExposureMode)
    RECORD1(onSetExpCompValue, int)
    RECORD1(onSetExpGainValue, int)
    RECORD1(onSetExpTime, int)
    RECORDENUM(onSetWbMode, WbMode)
    RECORD1(onSetWbRedValue, int)
    RECORD1(onSetWbGreenValue, int)
    RECORD1(onSetWbBlueValue, int)
    RECORD1(onSetMirrorStatus, bool)
    RECORD1(onSetFlipStatus, bool)
    RECORD1(onSetHueValue, int)
    RECORD1(onSetSaturationValue, int)
    RECORD1(onSetContrastValue, int)
    RECORD1(onSetSharpnessValue, int)
    RECORD1(onSetDZoomValue, int)
    RECORD1(onSetZoomValue, int)
    RECORD1(onSetDefogStatus, bool)
    RECORD1(onSetMonoChromeStatus, bool)
    RECORD1(onSetFilckStatus, bool)
    RECORD1(onSetGammaValue, int)
    RECORD0(onReset)
    RECORD0(onSaveCameraConfig)
    RECORD1(onUpgrade, QString)
    void onSetIp(IpInfo info) override { record("onSetIp", (info.dhcp ? QStringLiteral("DHCP ") : QString()) + info.ip); }
    RECORD1(onSetFocusRegionStatus, bool)
    void onSetFocusRegion(int x, int y) override { record("onSetFocusRegion", QStringLiteral("%1,%2").arg(x).arg(y)); }
    RECORD0(onSetWhiteBalanceOnce)
    RECORD0(onSetMotorCenter)
    RECORDENUM(onSetCameraDisplayMode, DisplayMode)
    RECORD0(onResetBasicSettings)
    RECORD0(onResetAdvancedSettings)
    RECORD0(onCalibrateCurve)
    RECORD0(onValidateCurve)
    RECORD0(onGetFocusMode)
    RECORD0(onGetFocusValue)
    RECORD0(onGetExpMode)
    RECORD0(onGetExpCompValue)
    RECORD0(onGetExpGainValue)
    RECORD0(onGetExpTime)
    RECORD0(onGetWbMode)
    RECORD0(onGetWbRedValue)
    RECORD0(onGetWbGreenValue)
    RECORD0(onGetWbBlueValue)
    RECORD0(onGetMirrorStatus)
    RECORD0(onGetFlipStatus)
    RECORD0(onGetHueValue)
    RECORD0(onGetSaturationValue)
    RECORD0(onGetContrastValue)
    RECORD0(onGetSharpnessValue)
    RECORD0(onGetDZoomValue)
    RECORD0(onGetZoomValue)
    RECORD0(onGetDefogStatus)
    RECORD0(onGetGammaValue)
    RECORD0(onGetMonoChromeStatus)
    RECORD0(onGetFlickStatus)
    RECORD0(onGetIpInfo)
    RECORD0(onGetUpgradeStatus)
    RECORD0(onGetFocusRegionStatus)
    RECORD0(onGetFocusRegion)
    RECORD0(onGetCameraDisplayMode)

#undef RECORD0
#undef RECORD1
#undef RECORDENUM

private:
    void record(const char *slot, const QVariant &value)
    {
        const QString name = QString::fromLatin1(slot);
        {
            QMutexLocker lock(&mutex_);
            calls_ << (value.isValid() ? name + QLatin1Char(' ') + value.toString() : name);
        }
        if (reaction)
            reaction(*this, name, value);
    }

    QString name_;
    CameraOpenSettings openSettings_;
    mutable QMutex mutex_;
    QStringList calls_;
};

// Every control supported, with ranges wide enough for any test value.
inline CameraParameters everythingSupported()
{
    CameraParameters p;
    p.modelId = 0xE530;
    p.resolutions = {{StreamMjpeg, {Resolution(1280, 720), Resolution(1920, 1080), Resolution(3840, 2160)}},
                     {StreamNv12, {Resolution(1920, 1080), Resolution(2592, 1944)}}};
    p.resolution = Resolution(1920, 1080);
    p.pictureResolution = QStringLiteral("3840x2160");
    p.streamFormats = {StreamMjpeg, StreamNv12};
    p.decodeWay = StreamMjpeg;
    p.resolutionSelectable = p.streamFormatSelectable = p.frameRateSelectable = true;
    p.extraControlA = true;
    p.focus.supported = true;
    p.focus.setRange(1, 400, 200);
    p.focus.value = 200;
    p.focusMode = FocusManual;
    p.focusPresent = p.focusSlider = p.focusOnceSupported = p.focusRegionSupported = true;
    p.focusRegionX = 8;
    p.focusRegionY = 7;
    p.exposureSupported = true;
    p.exposureMode = ExposureManual;
    for (ControlRange *range : {&p.exposureGain, &p.exposureTime, &p.exposureCompensation}) {
        range->setRange(0, 250, 50);
        range->value = 50;
        range->supported = true;
    }
    p.whiteBalanceSupported = true;
    p.whiteBalanceMode = WbManual;
    for (ControlRange *range : {&p.whiteBalanceRed, &p.whiteBalanceGreen, &p.whiteBalanceBlue}) {
        range->setRange(1, 4095, 256);
        range->value = 256;
        range->supported = true;
    }
    for (ControlRange *range : {&p.hue, &p.saturation, &p.contrast, &p.sharpness, &p.gamma}) {
        range->setRange(0, 255, 50);
        range->value = 50;
        range->supported = true;
    }
    p.zoom.setRange(0, 200, 0);
    p.zoom.value = 0;
    p.zoom.supported = true;
    p.digitalZoom.setRange(0, 50, 0);
    p.digitalZoom.value = 0;
    p.digitalZoom.supported = true;
    p.flipMirrorSupported = p.defogSupported = p.flickerSupported = p.monochromeSupported = true;
    p.fps = 30;
    return p;
}

// Answers the modal message boxes that come while it lives: with the button
// of `button` (or the button whose text is `buttonText`), else with the
// first button. `text` and `title` are the last box's, `texts` and `titles`
// every box's in order. Stops looking after `patienceMs` without a box.
class MessageBoxAnswer : public QObject
{
public:
    explicit MessageBoxAnswer(QMessageBox::StandardButton button = QMessageBox::NoButton, int patienceMs = 60000)
        : button_(button), patienceMs_(patienceMs)
    {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start();
        elapsed_.start();
    }
    explicit MessageBoxAnswer(QString buttonText, int patienceMs = 60000)
        : MessageBoxAnswer(QMessageBox::NoButton, patienceMs)
    {
        buttonText_ = std::move(buttonText);
    }
    void setButtonText(const QString &buttonText) { buttonText_ = buttonText; }

    QString text;
    QString title;
    int shown = 0;
    QStringList texts;
    QStringList titles;

private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) {
            if (elapsed_.elapsed() > patienceMs_)
                timer_.stop();
            return;
        }
        elapsed_.restart();
        text = box->text();
        title = box->windowTitle();
        texts << text;
        titles << title;
        ++shown;
        QAbstractButton *answer = button_ != QMessageBox::NoButton ? box->button(button_) : nullptr;
        for (QAbstractButton *button : box->buttons()) {
            if (!answer && !buttonText_.isEmpty() && button->text() == buttonText_)
                answer = button;
        }
        if (!answer && !box->buttons().isEmpty())
            answer = box->buttons().first();
        if (answer)
            answer->click();
        else
            box->close();
    }

    QMessageBox::StandardButton button_;
    QString buttonText_;
    int patienceMs_;
    QTimer timer_;
    QElapsedTimer elapsed_;
};

// Unlocks the panel's advanced tab as a user does: a click on the tab, the
// administrator password in the dialog, the confirmation box answered.
inline bool unlockAdvancedTab(CamSettings &panel)
{
    MessageBoxAnswer answer;
    QTimer::singleShot(0, &panel, [&panel] {
        auto *field = panel.unlockDialog()->findChild<QLineEdit *>(QStringLiteral("password_lineEdit"));
        field->setText(QStringLiteral("quintar"));
        QTest::keyClick(field, Qt::Key_Return);
    });
    panel.onTabWidgetClicked(panel.indexOf(panel.findChild<QWidget *>(QStringLiteral("advancedSettings_tab"))));
    return panel.isAdvancedUnlocked();
}

// A camera database whose row updates are counted by the database itself
// (a trigger), on top of a fixture that opens a temporary database: the plain
// one or the one with the virtual camera.
template <typename Base>
class Counted : public Base
{
protected:
    void SetUp() override
    {
        Base::SetUp();
        registerCameraMetaTypes();
        auto &database = CameraDatabase::instance();
        ASSERT_TRUE(database.exec(QStringLiteral("CREATE TABLE writes (pid TEXT)")).ok);
        ASSERT_TRUE(database
                        .exec(QStringLiteral("CREATE TRIGGER count_writes AFTER UPDATE ON camera "
                                             "BEGIN INSERT INTO writes VALUES (NEW.pid); END"))
                        .ok);
    }
    int writes() const
    {
        auto result = CameraDatabase::instance().exec(QStringLiteral("SELECT COUNT(*) FROM writes"));
        return result.ok && result.query.next() ? result.query.value(0).toInt() : -1;
    }
    void clearWrites() { CameraDatabase::instance().exec(QStringLiteral("DELETE FROM writes")); }
    // Gives the camera of `uniqueName` a row, as its first bring-up would.
    static bool insertRowFor(const QString &uniqueName)
    {
        const QString key = CameraDatabase::lookupKey(uniqueName);
        CameraRow row;
        if (CameraDatabase::instance().findRow(key, row))
            return true;
        row.resolution = row.pictureResolution = QStringLiteral("1920x1080");
        return CameraDatabase::instance().insertRow(key, row);
    }
    // One column of the row stored under `key`.
    static QVariant column(const QString &key, const QString &name)
    {
        CameraRow row;
        if (!CameraDatabase::instance().findRow(key, row))
            return QVariant();
        const int index = CameraDatabase::columns().indexOf(name);
        return index < 0 ? QVariant() : row.values().value(index);
    }
};
using CountedDatabase = Counted<DatabaseTest>;
using CountedVirtualCamera = Counted<VirtualCameraFixture>;

const QString kRecordingCameraName = QStringLiteral("usb-recording&vid_0000&pid_0000#000000");

// Binds `camera` to the panel through createCamera, opened as a USB camera
// under `deviceName` (or as a network camera at that address).
inline bool bindThroughFactory(CamSettings &panel, const QSharedPointer<BaseCamera> &camera,
                               const QString &deviceName, bool network = false)
{
    panel.setCameraFactory([camera](const QString &) { return camera; });
    CameraOpenSettings settings;
    settings.isNetwork = network;
    (network ? settings.network.address : settings.usb.devicePath) = deviceName;
    return panel.createCamera(settings) == camera;
}

template <typename Widget>
Widget *child(QWidget &parent, const char *name)
{
    auto *widget = parent.findChild<Widget *>(QString::fromLatin1(name));
    EXPECT_TRUE(widget) << name;
    return widget;
}

// Shown as the panel lays it out (not hidden by the panel nor inside a
// hidden section), whichever tab is current.
inline bool shownIn(QWidget &panel, const char *name)
{
    auto *widget = panel.findChild<QWidget *>(QString::fromLatin1(name));
    if (!widget)
        return false;
    QWidget *page = widget;
    while (page && !page->objectName().endsWith(QLatin1String("Settings_tab")))
        page = page->parentWidget();
    return widget->isVisibleTo(page ? page : &panel);
}

// The main window's share of a camera bring-up and close: camera object on a
// control thread, one capture thread, the panel filled from the record.
class MainWindowStandIn : public QObject
{
public:
    explicit MainWindowStandIn(CamSettings &panel) : panel_(panel)
    {
        QObject::connect(&panel, &CamSettings::openCam, this, [this](QString, QString name) { open(name); });
        QObject::connect(&panel, &CamSettings::closeCam, this,
                         [this](QString name, CameraCloseReason reason) { close(name, reason); });
    }
    ~MainWindowStandIn() override
    {
        stopCapture();
        camera.reset();
        control.quit();
        control.wait();
    }

    void open(const QString &uniqueName)
    {
        stopCapture();
        cam_probe_buffer probe;
        refreshUsbCameraContext(&probe);
        CameraOpenSettings settings;
        settings.usb.devicePath = uniqueName;
        thread = QSharedPointer<CameraPlayThread>::create();
        QObject::connect(thread.data(), &CameraPlayThread::CameraCloseForReason, &panel_,
                         &CamSettings::closeCameraForReason);
        thread->setUniqueName(uniqueName);
        camera = panel_.createCamera(settings);
        if (!camera) {
            thread.reset();
            return;
        }
        camera->moveToThread(&control);
        if (!control.isRunning())
            control.start();
        panel_.setPlayThread(thread);
        thread->loadCameraParameters(params, true);
        panel_.refreshFromCameraInfo(params);
        thread->setRunFlag(true);
        thread->start();
        ++opens;
    }
    void close(const QString &, CameraCloseReason reason)
    {
        lastReason = reason;
        stopCapture();
        panel_.setPlayThread({});
        camera.reset();
        panel_.resetControlsForNoCamera();
        ++closes;
    }

    QThread control;
    QSharedPointer<BaseCamera> camera;
    QSharedPointer<CameraPlayThread> thread;
    QSharedPointer<CameraParameters> params;
    int opens = 0;
    int closes = 0;
    int lastReason = -1;

private:
    void stopCapture()
    {
        if (!thread)
            return;
        thread->setRunFlag(false);
        thread->quit();
        thread->wait(2000);
        thread.reset();
    }

    CamSettings &panel_;
};

// One device poll as the main window makes it: the USB cameras whose name
// holds "UVC" or "FX3", named "VoCam_" and a running number.
inline QMap<QString, QPair<CameraType, QString>> pollLikeTheMainWindow()
{
    cam_probe_buffer probe;
    probeUsbCameras(&probe);
    QMap<QString, QPair<CameraType, QString>> devices;
    int number = 0;
    for (int i = 0; i < probe.count; ++i) {
        const QString name = QString::fromLatin1(probe.devices[i].name);
        if (name.contains("UVC") || name.contains("FX3"))
            devices.insert(QString::fromLatin1(probe.devices[i].path),
                           {CameraUsb, QStringLiteral("VoCam_%1").arg(++number)});
    }
    return devices;
}

// The main window's style sheet.
inline void applyStyleSheet(QWidget &widget)
{
    QFile sheet(QStringLiteral(":/qss/black.qss"));
    if (sheet.open(QIODevice::ReadOnly))
        widget.setStyleSheet(QString::fromUtf8(sheet.readAll()));
}

// Texts a window shows that need more room than they get.
inline QStringList clippedTexts(QWidget &window)
{
    QStringList clipped;
    for (QWidget *widget : window.findChildren<QWidget *>()) {
        if (!widget->isVisible())
            continue;
        QString text;
        if (auto *label = qobject_cast<QLabel *>(widget))
            text = label->text();
        else if (auto *button = qobject_cast<QAbstractButton *>(widget))
            text = button->text();
        else
            continue;
        if (text.isEmpty())
            continue;
        if (widget->width() < widget->minimumSizeHint().width() || widget->height() < widget->minimumSizeHint().height())
            clipped << QStringLiteral("%1 \"%2\" %3x%4 < %5x%6")
                           .arg(widget->objectName(), text)
                           .arg(widget->width())
                           .arg(widget->height())
                           .arg(widget->minimumSizeHint().width())
                           .arg(widget->minimumSizeHint().height());
    }
    return clipped;
}
