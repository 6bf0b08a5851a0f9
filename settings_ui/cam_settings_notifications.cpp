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
