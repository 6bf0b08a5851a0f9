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
        savedFocusMode_ = focusModeUI();
        savedFocusFrame_ = ui->showFocusFrame_rBtn->isChecked();
        savedClickFocus_ = ui->clickFocus_rBtn->isChecked();
    }
    // Suspended first: the manual focus forced here is no choice of the user's.
    focusRegionSuspension_ = 1;
    if (!ui->focusManual_rBtn->isChecked())
        ui->focusManual_rBtn->setChecked(true);
    if (ui->showFocusFrame_rBtn->isChecked())
        ui->showFocusFrame_rBtn->setChecked(false);
    if (ui->clickFocus_rBtn->isChecked())
        ui->clickFocus_rBtn->setChecked(false);
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
    setFocusModeUI(savedFocusMode_ != 0 ? savedFocusMode_ : int(FocusAuto));
    ui->showFocusFrame_rBtn->setChecked(savedFocusFrame_);
    ui->clickFocus_rBtn->setChecked(savedClickFocus_);
    focusRegionSuspension_ = 0;
}

bool CamSettings::isManualFocusForced() const
{
    return focusRegionSuspension_ > 0 && savedFocusMode_ != FocusManual;
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
