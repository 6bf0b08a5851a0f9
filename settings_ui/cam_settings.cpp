#include "cam_settings.h"

#include "firmware_upgrade.h"
#include "ip_setting.h"
#include "log.h"
#include "produce_test_dialog.h"
#include "ui_camsettings.h"
#include "unlock_advanced_settings.h"

#include <QCheckBox>
#include <QDebug>
#include <QGroupBox>
#include <QMessageBox>
#include <QPointer>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QTabBar>

#include <optional>

namespace {

QDebug logLine()
{
    return qDebug().nospace().noquote();
}

// Pixels of 1920x1080: the frame-rate lists and the remembered rates switch above it.
constexpr quint64 kFullHdArea = 2073600;

// Width and height of a text such as "1920x1080"; 0 for a part that is missing or no number.
QSize parseResolution(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('x'));
    return QSize(int(parts.value(0).toUInt()), int(parts.value(1).toUInt()));
}

quint64 areaOf(const QSize &size)
{
    return quint64(uint(size.width())) * uint(size.height());
}

// The zoom box shows a magnification: 1.0 to 14.0 in tenths over the slider's
// first 131 positions, then whole steps (15, 16, ...).
double zoomFactor(int position)
{
    return position <= 130 ? (position + 10) / 10.0 : position - 116;
}

int zoomPosition(double factor)
{
    const int tenths = qRound(factor * 10);  // the box holds one decimal
    if (tenths <= 140)
        return tenths - 10;
    return 130 + (tenths - 140) / 10;  // whole steps above 14.0: 14.1 stays at 130, 15.0 is 131
}

double digitalZoomFactor(int position)
{
    return (position + 10) / 10.0;
}

int digitalZoomPosition(double factor)
{
    return qRound(factor * 10) - 10;
}

QStandardItem *comboItem(QComboBox *combo, int index)
{
    auto *model = qobject_cast<QStandardItemModel *>(combo->model());
    return model ? model->item(index) : nullptr;
}

void setItemEnabled(QComboBox *combo, int index, bool enabled)
{
    if (QStandardItem *item = comboItem(combo, index))
        item->setEnabled(enabled);
}

bool isItemEnabled(QComboBox *combo, int index)
{
    QStandardItem *item = comboItem(combo, index);
    return item && item->isEnabled();
}

int findExactText(QComboBox *combo, const QString &text)
{
    return combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
}

// Slider and spin box take a new range without telling anyone: a value that
// the new range clamps must not reach the camera. The pair shows one value.
void setPairRange(QSlider *slider, QSpinBox *spinBox, int minimum, int maximum)
{
    const QSignalBlocker sliderBlocker(slider);
    const QSignalBlocker spinBlocker(spinBox);
    slider->setRange(minimum, maximum);
    spinBox->setRange(minimum, maximum);
    spinBox->setValue(slider->value());
}

// Shows a value the camera keeps for itself (a control in automatic mode):
// nothing is sent or stored for it.
void showPairValue(QSlider *slider, QSpinBox *spinBox, int value)
{
    const QSignalBlocker sliderBlocker(slider);
    const QSignalBlocker spinBlocker(spinBox);
    slider->setValue(value);
    spinBox->setValue(slider->value());
}

void setPairEnabled(QWidget *slider, QWidget *spinBox, bool enabled)
{
    slider->setEnabled(enabled);
    spinBox->setEnabled(enabled);
}

void hideAll(std::initializer_list<QWidget *> widgets)
{
    for (QWidget *widget : widgets)
        widget->hide();
}

void fillResolutionBox(QComboBox *combo, const QList<Resolution> &sizes, const QString &current)
{
    const QSignalBlocker blocker(combo);
    combo->clear();
    for (const Resolution &size : sizes)
        combo->addItem(size.text);
    const int index = findExactText(combo, current);
    combo->setCurrentIndex(index >= 0 ? index : 0);
}

} // namespace

CamSettings::CamSettings(QWidget *parent)
    : QTabWidget(parent), ui(new Ui::CamSettings), ipDialog_(new IpSetting),
      unlockDialog_(new UnlockAdvancedSettings),
      upgrade_(new FirmwareUpgrade(this, [this] { return upgradeTarget(); })), factory_(::createCamera)
{
    registerCameraMetaTypes();
    ui->setupUi(this);
    ui->config_label->hide();
    for (QWidget *unused : {static_cast<QWidget *>(ui->presetConfig_comboBox), static_cast<QWidget *>(ui->presetSettings_btn),
                            static_cast<QWidget *>(ui->basicSettingsSave_btn), static_cast<QWidget *>(ui->advancedSettingsSave_btn)})
        unused->setEnabled(false);

    for (QComboBox *combo : findChildren<QComboBox *>())
        combo->setProperty("flag", QStringLiteral("Combox"));
    for (QPushButton *button : {ui->focusSub_btn, ui->focusAdd_btn, ui->montorCenter_btn, ui->wBOnce_btn,
                                ui->basicSettingsSave_btn, ui->basicSettingsAllReset_btn, ui->cameraUpgrade_btn,
                                ui->advancedSettingsAllReset_btn, ui->advancedSettingsSave_btn})
        button->setProperty("flag", QStringLiteral("LinearGradient"));

    setCurrentIndex(0);
    unlockDialog_->hide();
    ipDialog_->hide();
    connect(upgrade_, &FirmwareUpgrade::upgradeCamera, this, &CamSettings::upgradeCamera);
    connect(upgrade_, &FirmwareUpgrade::getCameraUpgradeStatus, this, &CamSettings::getCameraUpgradeStatus);
    connect(unlockDialog_, &UnlockAdvancedSettings::showProduceTestDialog, this,
            &CamSettings::onShowProduceTestDialog);
    connect(ipDialog_, &IpSetting::ipChanged, this, &CamSettings::setCameraIp);
    connect(tabBar(), &QTabBar::tabBarClicked, this, &CamSettings::onTabWidgetClicked);
    linkSlidersToSpinBoxes();

    resetControlsToDefaults();
    resetControlsForNoCamera();
}

CamSettings::~CamSettings()
{
    disconnectToCamera();
    delete produceTestDialog_;
    delete upgrade_;
    delete unlockDialog_;
    delete ui;
    delete ipDialog_;
}

void CamSettings::setCameraFactory(CameraFactory factory)
{
    factory_ = std::move(factory);
}

void CamSettings::resizeEvent(QResizeEvent *event)
{
    tabBar()->setMinimumWidth(event->size().width());
    QTabWidget::resizeEvent(event);
}

void CamSettings::linkSlidersToSpinBoxes()
{
    const std::pair<QSlider *, QSpinBox *> pairs[] = {
        {ui->focusValue_horizontalSlider, ui->focusValue_spinBox},
        {ui->focusRegionX_horizontalSlider, ui->focusRegionX_spinBox},
        {ui->focusRegionY_horizontalSlider, ui->focusRegionY_spinBox},
        {ui->brightness_horizontalSlider, ui->brightness_spinBox},
        {ui->shutter_horizontalSlider, ui->shutter_spinBox},
        {ui->gain_horizontalSlider, ui->gain_spinBox},
        {ui->wBRed_horizontalSlider, ui->wBRed_spinBox},
        {ui->wBGreen_horizontalSlider, ui->wBGreen_spinBox},
        {ui->wBBlue_horizontalSlider, ui->wBBlue_spinBox},
        {ui->hue_horizontalSlider, ui->hue_spinBox},
        {ui->saturation_horizontalSlider, ui->saturation_spinBox},
        {ui->contrast_horizontalSlider, ui->contrast_spinBox},
        {ui->sharpness_horizontalSlider, ui->sharpness_spinBox},
        {ui->gamma_horizontalSlider, ui->gamma_spinBox},
        {ui->antiReflective_horizontalSlider, ui->antiReflective_spinBox},
    };
    for (const auto &pair : pairs) {
        connect(pair.first, &QSlider::valueChanged, pair.second, &QSpinBox::setValue);
        connect(pair.second, QOverload<int>::of(&QSpinBox::valueChanged), pair.first, &QSlider::setValue);
    }
}

// ---------------------------------------------------------------- camera binding

QSharedPointer<BaseCamera> CamSettings::createCamera(const CameraOpenSettings &settings)
{
    const QString name = settings.isNetwork ? getCameraModel(settings) : settings.usb.devicePath;
    const QSharedPointer<BaseCamera> camera = factory_ ? factory_(name) : QSharedPointer<BaseCamera>();
    if (camera) {
        camera->setOpenSettings(settings);
        camera->login(settings);
    }
    bindCamera(camera, settings);
    return camera_;
}

void CamSettings::bindCamera(const QSharedPointer<BaseCamera> &camera, const CameraOpenSettings &settings)
{
    openSettings_ = settings;
    disconnectToCamera();
    camera_ = camera;
    cameraKey_.clear();
    boundDeviceName_.clear();
    connectToCamera();
    if (camera_) {
        camera_->setSettingsPanel(this);
        cameraKey_ = camera_->uniqueName();
        boundDeviceName_ = settings.isNetwork ? settings.network.address : settings.usb.devicePath;
    }
}

void CamSettings::connectToCamera()
{
    if (!camera_)
        return;
    BaseCamera *camera = camera_.data();
    QList<QMetaObject::Connection> &list = connections_;

    list << connect(camera, &BaseCamera::signalSetPicScale, this, &CamSettings::signalSetPicScale);

    list << connect(this, &CamSettings::setCameraFocusMode, camera, &BaseCamera::onSetFocusMode);
    list << connect(this, &CamSettings::setCameraFocusValue, camera, &BaseCamera::onSetFocusValue);
    list << connect(this, &CamSettings::setCameraFocusAdd, camera, &BaseCamera::onSetFocusAdd);
    list << connect(this, &CamSettings::setCameraFocusSub, camera, &BaseCamera::onSetFocusSub);
    list << connect(this, &CamSettings::setCameraFocusOnce, camera, &BaseCamera::onSetFocusOnce);
    list << connect(this, &CamSettings::setCameraExpMode, camera, &BaseCamera::onSetExpMode);
    list << connect(this, &CamSettings::setCameraExpCompValue, camera, &BaseCamera::onSetExpCompValue);
    list << connect(this, &CamSettings::setCameraExpGainValue, camera, &BaseCamera::onSetExpGainValue);
    list << connect(this, &CamSettings::setCameraExpTime, camera, &BaseCamera::onSetExpTime);
    list << connect(this, &CamSettings::saveCameraConfig, camera, &BaseCamera::onSaveCameraConfig);
    list << connect(this, &CamSettings::setCameraIp, camera, &BaseCamera::onSetIp);
    list << connect(this, &CamSettings::upgradeCamera, camera, &BaseCamera::onUpgrade);
    list << connect(this, &CamSettings::setCameraFocusRegionStatus, camera, &BaseCamera::onSetFocusRegionStatus);
    list << connect(this, &CamSettings::setCameraFocusRegion, camera, &BaseCamera::onSetFocusRegion);
    list << connect(this, &CamSettings::setCameraFlickStatus, camera, &BaseCamera::onSetFilckStatus);
    list << connect(this, &CamSettings::setCameraMotorCenter, camera, &BaseCamera::onSetMotorCenter);
    list << connect(this, &CamSettings::setCameraWbMode, camera, &BaseCamera::onSetWbMode);
    list << connect(this, &CamSettings::setCameraWbRedValue, camera, &BaseCamera::onSetWbRedValue);
    list << connect(this, &CamSettings::setCameraWbGreenValue, camera, &BaseCamera::onSetWbGreenValue);
    list << connect(this, &CamSettings::setCameraWbBlueValue, camera, &BaseCamera::onSetWbBlueValue);
    list << connect(this, &CamSettings::setCameraMirrorStatus, camera, &BaseCamera::onSetMirrorStatus);
    list << connect(this, &CamSettings::setCameraFlipStatus, camera, &BaseCamera::onSetFlipStatus);
    list << connect(this, &CamSettings::setCameraHueValue, camera, &BaseCamera::onSetHueValue);
    list << connect(this, &CamSettings::setCameraSaturationValue, camera, &BaseCamera::onSetSaturationValue);
    list << connect(this, &CamSettings::setCameraContrastValue, camera, &BaseCamera::onSetContrastValue);
    list << connect(this, &CamSettings::setCameraSharpnessValue, camera, &BaseCamera::onSetSharpnessValue);
    list << connect(this, &CamSettings::setCameraDZoomValue, camera, &BaseCamera::onSetDZoomValue);
    list << connect(this, &CamSettings::setCameraZoomValue, camera, &BaseCamera::onSetZoomValue);
    list << connect(this, &CamSettings::setCameraDefogStatus, camera, &BaseCamera::onSetDefogStatus);
    list << connect(this, &CamSettings::setCameraMonoChromeStatus, camera, &BaseCamera::onSetMonoChromeStatus);
    list << connect(this, &CamSettings::setCameraGammaValue, camera, &BaseCamera::onSetGammaValue);
    list << connect(this, &CamSettings::resetCamera, camera, &BaseCamera::onReset);
    list << connect(this, &CamSettings::setCameraWhiteBalanceOnce, camera, &BaseCamera::onSetWhiteBalanceOnce);
    list << connect(this, &CamSettings::setCameraDisplayMode, camera, &BaseCamera::onSetCameraDisplayMode);
    list << connect(this, &CamSettings::resetCameraBasicSettings, camera, &BaseCamera::onResetBasicSettings);
    list << connect(this, &CamSettings::resetCameraAdvancedSettings, camera, &BaseCamera::onResetAdvancedSettings);

    list << connect(this, &CamSettings::getCameraFocusMode, camera, &BaseCamera::onGetFocusMode);
    list << connect(this, &CamSettings::getCameraFocusValue, camera, &BaseCamera::onGetFocusValue);
    list << connect(this, &CamSettings::getCameraExpMode, camera, &BaseCamera::onGetExpMode);
    list << connect(this, &CamSettings::getCameraExpCompValue, camera, &BaseCamera::onGetExpCompValue);
    list << connect(this, &CamSettings::getCameraExpGainValue, camera, &BaseCamera::onGetExpGainValue);
    list << connect(this, &CamSettings::getCameraExpTime, camera, &BaseCamera::onGetExpTime);
    list << connect(this, &CamSettings::getCameraIpInfo, camera, &BaseCamera::onGetIpInfo);
    list << connect(this, &CamSettings::getCameraUpgradeStatus, camera, &BaseCamera::onGetUpgradeStatus);
    list << connect(this, &CamSettings::getCameraFocusRegion, camera, &BaseCamera::onGetFocusRegion);
    list << connect(this, &CamSettings::getCameraWbMode, camera, &BaseCamera::onGetWbMode);
    list << connect(this, &CamSettings::getCameraWbRedValue, camera, &BaseCamera::onGetWbRedValue);
    list << connect(this, &CamSettings::getCameraWbGreenValue, camera, &BaseCamera::onGetWbGreenValue);
    list << connect(this, &CamSettings::getCameraWbBlueValue, camera, &BaseCamera::onGetWbBlueValue);
    list << connect(this, &CamSettings::getCameraMirrorStatus, camera, &BaseCamera::onGetMirrorStatus);
    list << connect(this, &CamSettings::getCameraFlipStatus, camera, &BaseCamera::onGetFlipStatus);
    list << connect(this, &CamSettings::getCameraHueValue, camera, &BaseCamera::onGetHueValue);
    list << connect(this, &CamSettings::getCameraSaturationValue, camera, &BaseCamera::onGetSaturationValue);
    list << connect(this, &CamSettings::getCameraContrastValue, camera, &BaseCamera::onGetContrastValue);
    list << connect(this, &CamSettings::getCameraSharpnessValue, camera, &BaseCamera::onGetSharpnessValue);
    list << connect(this, &CamSettings::getCameraDZoomValue, camera, &BaseCamera::onGetDZoomValue);
    list << connect(this, &CamSettings::getCameraZoomValue, camera, &BaseCamera::onGetZoomValue);
    list << connect(this, &CamSettings::getCameraDefogStatus, camera, &BaseCamera::onGetDefogStatus);
    list << connect(this, &CamSettings::getCameraGammaValue, camera, &BaseCamera::onGetGammaValue);
    list << connect(this, &CamSettings::getCameraMonoChromeStatus, camera, &BaseCamera::onGetMonoChromeStatus);
    list << connect(this, &CamSettings::getCameraFlickStatus, camera, &BaseCamera::onGetFlickStatus);
    list << connect(this, &CamSettings::getCameraDisplayMode, camera, &BaseCamera::onGetCameraDisplayMode);

    list << connect(camera, &BaseCamera::sendFocusMode, this, &CamSettings::onRecvCameraFocusMode);
    list << connect(camera, &BaseCamera::sendFocusValue, this, &CamSettings::onRecvCameraFocusValue);
    list << connect(camera, &BaseCamera::sendExpMode, this, &CamSettings::onRecvCameraExpMode);
    list << connect(camera, &BaseCamera::sendExpCompValue, this, &CamSettings::onRecvCameraExpCompValue);
    list << connect(camera, &BaseCamera::sendExpGainValue, this, &CamSettings::onRecvCameraExpGainValue);
    list << connect(camera, &BaseCamera::sendExpTime, this, &CamSettings::onRecvCameraExpTime);
    list << connect(camera, &BaseCamera::sendIpInfo, this, &CamSettings::onRecvCameraIpInfo);
    list << connect(camera, &BaseCamera::sendUpgradeStatus, this, &CamSettings::onRecvCameraUpgradeStatus);
    list << connect(camera, &BaseCamera::sendFocusRegionStatus, this, &CamSettings::onRecvCameraFocusRegionStatus);
    list << connect(camera, &BaseCamera::sendFocusRegion, this, &CamSettings::onRecvCameraFocusRegion);
    list << connect(camera, &BaseCamera::sendWbRedValue, this, &CamSettings::onRecvCameraWbRedValue);
    list << connect(camera, &BaseCamera::sendWbGreenValue, this, &CamSettings::onRecvCameraWbGreenValue);
    list << connect(camera, &BaseCamera::sendWbBlueValue, this, &CamSettings::onRecvCameraWbBlueValue);
    list << connect(camera, &BaseCamera::sendMirrorStatus, this, &CamSettings::onRecvCameraMirrorStatus);
    list << connect(camera, &BaseCamera::sendFlipStatus, this, &CamSettings::onRecvCameraFlipStatus);
    list << connect(camera, &BaseCamera::sendHueValue, this, &CamSettings::onRecvCameraHueValue);
    list << connect(camera, &BaseCamera::sendSaturationValue, this, &CamSettings::onRecvCameraSaturationValue);
    list << connect(camera, &BaseCamera::sendContrastValue, this, &CamSettings::onRecvCameraContrastValue);
    list << connect(camera, &BaseCamera::sendSharpnessValue, this, &CamSettings::onRecvCameraSharpnessValue);
    list << connect(camera, &BaseCamera::sendDZoomValue, this, &CamSettings::onRecvCameraDZoomValue);
    list << connect(camera, &BaseCamera::sendZoomValue, this, &CamSettings::onRecvCameraZoomValue);
    list << connect(camera, &BaseCamera::sendDefogStatus, this, &CamSettings::onRecvCameraDefogStatus);
    list << connect(camera, &BaseCamera::sendGammaValue, this, &CamSettings::onRecvCameraGammaValue);
    list << connect(camera, &BaseCamera::sendMonoChromeStatus, this, &CamSettings::onRecvCameraMonoChromeStatus);
    list << connect(camera, &BaseCamera::sendFlickStatus, this, &CamSettings::onRecvCameraFlickStatus);
    list << connect(camera, &BaseCamera::sendWbMode, this, &CamSettings::onRecvCameraWbMode);
    list << connect(camera, &BaseCamera::sendDisplayModeValue, this, &CamSettings::onRecvCameraDisplayMode);

    connectProduceTestDialog();
}

void CamSettings::connectProduceTestDialog()
{
    if (!camera_ || !produceTestDialog_)
        return;
    BaseCamera *camera = camera_.data();
    connections_ << connect(produceTestDialog_, &ProduceTestDialog::signalCalibrationCurve, camera,
                            &BaseCamera::onCalibrateCurve);
    connections_ << connect(produceTestDialog_, &ProduceTestDialog::signalValidationCurve, camera,
                            &BaseCamera::onValidateCurve);
}

void CamSettings::disconnectToCamera()
{
    for (const QMetaObject::Connection &connection : qAsConst(connections_))
        disconnect(connection);
    connections_.clear();
}

void CamSettings::setPlayThread(const QSharedPointer<CameraPlayThread> &thread)
{
    playThread_ = thread;
    if (playThread_ && camera_)
        playThread_->setCaptureCamera(camera_);
}

void CamSettings::refreshFromCameraInfo(const QSharedPointer<CameraParameters> &params)
{
    if (!params)
        return;
    showAllControls();
    fillControlsFromParameters(*params);
    setFpsListforCurRes(false);
    if (!camera_)
        return;
    // The camera takes the record on its own thread, where its slots run; the
    // values it pushes to the device come back through its send signals.
    const QWeakPointer<BaseCamera> weak = camera_;
    const CameraParameters record = *params;
    QMetaObject::invokeMethod(
        camera_.data(),
        [weak, record] {
            if (const QSharedPointer<BaseCamera> camera = weak.toStrongRef())
                camera->initSettingsPanel(record, 0, false);
        },
        Qt::QueuedConnection);
}

// ---------------------------------------------------------------- device list

CameraTypeAndName CamSettings::itemDevice(int index) const
{
    return ui->camera_comboBox->itemData(index).value<CameraTypeAndName>();
}

int CamSettings::findDeviceItem(const CameraTypeAndName &device) const
{
    for (int i = 0; i < ui->camera_comboBox->count(); ++i) {
        const CameraTypeAndName item = itemDevice(i);
        if (item.first == device.first && item.second == device.second)
            return i;
    }
    return -1;
}

void CamSettings::setOpened(bool opened)
{
    opened_ = opened;
    ui->cameraSwitch_btn->setChecked(opened);
}

void CamSettings::detectDevices(QMap<QString, QPair<CameraType, QString>> cameraNames)
{
    if (cameraNames == deviceMap_ && pendingReopen_.isEmpty())
        return;
    deviceMap_ = cameraNames;
    for (auto open = openCameras_.cbegin(); open != openCameras_.cend(); ++open)
        if (!deviceMap_.contains(open.key()))
            deviceMap_.insert(open.key(), open.value());

    ui->camera_comboBox->clear();
    int openIndex = -1;
    for (auto device = deviceMap_.cbegin(); device != deviceMap_.cend(); ++device) {
        ui->camera_comboBox->addItem(device.value().second,
                                     QVariant::fromValue(CameraTypeAndName(device.value().first, device.key())));
        if (openCameras_.contains(device.key()))
            openIndex = ui->camera_comboBox->count() - 1;
    }

    if (!openCameras_.isEmpty()) {
        ui->camera_comboBox->setCurrentIndex(openIndex);
        setOpened(true);
        return;
    }
    if (deviceMap_.isEmpty())
        return;

    // Give a camera that has just appeared time to settle; other polls and
    // closes may run meanwhile, so everything is read again afterwards.
    const QPointer<CamSettings> self(this);
    blockingWait(500);
    if (!self)
        return;

    QString toOpen;
    if (!pendingReopen_.isEmpty() && deviceMap_.contains(pendingReopen_)) {
        toOpen = pendingReopen_;
        pendingReopen_.clear();
    } else if (pendingReopen_.isEmpty() && deviceMap_.size() == 1 && !noAutoOpen_
               && !isUpgradeModeDevice(deviceMap_.firstKey())) {
        toOpen = deviceMap_.firstKey();
    }
    if (toOpen.isEmpty())
        return;
    const int index = findDeviceItem(CameraTypeAndName(deviceMap_.value(toOpen).first, toOpen));
    if (index < 0 || opened_)
        return;
    ui->camera_comboBox->setCurrentIndex(index);
    ui->cameraSwitch_btn->click();
}

void CamSettings::on_cameraSwitch_btn_clicked()
{
    if (ui->camera_comboBox->count() == 0) {
        setOpened(opened_);  // the click toggled the button; nothing is open or closed
        return;
    }
    const CameraTypeAndName device = itemDevice(ui->camera_comboBox->currentIndex());
    const QString uniqueName = device.second;
    const QString friendlyName =
        device.first == CameraNetwork ? QStringLiteral("NetCamera") : ui->camera_comboBox->currentText();

    if (opened_) {
        if (openCameras_.contains(uniqueName)) {
            openCameras_.remove(uniqueName);
            setOpened(false);
            closeCameraForReason(uniqueName, CloseDone);
        } else {
            setOpened(opened_);
        }
        return;
    }
    if (openCameras_.isEmpty()) {
        openCameras_.insert(uniqueName, CameraTypeAndName(device.first, friendlyName));
        setOpened(true);
        emit openCam(friendlyName, uniqueName);
        return;
    }
    setOpened(false);
    QMessageBox box(QMessageBox::Information, tr("Notice"), tr("The number of cameras is greater than 1"));
    box.addButton(tr("OK"), QMessageBox::AcceptRole);
    box.exec();
}

void CamSettings::on_camera_comboBox_currentIndexChanged(int index)
{
    setOpened(index >= 0 && openCameras_.contains(itemDevice(index).second));
}

void CamSettings::deviceClosed(QString uniqueName)
{
    pendingReopen_.clear();
    if (!openCameras_.contains(uniqueName))
        return;
    openCameras_.remove(uniqueName);
    if (itemDevice(ui->camera_comboBox->currentIndex()).second == uniqueName)
        setOpened(false);
}

void CamSettings::closeCameraForReason(QString cameraName, CameraCloseReason reason)
{
    const bool bound = camera_ && cameraName == boundDeviceName_;
    // A capture thread may report the loss of a camera the user has just
    // closed: that late report must neither close the next camera nor queue
    // the closed one for reopening.
    if (!bound && !openCameras_.contains(cameraName) && reason != CloseDone)
        return;

    deviceClosed(cameraName);
    if (reason == CloseDone)
        noAutoOpen_ = true;
    else if (reason == CloseDisconnected)
        pendingReopen_ = cameraName;

    if (bound) {
        disconnectToCamera();
        camera_.reset();
        cameraKey_.clear();
        boundDeviceName_.clear();
    }
    resetControlsToDefaults();
    emit closeCam(cameraName, reason);
    // After the close has gone out: a network upgrade that can no longer be
    // followed says so in a box of its own.
    if (bound)
        upgrade_->cameraClosed();
}

// ---------------------------------------------------------------- panel state

template <typename Widget>
static void forEachControl(const QList<QWidget *> &pages, const std::function<void(Widget *)> &action)
{
    for (QWidget *page : pages)
        for (Widget *widget : page->findChildren<Widget *>())
            action(widget);
}

void CamSettings::showAllControls()
{
    const QList<QWidget *> pages = {ui->basicSettings_tab, ui->advancedSettings_tab};
    const auto show = [](QWidget *widget) { widget->show(); };
    forEachControl<QLabel>(pages, show);
    forEachControl<QGroupBox>(pages, show);
    forEachControl<QPushButton>(pages, show);
    forEachControl<QSlider>(pages, show);
    forEachControl<QRadioButton>(pages, show);
    forEachControl<QAbstractSpinBox>(pages, show);
    forEachControl<QCheckBox>(pages, show);
    forEachControl<QToolButton>(pages, [](QToolButton *button) {
        if (!button->objectName().isEmpty())
            button->show();
    });
    forEachControl<QComboBox>(pages, [](QComboBox *combo) {
        combo->hidePopup();
        combo->show();
    });
    for (QWidget *section : {static_cast<QWidget *>(ui->focus_line), static_cast<QWidget *>(ui->exp_line),
                             static_cast<QWidget *>(ui->wB_line), static_cast<QWidget *>(ui->func_line),
                             ui->focusSettings_widget, ui->expSettings_widget, ui->wBSettings_widget, ui->func_widget})
        section->show();
    for (QToolButton *button : {ui->focus_tBtn, ui->exp_tBtn, ui->wB_tBtn, ui->func_tBtn})
        button->setEnabled(true);
    // No preset configurations are offered: their label stays hidden as at construction.
    ui->config_label->hide();
}

void CamSettings::resetControlsForNoCamera()
{
    for (QToolButton *button : {ui->focus_tBtn, ui->exp_tBtn, ui->wB_tBtn, ui->func_tBtn})
        button->setEnabled(false);
    hideAll({ui->focusSettings_widget, ui->expSettings_widget, ui->wBSettings_widget, ui->func_widget,
             ui->wBOnce_btn, ui->previewRes_label, ui->photoRes_label, ui->fps_label, ui->format_label,
             ui->previewRes_comboBox, ui->photoRes_comboBox, ui->fps_comboBox, ui->format_comboBox,
             ui->changeIP_btn});
}

void CamSettings::resetControlsToDefaults()
{
    const QList<QWidget *> pages = {ui->basicSettings_tab, ui->advancedSettings_tab};
    forEachControl<QSlider>(pages, [](QSlider *slider) { slider->setValue(slider->minimum()); });
    for (QRadioButton *button : {ui->focusAuto_rBtn, ui->expAuto_rBtn, ui->wBAuto_rBtn, ui->colorModeRGB_rBtn,
                                 ui->pLF60Hz_rBtn})
        button->setChecked(true);
    for (QRadioButton *button : {ui->showFocusFrame_rBtn, ui->clickFocus_rBtn, ui->verticalFlip_rBtn,
                                 ui->horizontalFlip_rBtn, ui->activeDefog_rBtn})
        button->setChecked(false);
}

void CamSettings::fillControlsFromParameters(const CameraParameters &p)
{
    // Resolutions of the current stream format. A record without a list for
    // its own format cannot be shown; the resolution rows are hidden.
    const bool sizesKnown = p.resolutions.contains(p.decodeWay);
    if (p.resolutionSelectable && sizesKnown) {
        const QList<Resolution> sizes = p.resolutions.value(p.decodeWay);
        fillResolutionBox(ui->previewRes_comboBox, sizes, p.resolution.text);
        fillResolutionBox(ui->photoRes_comboBox, sizes, p.pictureResolution);
    } else {
        if (p.resolutionSelectable)
            logLine() << "No resolutions for stream format " << p.decodeWay << "; the resolution lists are hidden";
        hideAll({ui->previewRes_label, ui->previewRes_comboBox, ui->photoRes_label, ui->photoRes_comboBox});
    }

    if (p.frameRateSelectable && camera_) {
        const bool low = areaOf(QSize(p.resolution.width, p.resolution.height)) <= kFullHdArea;
        const QList<int> rates = low ? camera_->lowResFrameRates() : camera_->highResFrameRates();
        {
            const QSignalBlocker blocker(ui->fps_comboBox);
            ui->fps_comboBox->clear();
            for (int rate : rates)
                ui->fps_comboBox->addItem(QString::number(rate));
        }
        setCurFps(p.fps, true);
    } else {
        hideAll({ui->fps_label, ui->fps_comboBox});
    }

    if (p.streamFormatSelectable) {
        const QSignalBlocker blocker(ui->format_comboBox);
        ui->format_comboBox->clear();
        for (int format : p.streamFormats)
            ui->format_comboBox->addItem(streamFormatName(format), format);
        const int index = ui->format_comboBox->findData(p.decodeWay);
        ui->format_comboBox->setCurrentIndex(index >= 0 ? index : 0);
    } else {
        hideAll({ui->format_label, ui->format_comboBox});
    }

    ui->montorCenter_btn->setVisible(p.extraControlA);

    // Focus.
    if (p.focus.supported) {
        setPairRange(ui->focusValue_horizontalSlider, ui->focusValue_spinBox, p.focus.minimum, p.focus.maximum);
        const auto setManualEnabled = [this](bool enabled) {
            setPairEnabled(ui->focusValue_horizontalSlider, ui->focusValue_spinBox, enabled);
            ui->focusAdd_btn->setEnabled(enabled);
            ui->focusSub_btn->setEnabled(enabled);
        };
        if (p.focusMode == FocusAuto) {
            ui->focusAuto_rBtn->setChecked(true);
            setManualEnabled(false);
        } else if (p.focusMode == FocusManual) {
            ui->focusManual_rBtn->setChecked(true);
            setManualEnabled(true);
            ui->focusValue_horizontalSlider->setValue(p.focus.value);
        } else if (p.focusMode == FocusOnce) {
            ui->focusOnce_rBtn->setChecked(true);
            ui->focusOnce_btn->setEnabled(true);
            setManualEnabled(false);
        }
        if (p.focusMode != FocusManual)
            showPairValue(ui->focusValue_horizontalSlider, ui->focusValue_spinBox, p.focus.value);
        if (p.focusSlider)
            hideAll({ui->focusAdd_btn, ui->focusSub_btn});
        else
            hideAll({ui->focusValue_horizontalSlider, ui->focusValue_spinBox});
        ui->focusRegionArea_comboBox->hide();
        setPairRange(ui->focusRegionX_horizontalSlider, ui->focusRegionX_spinBox, 0, 16);
        setPairRange(ui->focusRegionY_horizontalSlider, ui->focusRegionY_spinBox, 0, 14);
        setPairEnabled(ui->focusRegionX_horizontalSlider, ui->focusRegionX_spinBox, false);
        setPairEnabled(ui->focusRegionY_horizontalSlider, ui->focusRegionY_spinBox, false);
        if (p.focusRegionSupported) {
            const bool automatic = p.focusMode == FocusAuto;
            for (QRadioButton *button : {ui->showFocusFrame_rBtn, ui->clickFocus_rBtn}) {
                button->setEnabled(automatic);
                button->setChecked(automatic);
            }
            ui->focusRegionX_horizontalSlider->setValue(p.focusRegionX);
            ui->focusRegionY_horizontalSlider->setValue(p.focusRegionY);
            emit setFocusRegionUI(p.focusRegionX, p.focusRegionY);
            emit setCameraFocusRegion(p.focusRegionX, p.focusRegionY);
        } else {
            ui->showFocusFrame_rBtn->setChecked(false);
            ui->clickFocus_rBtn->setChecked(false);
            hideAll({ui->focusRegionX_label, ui->focusRegionX_horizontalSlider, ui->focusRegionX_spinBox,
                     ui->focusRegionY_label, ui->focusRegionY_horizontalSlider, ui->focusRegionY_spinBox,
                     ui->focusRegion_label, ui->focusRegionArea_comboBox, ui->showFocusFrame_rBtn,
                     ui->clickFocus_rBtn});
        }
        if (!p.focusOnceSupported)
            hideAll({ui->focusOnce_btn, ui->focusOnce_rBtn});
    } else {
        hideAll({ui->focus_line, ui->focus_tBtn, ui->focusSettings_widget});
    }

    // Exposure.
    if (p.exposureSupported) {
        setPairRange(ui->brightness_horizontalSlider, ui->brightness_spinBox, p.exposureCompensation.minimum,
                     p.exposureCompensation.maximum);
        setPairRange(ui->gain_horizontalSlider, ui->gain_spinBox, p.exposureGain.minimum, p.exposureGain.maximum);
        setPairRange(ui->shutter_horizontalSlider, ui->shutter_spinBox, p.exposureTime.minimum,
                     p.exposureTime.maximum);
        if (p.exposureMode == ExposureAuto || p.exposureMode == ExposureManual) {
            const bool automatic = p.exposureMode == ExposureAuto;
            (automatic ? ui->expAuto_rBtn : ui->expManual_rBtn)->setChecked(true);
            setPairEnabled(ui->brightness_horizontalSlider, ui->brightness_spinBox, automatic);
            setPairEnabled(ui->gain_horizontalSlider, ui->gain_spinBox, !automatic);
            setPairEnabled(ui->shutter_horizontalSlider, ui->shutter_spinBox, !automatic);
        }
        ui->brightness_horizontalSlider->setValue(p.exposureCompensation.value);
        ui->shutter_horizontalSlider->setValue(p.exposureTime.value);
        ui->gain_horizontalSlider->setValue(p.exposureGain.value);
    } else {
        hideAll({ui->exp_line, ui->exp_tBtn, ui->expSettings_widget});
    }

    // White balance.
    const std::pair<const ControlRange *, std::pair<QSlider *, QSpinBox *>> components[] = {
        {&p.whiteBalanceRed, {ui->wBRed_horizontalSlider, ui->wBRed_spinBox}},
        {&p.whiteBalanceGreen, {ui->wBGreen_horizontalSlider, ui->wBGreen_spinBox}},
        {&p.whiteBalanceBlue, {ui->wBBlue_horizontalSlider, ui->wBBlue_spinBox}}};
    if (p.whiteBalanceSupported) {
        for (const auto &component : components)
            setPairRange(component.second.first, component.second.second, component.first->minimum,
                         component.first->maximum);
        if (p.whiteBalanceMode == WbAuto) {
            ui->wBAuto_rBtn->setChecked(true);
            for (const auto &component : components) {
                setPairEnabled(component.second.first, component.second.second, false);
                showPairValue(component.second.first, component.second.second, component.first->value);
            }
        } else if (p.whiteBalanceMode == WbManual) {
            ui->wBManual_rBtn->setChecked(true);
            for (const auto &component : components) {
                setPairEnabled(component.second.first, component.second.second, true);
                component.second.first->setValue(component.first->value);
            }
        }
    } else {
        // The one-shot white balance needs the white-balance controls too.
        hideAll({ui->wB_tBtn, ui->wBSettings_widget, ui->wB_line, ui->wBOnce_btn});
    }

    // Picture controls.
    const struct {
        const ControlRange &range;
        QLabel *label;
        QSlider *slider;
        QSpinBox *spinBox;
    } pictureControls[] = {
        {p.hue, ui->hue_label, ui->hue_horizontalSlider, ui->hue_spinBox},
        {p.saturation, ui->saturation_label, ui->saturation_horizontalSlider, ui->saturation_spinBox},
        {p.contrast, ui->contrast_label, ui->contrast_horizontalSlider, ui->contrast_spinBox},
        {p.sharpness, ui->sharpness_label, ui->sharpness_horizontalSlider, ui->sharpness_spinBox},
        {p.gamma, ui->gamma_label, ui->gamma_horizontalSlider, ui->gamma_spinBox},
    };
    for (const auto &control : pictureControls) {
        if (control.range.supported) {
            setPairRange(control.slider, control.spinBox, control.range.minimum, control.range.maximum);
            control.slider->setValue(control.range.value);
        } else {
            hideAll({control.label, control.slider, control.spinBox});
        }
    }

    // Zoom and digital zoom.
    if (p.zoom.supported) {
        {
            const QSignalBlocker spinBlocker(ui->zoom_spinBox);
            const QSignalBlocker sliderBlocker(ui->zoom_horizontalSlider);
            const double top = p.zoom.maximum <= 130 ? (p.zoom.maximum + 10) / 10.0 : p.zoom.maximum - 116;
            ui->zoom_spinBox->setRange((p.zoom.minimum + 10) / 10.0, top);
            ui->zoom_horizontalSlider->setRange(p.zoom.minimum, p.zoom.maximum);
            ui->zoom_spinBox->setValue(zoomFactor(ui->zoom_horizontalSlider->value()));
        }
        ui->zoom_horizontalSlider->setValue(p.zoom.value);
        const bool atMaximum = ui->zoom_horizontalSlider->value() >= p.zoom.maximum;
        setPairEnabled(ui->digitalZoom_horizontalSlider, ui->digitalZoom_spinBox, atMaximum);
    } else {
        hideAll({ui->zoom_label, ui->zoom_horizontalSlider, ui->zoom_spinBox});
    }
    if (p.digitalZoom.supported) {
        {
            const QSignalBlocker spinBlocker(ui->digitalZoom_spinBox);
            const QSignalBlocker sliderBlocker(ui->digitalZoom_horizontalSlider);
            ui->digitalZoom_spinBox->setRange(digitalZoomFactor(p.digitalZoom.minimum),
                                              digitalZoomFactor(p.digitalZoom.maximum));
            ui->digitalZoom_horizontalSlider->setRange(p.digitalZoom.minimum, p.digitalZoom.maximum);
            ui->digitalZoom_spinBox->setValue(digitalZoomFactor(ui->digitalZoom_horizontalSlider->value()));
        }
        ui->digitalZoom_horizontalSlider->setValue(p.digitalZoom.value);
    } else {
        hideAll({ui->digitalZoom_label, ui->digitalZoom_horizontalSlider, ui->digitalZoom_spinBox});
    }

    hideAll({ui->antiReflective_label, ui->antiReflective_spinBox, ui->antiReflective_horizontalSlider});

    if (p.monochromeSupported) {
        const QSignalBlocker rgbBlocker(ui->colorModeRGB_rBtn);
        const QSignalBlocker monoBlocker(ui->colorModeMono_rBtn);
        (p.monochromeOn ? ui->colorModeMono_rBtn : ui->colorModeRGB_rBtn)->setChecked(true);
    } else {
        hideAll({ui->colorMode_label, ui->colorModeRGB_rBtn, ui->colorModeMono_rBtn});
    }

    if (p.flickerSupported)
        (p.flickerOn ? ui->pLF50Hz_rBtn : ui->pLF60Hz_rBtn)->setChecked(true);
    else
        hideAll({ui->powerLineFrequency_label, ui->pLF50Hz_rBtn, ui->pLF60Hz_rBtn});

    if (p.flipMirrorSupported) {
        ui->horizontalFlip_rBtn->setChecked(p.mirror);
        ui->verticalFlip_rBtn->setChecked(p.flip);
    } else {
        hideAll({ui->flip_label, ui->horizontalFlip_rBtn, ui->verticalFlip_rBtn});
    }

    if (p.defogSupported)
        ui->activeDefog_rBtn->setChecked(p.defogOn);
    else
        hideAll({ui->defog_label, ui->activeDefog_rBtn});

    if (p.modelId > 0)
        ui->changeIP_btn->hide();
}

bool CamSettings::refreshResolutionLists(int format)
{
    if (!camera_)
        return false;
    const QString oldPreview = ui->previewRes_comboBox->currentText();
    const QString oldPhoto = ui->photoRes_comboBox->currentText();
    const quint64 previewArea = areaOf(parseResolution(oldPreview));
    const quint64 photoArea = areaOf(parseResolution(oldPhoto));
    const QList<Resolution> sizes = camera_->resolutions().value(format);

    QString previewCandidate;
    QString photoCandidate;
    {
        const QSignalBlocker previewBlocker(ui->previewRes_comboBox);
        const QSignalBlocker photoBlocker(ui->photoRes_comboBox);
        ui->previewRes_comboBox->clear();
        ui->photoRes_comboBox->clear();
        for (const Resolution &size : sizes) {
            ui->previewRes_comboBox->addItem(size.text);
            ui->photoRes_comboBox->addItem(size.text);
            const quint64 area = areaOf(QSize(size.width, size.height));
            if (area <= previewArea)
                previewCandidate = size.text;
            if (area <= photoArea)
                photoCandidate = size.text;
        }
        ui->previewRes_comboBox->setCurrentIndex(
            oldPreview == previewCandidate ? findExactText(ui->previewRes_comboBox, previewCandidate) : -1);
        ui->photoRes_comboBox->setCurrentIndex(
            oldPhoto == photoCandidate ? findExactText(ui->photoRes_comboBox, photoCandidate) : -1);
    }
    int index = findExactText(ui->previewRes_comboBox, previewCandidate);
    if (index < 0)
        index = 0;
    if (oldPhoto != photoCandidate)
        ui->photoRes_comboBox->setCurrentIndex(index);
    if (oldPreview != previewCandidate) {
        ui->previewRes_comboBox->setCurrentIndex(index);
        return false;
    }
    return true;
}

CaptureSettings CamSettings::getVideoProperty() const
{
    // What the panel does not say (a hidden or empty list) stays as the
    // capture runs now.
    CaptureSettings settings;
    settings.fps = 60;
    settings.width = 1920;
    settings.height = 1080;
    settings.format = StreamMjpeg;
    if (playThread_) {
        const CaptureSettings running = playThread_->captureSettings();
        settings.fps = running.fps;
        settings.width = running.width;
        settings.height = running.height;
        settings.format = running.format;
    }
    settings.bitrate = 86000;
    settings.qualityBitrates = {{0, 51200}, {1, 86000}, {2, 100000}};

    const QSize size = parseResolution(ui->previewRes_comboBox->currentText());
    if (size.width() > 0 && size.height() > 0) {
        settings.width = size.width();
        settings.height = size.height();
    }
    const uint fps = ui->fps_comboBox->currentText().toUInt();
    if (fps > 0)
        settings.fps = int(fps);
    bool formatOk = false;
    const int format = ui->format_comboBox->currentData().toInt(&formatOk);
    if (formatOk)
        settings.format = format;
    logLine() << "getVideoProperty: width=" << settings.width << ", height=" << settings.height
              << ", format=" << settings.format;
    return settings;
}

void CamSettings::applyCaptureSettings()
{
    if (playThread_)
        playThread_->setCaptureSettings(getVideoProperty());
}

void CamSettings::setCaptureFormatEnabled(bool enabled)
{
    ui->previewRes_comboBox->setEnabled(enabled);
    ui->fps_comboBox->setEnabled(enabled);
    ui->format_comboBox->setEnabled(enabled);
}

void CamSettings::getPhotoResolution(QSize *size) const
{
    if (size)
        *size = parseResolution(ui->photoRes_comboBox->currentText());
}

bool CamSettings::isPhotoResolutionDifferent(bool usePicture, CaptureSettings &out)
{
    if (ui->photoRes_comboBox->currentText() == ui->previewRes_comboBox->currentText())
        return false;
    const QSize picture = parseResolution(ui->photoRes_comboBox->currentText());
    out = getVideoProperty();
    if (usePicture) {
        out.width = picture.width();
        out.height = picture.height();
    }
    if (playThread_)
        playThread_->setCaptureSettings(out);
    return true;
}

void CamSettings::saveFocusRegionState()
{
    // A second drawing mode keeps the choice saved before the first.
    if (focusRegionSuspension_ <= 0) {
        savedManualFocus_ = ui->focusManual_rBtn->isChecked();
        savedFocusFrame_ = ui->showFocusFrame_rBtn->isChecked();
        savedClickFocus_ = ui->clickFocus_rBtn->isChecked();
    }
    if (!ui->focusManual_rBtn->isChecked())
        ui->focusManual_rBtn->setChecked(true);
    if (ui->showFocusFrame_rBtn->isChecked())
        ui->showFocusFrame_rBtn->setChecked(false);
    if (ui->clickFocus_rBtn->isChecked())
        ui->clickFocus_rBtn->setChecked(false);
    focusRegionSuspension_ = 1;
    ui->showFocusFrame_rBtn->setEnabled(false);
    ui->clickFocus_rBtn->setEnabled(false);
    ui->focusAuto_rBtn->setEnabled(false);
}

void CamSettings::restoreFocusRegionState()
{
    if (focusRegionSuspension_ <= 0)
        return;
    ui->showFocusFrame_rBtn->setEnabled(true);
    ui->clickFocus_rBtn->setEnabled(true);
    ui->focusAuto_rBtn->setEnabled(true);
    (savedManualFocus_ ? ui->focusManual_rBtn : ui->focusAuto_rBtn)->setChecked(true);
    ui->showFocusFrame_rBtn->setChecked(savedFocusFrame_);
    ui->clickFocus_rBtn->setChecked(savedClickFocus_);
    focusRegionSuspension_ = 0;
}

void CamSettings::setExpModeUI(int mode)
{
    if (mode == ExposureAuto)
        ui->expAuto_rBtn->setChecked(true);
    else if (mode == ExposureManual)
        ui->expManual_rBtn->setChecked(true);
}

void CamSettings::setFocusModeUI(int mode)
{
    if (mode == FocusAuto)
        ui->focusAuto_rBtn->setChecked(true);
    else if (mode == FocusManual)
        ui->focusManual_rBtn->setChecked(true);
    else if (mode == FocusOnce)
        ui->focusOnce_rBtn->setChecked(true);
}

void CamSettings::setWbModeUI(int mode)
{
    if (mode == WbAuto)
        ui->wBAuto_rBtn->setChecked(true);
    else if (mode == WbManual)
        ui->wBManual_rBtn->setChecked(true);
}

int CamSettings::focusModeUI() const
{
    if (ui->focusAuto_rBtn->isChecked())
        return FocusAuto;
    if (ui->focusManual_rBtn->isChecked())
        return FocusManual;
    return ui->focusOnce_rBtn->isChecked() ? FocusOnce : 0;
}

int CamSettings::expModeUI() const
{
    if (ui->expAuto_rBtn->isChecked())
        return ExposureAuto;
    return ui->expManual_rBtn->isChecked() ? ExposureManual : 0;
}

int CamSettings::wbModeUI() const
{
    if (ui->wBAuto_rBtn->isChecked())
        return WbAuto;
    return ui->wBManual_rBtn->isChecked() ? WbManual : 0;
}

void CamSettings::setFocusValueUI(int value)
{
    if (ui->focusManual_rBtn->isChecked())
        ui->focusValue_horizontalSlider->setValue(value);
}

void CamSettings::retranslate()
{
    ui->retranslateUi(this);
    unlockDialog_->retranslate();
    upgrade_->retranslate();
    ipDialog_->retranslate();
}

void CamSettings::on_focus_tBtn_clicked()
{
    ui->focusSettings_widget->setVisible(ui->focusSettings_widget->isHidden());
}

void CamSettings::on_exp_tBtn_clicked()
{
    ui->expSettings_widget->setVisible(ui->expSettings_widget->isHidden());
}

void CamSettings::on_wB_tBtn_clicked()
{
    ui->wBSettings_widget->setVisible(ui->wBSettings_widget->isHidden());
}

void CamSettings::on_func_tBtn_clicked()
{
    ui->func_widget->setVisible(ui->func_widget->isHidden());
}

// ---------------------------------------------------------------- advanced tab lock

void CamSettings::onTabWidgetClicked(int index)
{
    if (widget(index) == ui->advancedSettings_tab && !advancedUnlocked_)
        advancedUnlocked_ = unlockDialog_->exec() == QDialog::Accepted;
}

void CamSettings::on_CamSettings_currentChanged(int index)
{
    // The tab bar reports a click before it changes the tab: after a refused
    // or cancelled unlock, the advanced tab it then shows is taken back.
    if (widget(index) == ui->advancedSettings_tab && !advancedUnlocked_)
        setCurrentWidget(ui->basicSettings_tab);
}

void CamSettings::onShowProduceTestDialog()
{
    if (!camera_)
        return;
    if (!produceTestDialog_) {
        produceTestDialog_ = new ProduceTestDialog;
        connectProduceTestDialog();
    }
    produceTestDialog_->prepareFor(cameraKey_);
    produceTestDialog_->show();
    produceTestDialog_->raise();
}

// ---------------------------------------------------------------- firmware upgrade

void CamSettings::on_cameraUpgrade_btn_clicked()
{
    upgrade_->runDialog();
}

void CamSettings::doUpgrade(QString filePath)
{
    upgrade_->doUpgrade(filePath);
}

UpgradeTarget CamSettings::upgradeTarget() const
{
    UpgradeTarget target;
    target.cameraOpen = !openCameras_.isEmpty();
    for (const CameraTypeAndName &open : openCameras_)
        target.networkCamera = target.networkCamera || open.first == CameraNetwork;
    target.cameraName = camera_ ? cameraKey_ : QString();
    for (int i = 0; i < ui->camera_comboBox->count(); ++i)
        target.listedDevices << itemDevice(i).second;
    return target;
}

bool CamSettings::hasUsbUpgradeDevice() const
{
    return upgrade_->hasUsbUpgradeDevice(upgradeTarget().listedDevices);
}

void CamSettings::onRecvCameraUpgradeStatus(QString status, double percentage)
{
    upgrade_->onRecvCameraUpgradeStatus(status, percentage);
}

// ---------------------------------------------------------------- storing

void CamSettings::store(const char *column, const QVariant &value)
{
    if (camera_)
        CameraDatabase::instance().saveCameraProperty(cameraKey_, QString::fromLatin1(column), value);
}

template <typename Value>
void CamSettings::sendAndStore(void (CamSettings::*signal)(Value), const char *column, Value value)
{
    if (!camera_)
        return;
    if (sendsToCamera())
        emit(this->*signal)(value);
    store(column, int(value));
}

void CamSettings::storeZoom()
{
    // The camera continues its single zoom value past the optical range into
    // digital zoom; the stored value is that sum, which the camera splits
    // again when it is next brought up.
    store("Zoom", ui->zoom_horizontalSlider->value() + ui->digitalZoom_horizontalSlider->value());
}

// ---------------------------------------------------------------- focus

void CamSettings::applyFocusRule(FocusMode mode)
{
    const bool regionShown = !ui->focusRegion_label->isHidden();
    const auto setManualEnabled = [this](bool enabled) {
        setPairEnabled(ui->focusValue_horizontalSlider, ui->focusValue_spinBox, enabled);
        ui->focusAdd_btn->setEnabled(enabled);
        ui->focusSub_btn->setEnabled(enabled);
    };
    if (mode == FocusAuto) {
        setManualEnabled(false);
        ui->focusOnce_btn->setEnabled(false);
        if (regionShown && !ui->focusSettings_widget->isHidden()) {
            ui->focusRegionArea_comboBox->setEnabled(true);
            for (QRadioButton *button : {ui->showFocusFrame_rBtn, ui->clickFocus_rBtn}) {
                button->setEnabled(true);
                button->setChecked(true);
            }
        }
        return;
    }
    setManualEnabled(mode == FocusManual);
    ui->focusOnce_btn->setEnabled(mode == FocusOnce);
    if (regionShown) {
        ui->focusRegionArea_comboBox->setEnabled(false);
        for (QRadioButton *button : {ui->showFocusFrame_rBtn, ui->clickFocus_rBtn}) {
            button->setChecked(false);
            button->setEnabled(false);
        }
    }
}

void CamSettings::focusModeChosen(FocusMode mode)
{
    if (!camera_)
        return;
    if (sendsToCamera())
        emit setCameraFocusMode(mode);
    applyFocusRule(mode);
    store("focusMode", int(mode));
}

void CamSettings::on_focusAuto_rBtn_toggled(bool checked)
{
    if (checked)
        focusModeChosen(FocusAuto);
}

void CamSettings::on_focusManual_rBtn_toggled(bool checked)
{
    if (checked)
        focusModeChosen(FocusManual);
}

void CamSettings::on_focusOnce_rBtn_toggled(bool checked)
{
    if (checked)
        focusModeChosen(FocusOnce);
}

void CamSettings::on_focusValue_horizontalSlider_valueChanged(int value)
{
    sendAndStore(&CamSettings::setCameraFocusValue, "focusValue", value);
}

void CamSettings::on_focusAdd_btn_clicked()
{
    emit setCameraFocusAdd();
}

void CamSettings::on_focusSub_btn_clicked()
{
    emit setCameraFocusSub();
}

void CamSettings::on_focusOnce_btn_clicked()
{
    emit setCameraFocusOnce();
}

void CamSettings::on_montorCenter_btn_clicked()
{
    if (!camera_)
        return;
    emit setCameraMotorCenter();
    {
        // The camera switches to manual focus itself.
        const QSignalBlocker blocker(ui->focusManual_rBtn);
        ui->focusManual_rBtn->setChecked(true);
    }
    applyFocusRule(FocusManual);
    store("focusMode", int(FocusManual));
}

void CamSettings::on_clickFocus_rBtn_toggled(bool checked)
{
    if (sendsUnchecked())
        emit setCameraFocusRegionStatus(checked);
    emit focusRegionChanged(checked, false, ui->showFocusFrame_rBtn->isChecked(), false);
}

void CamSettings::on_showFocusFrame_rBtn_toggled(bool checked)
{
    emit focusRegionChanged(ui->clickFocus_rBtn->isChecked(), false, checked, false);
}

void CamSettings::onSetFocusRegion(int x, int y)
{
    ui->focusRegionX_horizontalSlider->setValue(x);
    ui->focusRegionY_horizontalSlider->setValue(y);
    emit setCameraFocusRegion(x, y);
}

void CamSettings::onIncreaseOrDecreaseFoucs(bool increase)
{
    if (!ui->focusManual_rBtn->isChecked())
        return;
    QSlider *slider = ui->focusValue_horizontalSlider;
    if (slider->isHidden()) {
        if (increase)
            emit setCameraFocusAdd();
        else
            emit setCameraFocusSub();
        return;
    }
    slider->setValue(slider->value() + (increase ? slider->singleStep() : -slider->singleStep()));
}

// ---------------------------------------------------------------- exposure and white balance

void CamSettings::on_expAuto_rBtn_toggled(bool checked)
{
    if (!checked || !camera_)
        return;
    if (sendsToCamera())
        emit setCameraExpMode(ExposureAuto);
    setPairEnabled(ui->brightness_horizontalSlider, ui->brightness_spinBox, true);
    setPairEnabled(ui->gain_horizontalSlider, ui->gain_spinBox, false);
    setPairEnabled(ui->shutter_horizontalSlider, ui->shutter_spinBox, false);
    store("exposureMode", int(ExposureAuto));
}

void CamSettings::on_expManual_rBtn_toggled(bool checked)
{
    if (!checked || !camera_)
        return;
    if (sendsToCamera())
        emit setCameraExpMode(ExposureManual);
    setPairEnabled(ui->brightness_horizontalSlider, ui->brightness_spinBox, false);
    setPairEnabled(ui->gain_horizontalSlider, ui->gain_spinBox, true);
    setPairEnabled(ui->shutter_horizontalSlider, ui->shutter_spinBox, true);
    store("exposureMode", int(ExposureManual));
}

void CamSettings::on_brightness_horizontalSlider_valueChanged(int value)
{
    sendAndStore(&CamSettings::setCameraExpCompValue, "exposureCompensation", value);
}

void CamSettings::on_shutter_horizontalSlider_valueChanged(int value)
{
    sendAndStore(&CamSettings::setCameraExpTime, "exposureTime", value);
}

void CamSettings::on_gain_horizontalSlider_valueChanged(int value)
{
    sendAndStore(&CamSettings::setCameraExpGainValue, "exposureGain", value);
}

void CamSettings::on_wBAuto_rBtn_toggled(bool checked)
{
    if (!checked || !camera_)
        return;
    if (sendsToCamera())
        emit setCameraWbMode(WbAuto);
    for (const auto &pair : {std::make_pair(ui->wBRed_horizontalSlider, ui->wBRed_spinBox),
                             std::make_pair(ui->wBGreen_horizontalSlider, ui->wBGreen_spinBox),
                             std::make_pair(ui->wBBlue_horizontalSlider, ui->wBBlue_spinBox)})
        setPairEnabled(pair.first, pair.second, false);
    store("whiteBalanceMode", int(WbAuto));
}

void CamSettings::on_wBManual_rBtn_toggled(bool checked)
{
    if (!checked || !camera_)
        return;
    if (sendsToCamera())
        emit setCameraWbMode(WbManual);
    for (const auto &pair : {std::make_pair(ui->wBRed_horizontalSlider, ui->wBRed_spinBox),
                             std::make_pair(ui->wBGreen_horizontalSlider, ui->wBGreen_spinBox),
                             std::make_pair(ui->wBBlue_horizontalSlider, ui->wBBlue_spinBox)})
        setPairEnabled(pair.first, pair.second, true);
    store("whiteBalanceMode", int(WbManual));
}

void CamSettings::on_wBRed_horizontalSlider_valueChanged(int value)
{
    sendAndStore(&CamSettings::setCameraWbRedValue, "whiteBalanceR", value);
}

void CamSettings::on_wBGreen_horizontalSlider_valueChanged(int value)
{
    sendAndStore(&CamSettings::setCameraWbGreenValue, "whiteBalanceG", value);
}

void CamSettings::on_wBBlue_horizontalSlider_valueChanged(int value)
{
    sendAndStore(&CamSettings::setCameraWbBlueValue, "whiteBalanceB", value);
}

void CamSettings::on_wBOnce_btn_clicked()
{
    ui->wBManual_rBtn->setChecked(true);
    emit setCameraWhiteBalanceOnce();
}

// ---------------------------------------------------------------- picture

void CamSettings::on_hue_horizontalSlider_valueChanged(int value)
{
    sendAndStore(&CamSettings::setCameraHueValue, "hueValue", value);
}

void CamSettings::on_saturation_horizontalSlider_valueChanged(int value)
{
    if (!camera_)
        return;
    if (sendsToCamera())
        emit setCameraSaturationValue(value);
    if (value >= 0) {
        // Saturation 0 is what the camera calls monochrome: the colour-mode
        // radios follow without a colour-mode request of their own.
        const QSignalBlocker rgbBlocker(ui->colorModeRGB_rBtn);
        const QSignalBlocker monoBlocker(ui->colorModeMono_rBtn);
        (value > 0 ? ui->colorModeRGB_rBtn : ui->colorModeMono_rBtn)->setChecked(true);
    }
    store("saturationValue", value);
}

void CamSettings::on_contrast_horizontalSlider_valueChanged(int value)
{
    sendAndStore(&CamSettings::setCameraContrastValue, "contrastValue", value);
}

void CamSettings::on_sharpness_horizontalSlider_valueChanged(int value)
{
    sendAndStore(&CamSettings::setCameraSharpnessValue, "sharpnessValue", value);
}

void CamSettings::on_gamma_horizontalSlider_valueChanged(int value)
{
    sendAndStore(&CamSettings::setCameraGammaValue, "HDRValue", value);
}

void CamSettings::on_colorModeRGB_rBtn_toggled(bool checked)
{
    if (checked && sendsToCamera())
        emit setCameraMonoChromeStatus(false);
}

void CamSettings::on_colorModeMono_rBtn_toggled(bool checked)
{
    if (checked && sendsToCamera())
        emit setCameraMonoChromeStatus(true);
}

void CamSettings::on_zoom_horizontalSlider_valueChanged(int value)
{
    const bool atMaximum = value == ui->zoom_horizontalSlider->maximum();
    setPairEnabled(ui->digitalZoom_horizontalSlider, ui->digitalZoom_spinBox, atMaximum);
    if (!atMaximum)
        ui->digitalZoom_horizontalSlider->setValue(0);
    {
        const QSignalBlocker blocker(ui->zoom_spinBox);
        ui->zoom_spinBox->setValue(zoomFactor(value));
    }
    if (!camera_)
        return;
    if (sendsToCamera())
        emit setCameraZoomValue(value);
    storeZoom();
}

void CamSettings::on_zoom_spinBox_valueChanged(double value)
{
    ui->zoom_horizontalSlider->setValue(zoomPosition(value));
}

void CamSettings::on_digitalZoom_horizontalSlider_valueChanged(int value)
{
    {
        const QSignalBlocker blocker(ui->digitalZoom_spinBox);
        ui->digitalZoom_spinBox->setValue(digitalZoomFactor(value));
    }
    if (!camera_)
        return;
    if (sendsToCamera())
        emit setCameraDZoomValue(value);
    storeZoom();
}

void CamSettings::on_digitalZoom_spinBox_valueChanged(double value)
{
    ui->digitalZoom_horizontalSlider->setValue(digitalZoomPosition(value));
}

void CamSettings::onIncreaseOrDecreaseZoom(bool increase)
{
    QSlider *digital = ui->digitalZoom_horizontalSlider;
    QSlider *zoom = ui->zoom_horizontalSlider;
    if (increase) {
        QSlider *slider = digital->isEnabled() ? digital : zoom;
        slider->setValue(slider->value() + slider->singleStep());
        return;
    }
    QSlider *slider = digital->isEnabled() && digital->value() > digital->minimum() ? digital : zoom;
    slider->setValue(slider->value() - slider->singleStep());
}

void CamSettings::on_horizontalFlip_rBtn_toggled(bool checked)
{
    sendAndStore(&CamSettings::setCameraMirrorStatus, "mirror", checked);
}

void CamSettings::on_verticalFlip_rBtn_toggled(bool checked)
{
    sendAndStore(&CamSettings::setCameraFlipStatus, "flip", checked);
}

void CamSettings::on_activeDefog_rBtn_toggled(bool checked)
{
    sendAndStore(&CamSettings::setCameraDefogStatus, "defogMode", checked);
}

void CamSettings::on_pLF50Hz_rBtn_toggled(bool checked)
{
    if (!checked || !camera_)
        return;
    if (sendsToCamera())
        emit setCameraFlickStatus(true);
    setFpsListforCurRes(false);
    applyCaptureSettings();
    store("frameMode", 1);
}

void CamSettings::on_pLF60Hz_rBtn_toggled(bool checked)
{
    if (!checked || !camera_)
        return;
    if (sendsToCamera())
        emit setCameraFlickStatus(false);
    setFpsListforCurRes(false);
    applyCaptureSettings();
    store("frameMode", 0);
}

// ---------------------------------------------------------------- stream

void CamSettings::on_format_comboBox_currentIndexChanged(int index)
{
    if (!playThread_ || !camera_ || index < 0)
        return;
    logLine() << "on_format_comboBox_currentIndexChanged: " << index;
    const int format = ui->format_comboBox->itemData(index).toInt();
    store("decodeWay", format);
    if (refreshResolutionLists(format))
        applyCaptureSettings();
}

void CamSettings::on_previewRes_comboBox_currentTextChanged(const QString &text)
{
    if (text.isEmpty() || !playThread_ || !camera_)
        return;
    logLine() << "on_previewRes_comboBox_currentTextChanged: " << text;
    setFpsListforCurRes(true);
    applyCaptureSettings();
    store("resolution", text);
}

void CamSettings::on_photoRes_comboBox_currentTextChanged(const QString &text)
{
    if (text.isEmpty() || !camera_)
        return;
    store("pictureResolution", text);
}

void CamSettings::on_fps_comboBox_currentTextChanged(const QString &text)
{
    if (text.isEmpty() || !playThread_ || !camera_)
        return;
    const int rate = text.toInt();
    if (areaOf(parseResolution(ui->previewRes_comboBox->currentText())) <= kFullHdArea)
        lowResFps_ = rate;
    else
        highResFps_ = rate;
    applyCaptureSettings();
    store("fps", rate);
}

void CamSettings::setFpsListforCurRes(bool refill)
{
    // Only network cameras tie their rates to the resolution and the mains frequency.
    if (!camera_ || !cameraKey_.contains(QLatin1String("IPC")))
        return;
    logLine() << "setFpsListforCurRes " << refill;
    QComboBox *combo = ui->fps_comboBox;
    int wanted = combo->currentText().toInt();
    const bool low = areaOf(parseResolution(ui->previewRes_comboBox->currentText())) <= kFullHdArea;
    if (refill) {
        {
            const QSignalBlocker blocker(combo);
            combo->clear();
            for (int rate : low ? camera_->lowResFrameRates() : camera_->highResFrameRates())
                combo->addItem(QString::number(rate));
        }
        if (low && lowResFps_ >= 1)
            wanted = lowResFps_;
        else if (!low && highResFps_ > 0)
            wanted = highResFps_;
    }
    // At 50 Hz mains the rate that beats with the lamps is offered but not selectable.
    const bool fiftyHertz = ui->pLF50Hz_rBtn->isChecked();
    const int beating = findExactText(combo, QLatin1String(low ? "60" : "30"));
    if (beating >= 0)
        setItemEnabled(combo, beating, !fiftyHertz);
    if (cameraKey_.contains(QLatin1String("W640")) || cameraKey_.contains(QLatin1String("E540"))) {
        const int thirty = findExactText(combo, QStringLiteral("30"));
        if (thirty >= 0)
            setItemEnabled(combo, thirty, !fiftyHertz);
    }
    setCurFps(wanted, false);
}

void CamSettings::setCurFps(int fps, bool blockSignals)
{
    logLine() << "setCurFps " << fps;
    QComboBox *combo = ui->fps_comboBox;
    std::optional<QSignalBlocker> blocker;
    if (blockSignals)
        blocker.emplace(combo);
    const int found = findExactText(combo, QString::number(fps));
    if (found >= 0 && combo->currentIndex() >= 0 && isItemEnabled(combo, found)) {
        combo->setCurrentIndex(found);
    } else {
        int chosen = -1;
        for (int i = combo->count() - 1; i >= 0 && chosen < 0; --i)
            if (isItemEnabled(combo, i) && combo->itemText(i).toInt() <= fps)
                chosen = i;
        for (int i = 0; i < combo->count() && chosen < 0; ++i)
            if (isItemEnabled(combo, i))
                chosen = i;
        if (chosen >= 0)
            combo->setCurrentIndex(chosen);
    }
    blocker.reset();
    if (!combo->currentText().isEmpty())
        store("fps", combo->currentText().toInt());
}

// ---------------------------------------------------------------- commands

void CamSettings::on_changeIP_btn_clicked()
{
    emit getCameraIpInfo();
}

void CamSettings::on_basicSettingsAllReset_btn_clicked()
{
    emit resetCameraBasicSettings();
}

void CamSettings::on_advancedSettingsAllReset_btn_clicked()
{
    emit resetCameraAdvancedSettings();
}

// ---------------------------------------------------------------- camera notifications

void CamSettings::onRecvCameraFocusMode(FocusMode mode)
{
    const CameraReport report(this);
    setFocusModeUI(mode);
}

void CamSettings::onRecvCameraFocusValue(int value)
{
    const CameraReport report(this);
    ui->focusValue_horizontalSlider->setValue(value);
}

void CamSettings::onRecvCameraExpMode(ExposureMode mode)
{
    const CameraReport report(this);
    setExpModeUI(mode);
}

void CamSettings::onRecvCameraExpCompValue(int value)
{
    const CameraReport report(this);
    ui->brightness_horizontalSlider->setValue(value);
}

void CamSettings::onRecvCameraExpGainValue(int value)
{
    const CameraReport report(this);
    ui->gain_horizontalSlider->setValue(value);
}

void CamSettings::onRecvCameraExpTime(int time)
{
    const CameraReport report(this);
    ui->shutter_horizontalSlider->setValue(time);
}

void CamSettings::onRecvCameraIpInfo(IpInfo info)
{
    if (ipDialog_->isVisible()) {
        ipDialog_->raise();
        return;
    }
    ipDialog_->setIpInfo(info);
    ipDialog_->exec();
}

void CamSettings::onRecvCameraFocusRegionStatus(bool enable)
{
    qDebug() << "onRecvCameraFocusRegionStatus:" << enable;
}

void CamSettings::onRecvCameraFocusRegion(int x, int y)
{
    const CameraReport report(this);
    ui->focusRegionX_horizontalSlider->setValue(x);
    ui->focusRegionY_horizontalSlider->setValue(y);
    emit setFocusRegionUI(x, y);
}

void CamSettings::onRecvCameraWbMode(WbMode mode)
{
    const CameraReport report(this);
    setWbModeUI(mode);
}

void CamSettings::onRecvCameraWbRedValue(int value)
{
    const CameraReport report(this);
    ui->wBRed_horizontalSlider->setValue(value);
}

void CamSettings::onRecvCameraWbGreenValue(int value)
{
    const CameraReport report(this);
    ui->wBGreen_horizontalSlider->setValue(value);
}

void CamSettings::onRecvCameraWbBlueValue(int value)
{
    const CameraReport report(this);
    ui->wBBlue_horizontalSlider->setValue(value);
}

void CamSettings::onRecvCameraMirrorStatus(bool enable)
{
    const CameraReport report(this);
    ui->horizontalFlip_rBtn->setChecked(enable);
}

void CamSettings::onRecvCameraFlipStatus(bool enable)
{
    const CameraReport report(this);
    ui->verticalFlip_rBtn->setChecked(enable);
}

void CamSettings::onRecvCameraHueValue(int value)
{
    const CameraReport report(this);
    ui->hue_horizontalSlider->setValue(value);
}

void CamSettings::onRecvCameraSaturationValue(int value)
{
    const CameraReport report(this);
    ui->saturation_horizontalSlider->setValue(value);
}

void CamSettings::onRecvCameraContrastValue(int value)
{
    const CameraReport report(this);
    ui->contrast_horizontalSlider->setValue(value);
}

void CamSettings::onRecvCameraSharpnessValue(int value)
{
    const CameraReport report(this);
    ui->sharpness_horizontalSlider->setValue(value);
}

void CamSettings::onRecvCameraDZoomValue(int value)
{
    const CameraReport report(this);
    ui->digitalZoom_horizontalSlider->setValue(value);
}

void CamSettings::onRecvCameraZoomValue(int value)
{
    const CameraReport report(this);
    ui->zoom_horizontalSlider->setValue(value);
}

void CamSettings::onRecvCameraDefogStatus(bool enable)
{
    const CameraReport report(this);
    ui->activeDefog_rBtn->setChecked(enable);
}

void CamSettings::onRecvCameraGammaValue(int value)
{
    const CameraReport report(this);
    ui->gamma_horizontalSlider->setValue(value);
}

void CamSettings::onRecvCameraMonoChromeStatus(bool enable)
{
    const CameraReport report(this);
    (enable ? ui->colorModeMono_rBtn : ui->colorModeRGB_rBtn)->setChecked(true);
}

void CamSettings::onRecvCameraFlickStatus(bool enable)
{
    const CameraReport report(this);
    (enable ? ui->pLF50Hz_rBtn : ui->pLF60Hz_rBtn)->setChecked(true);
}

void CamSettings::onRecvCameraDisplayMode(DisplayMode)
{
    // No control of the panel shows the display mode.
}
