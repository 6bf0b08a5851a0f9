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

#include "cam_settings_helpers.h"

using namespace cam_settings_detail;


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
    heldRow_.reset();
    startingCamera_ = false;
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
    heldRow_.reset();
    if (camera_) {
        const StoredRowReport stored = camera_->storedRowReport();
        if (stored.needsRewrite() && stored.key == CameraDatabase::lookupKey(cameraKey_))
            heldRow_ = stored.row;
    }
    // The camera's start: what the panel fills in and what the camera then
    // reports of its own set-up are the stored row or the camera's own
    // values, none of them a change of the user's, so none is stored.
    const int start = ++startCount_;
    startingCamera_ = !camera_.isNull();
    showAllControls();
    fillingControls_ = true;
    fillControlsFromParameters(*params);
    setFpsListforCurRes(false);
    fillingControls_ = false;
    if (!camera_)
        return;
    // The camera takes the record on its own thread, where its slots run; the
    // values it pushes to the device come back through its send signals,
    // queued to this thread ahead of the end of the start.
    const QWeakPointer<BaseCamera> weak = camera_;
    const QPointer<CamSettings> panel = this;
    const CameraParameters record = *params;
    QMetaObject::invokeMethod(
        camera_.data(),
        [weak, panel, record, start] {
            if (const QSharedPointer<BaseCamera> camera = weak.toStrongRef())
                camera->initSettingsPanel(record, 0, false);
            // The window stops this thread before it deletes the panel.
            if (panel)
                QMetaObject::invokeMethod(
                    panel.data(),
                    [panel, start] {
                        if (panel && panel->startCount_ == start)
                            panel->startingCamera_ = false;
                    },
                    Qt::QueuedConnection);
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

    // Every list handed in here is a whole poll, the USB probe and the
    // network cameras both answered: the camera to open is known now, and
    // waiting longer only delays the first picture.
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
        // Its IP settings go with it, before the close is told: an Ok could
        // no longer reach it.
        if (ipDialog_->isVisible())
            ipDialog_->reject();
    }
    resetControlsToDefaults();
    emit closeCam(cameraName, reason);
    // After the close has gone out: a network upgrade that can no longer be
    // followed says so in a box of its own.
    if (bound)
        upgrade_->cameraClosed();
}
