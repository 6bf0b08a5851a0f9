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

// ---------------------------------------------------------------- storing

void CamSettings::store(const char *column, const QVariant &value)
{
    if (!camera_)
        return;
    const bool startValue = fillingControls_ || (reportDepth_ > 0 && startingCamera_);
    if (!heldRow_) {
        if (!startValue)
            CameraDatabase::instance().saveCameraProperty(cameraKey_, QString::fromLatin1(column), value);
        return;
    }
    // The stored row held values the camera does not allow (or could not be
    // read): it stays as it is while the panel fills itself and the camera
    // reports, and the first change the user makes writes every column anew.
    heldRow_->set(QString::fromLatin1(column), value);
    if (fillingControls_ || reportDepth_ > 0)
        return;
    CameraDatabase::instance().replaceRow(CameraDatabase::lookupKey(cameraKey_), *heldRow_);
    heldRow_.reset();
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
    // While a drawing mode holds manual focus, the stored mode stays the one
    // chosen before it.
    if (focusRegionSuspension_ <= 0)
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
    // The camera reports where its autofocus left the lens when a drawing
    // mode forces manual focus: shown, but not the user's manual value.
    if (reportDepth_ > 0 && isManualFocusForced())
        return;
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
