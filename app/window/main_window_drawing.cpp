// Drawing modes, drawing properties, units and calibration handed to every
// view; the zoom box and buttons; the property dialogs of shapes and cross
// lines; the tabs of stitching and focus-fusion results.
#include "main_window.h"

#include "cam_settings.h"
#include "draw_change_dialog.h"
#include "measure_widget.h"
#include "graphics_items.h"
#include "main_scene.h"
#include "ui_mainwindow2.h"
#include "video_widget.h"
#include "zoom_steps.h"

#include <QDebug>
#include <QFileDialog>
#include <QInputDialog>

// ---------------------------------------------------------------- properties

void MainWindow2::DrawChange(DrawProperty id, QVariant value)
{
    // Sizes go as chosen: each view's scene draws them at two picture pixels
    // a step, so they follow the zoom of that view, live or picture.
    for (VideoWidget *view : views())
        view->setDrawProperty(id, value);
    drawProperties.insert(id, value);
}

void MainWindow2::calibrateChange(double value, int pictureWidth)
{
    calibration = value;
    // It holds for pictures of the width it was measured at, and for other
    // widths of the same field in proportion. A calibration that does not
    // know its width holds for the width the live picture has now.
    calibrationWidth = pictureWidth > 0 ? pictureWidth : liveFrameWidth;
    for (VideoWidget *view : views())
        view->setCalibration(viewCalibration(view));
}

double MainWindow2::viewCalibration(const VideoWidget *view) const
{
    if (view != liveView_ || calibrationWidth <= 0 || liveFrameWidth <= 0)
        return calibration;
    return calibration * calibrationWidth / liveFrameWidth;
}

void MainWindow2::setLiveFrameWidth(int width)
{
    if (width == liveFrameWidth || width <= 0)
        return;
    liveFrameWidth = width;
    // A calibration chosen before the first frame holds for the first width.
    if (calibrationWidth <= 0)
        calibrationWidth = width;
    liveView_->setCalibration(viewCalibration(liveView_));
}

void MainWindow2::caliOver(double pixels)
{
    VideoWidget *view = currentView();
    // The width of the pictures the length is in: the live frame's or the
    // picture's; 0 when not known (no frame size yet).
    int pictureWidth = 0;
    if (view && !view->isLive()) {
        // A picture tab's scene is in picture pixels; a stitched picture's
        // are those of the frames it was made of, not of the whole mosaic.
        pictureWidth = qMax(0, view->pixelWidth());
    } else if (view) {
        // The scene measures in view pixels; the calibration is per frame pixel.
        const int frameWidth = playThread_ ? playThread_->captureSettings().width : 0;
        const double areaWidth = view->videoAreaWidth();
        if (frameWidth > 0 && areaWidth > 0) {
            pixels = pixels * frameWidth / areaWidth;
            pictureWidth = frameWidth;
        } else {
            qWarning() << "Calibration length left in view pixels: frame width" << frameWidth << "area width"
                       << areaWidth;
        }
    }
    measurePage->onCaliOver(pixels, pictureWidth);
}

void MainWindow2::slotUnitChange(QString text)
{
    static const QMap<QString, int> codes = {
        {QStringLiteral("pix"), 1}, {QStringLiteral("um"), 4}, {QStringLiteral("mm"), 3}, {QStringLiteral("mil"), 5}};
    unitCode = codes.value(text, unitCode);
    for (VideoWidget *view : views())
        view->setUnit(unitCode);
}

// ---------------------------------------------------------------- modes

void MainWindow2::slotSetDrawMode(DrawType type)
{
    if (type == DrawType::Cross) {
        for (VideoWidget *view : views()) {
            view->setCrossVisible(!view->isCrossVisible());
            view->setCrossHorizontalCount(1);
            view->setCrossVerticalCount(1);
        }
        return;
    }
    if (playThread_)
        camSettings->saveFocusRegionState();
    for (VideoWidget *view : views())
        view->setDrawMode(type);
    drawType = type;
    if (type == DrawType::Hand)
        ui->hand_btn->setChecked(true);
}

void MainWindow2::clearDrawType()
{
    for (VideoWidget *view : views())
        view->setDrawMode(DrawType::Hand);
    ui->hand_btn->setChecked(true);
    slotSetDrawMode(DrawType::Hand);
    emit signalClearDrawType();
}

void MainWindow2::on_hand_btn_clicked()
{
    ui->hand_btn->setChecked(true);
    slotSetDrawMode(DrawType::Hand);
}

void MainWindow2::on_track_btn_clicked()
{
    slotSetDrawMode(DrawType::Track);
}

void MainWindow2::on_AF_btn_clicked(bool on)
{
    ui->AF_btn->setChecked(on);
    slotSetDrawMode(DrawType::AutoFocusPoint);
    camSettings->restoreFocusRegionState();
}

void MainWindow2::slotEdgeEnable(bool enabled)
{
    // Snapping changes how the chosen tool takes its points, not the tool:
    // the shape in progress and the pressed tool button stay as they are.
    for (VideoWidget *view : views())
        view->setEdgeEnable(enabled);
}

void MainWindow2::slotEnableGridlines(DrawType type, int hLine, int vLine, bool enable)
{
    if (type != DrawType::Cross && type != DrawType::Gridlines)
        return;
    const bool grid = type == DrawType::Gridlines;
    for (VideoWidget *view : views()) {
        view->setGridMode(grid);
        view->setCrossVisible(enable);
        view->setCrossHorizontalCount(grid ? hLine : 1);
        view->setCrossVerticalCount(grid ? vLine : 1);
    }
}

// ---------------------------------------------------------------- export, dialogs

void MainWindow2::slotExportData()
{
    if (ui->video_tabWidget->currentIndex() != 0)
        return;
    VideoWidget *view = currentView();
    if (!view)
        return;
    if (!view->hasMeasurements()) {
        showMessage(QMessageBox::Information, tr("Notice"), tr("current no primitive"));
        return;
    }
    // A name typed without a suffix gets ".csv", before the dialog asks
    // whether to replace an existing file.
    QFileDialog dialog(nullptr, tr("Save"), openedImageFolder, QStringLiteral("*.csv"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().constFirst();
    if (path.isEmpty())
        return;
    if (!view->exportTable(path))
        showMessage(QMessageBox::Warning, tr("Warning"),
                    tr("The measurements could not be saved to %1: %2").arg(path, view->errorString()));
}

void MainWindow2::drawPropertyChanged(void *item)
{
    if (!item)
        return;
    DrawChangeDialog dialog(item, DrawChangeDialog::MeasurementItem, this);
    dialog.exec();
}

void MainWindow2::crossStatusChanged(void *item)
{
    // No item: a line is being moved; its new place is stored with the
    // next save of the lines.
    if (!item) {
        crossChanged = true;
        return;
    }
    // The dialog applies every change at once and has no OK: the lines are
    // saved whichever way it was closed.
    DrawChangeDialog dialog(item, DrawChangeDialog::OverlayLine, this);
    dialog.exec();
    crossChanged = true;
}

void MainWindow2::onCrossChangedTimeOut()
{
    if (!camera_ || !crossChanged)
        return;
    auto *view = qobject_cast<VideoWidget *>(ui->video_tabWidget->widget(0));
    if (!view)
        return;
    crossChanged = false;
    const MainScene *scene = view->measureScene();
    const double scale = scene->scale() > 0 ? scene->scale() : 1.0;
    QList<CrossInfo> lines;
    for (const GraphicsCross *line : scene->lines()) {
        CrossInfo info;
        info.direct = line->direction();
        info.width = line->pen().width();
        info.color = line->pen().color();
        info.pos = line->pos() / scale;
        info.lock = !(line->flags() & QGraphicsItem::ItemIsMovable);
        info.visible = line->isVisible();
        lines.append(info);
    }
    SettingsStore::instance().saveCrossLines(lines);
}

void MainWindow2::ltextEdit()
{
    bool accepted = false;
    const QString text = QInputDialog::getText(nullptr, QString(), tr("Input data"), QLineEdit::Normal, QString(),
                                               &accepted);
    // A cancelled dialog changes nothing, whatever was typed.
    if (!accepted || text.isEmpty())
        return;
    if (VideoWidget *view = currentView())
        view->setLabelText(text);
}

// ---------------------------------------------------------------- wheel and zoom

void MainWindow2::onChangeMouseWheelFunc(KeyFunction function)
{
    wheelFunction = function;
}

void MainWindow2::wheelChanged(bool isAdd)
{
    switch (wheelFunction) {
    case KeyFunction::ZoomVideoWindow:
        if (isAdd)
            on_zoomAdd_btn_clicked();
        else
            on_zoomSub_btn_clicked();
        break;
    case KeyFunction::Focus:
        if (!isPictureTab(ui->video_tabWidget->currentWidget()))
            emit increaseOrDecreaseFoucs(isAdd);
        break;
    case KeyFunction::Zoom:
        if (!isPictureTab(ui->video_tabWidget->currentWidget()))
            emit increaseOrDecreaseZoom(isAdd);
        break;
    }
}

void MainWindow2::setZoomItems(const QList<double> &levels, double current)
{
    const QSignalBlocker blocker(ui->comboBox);
    ui->comboBox->clear();
    for (double level : levels)
        ui->comboBox->addItem(zoomText(level), level);
    const int index = ui->comboBox->findData(current);
    if (index >= 0)
        ui->comboBox->setCurrentIndex(index);
    ui->comboBox->setCurrentText(zoomText(current));
}

void MainWindow2::changeVideoScaleValue(double bestScale, double prevScale, bool isManual)
{
    setZoomItems(zoomLevels(bestScale), isManual ? prevScale : bestScale);
}

void MainWindow2::on_comboBox_currentIndexChanged(int index)
{
    Q_UNUSED(index)
}

void MainWindow2::on_comboBox_currentTextChanged(QString text)
{
    // Half-typed or impossible values change nothing.
    const std::optional<double> percent = parseZoomPercent(text);
    if (!percent)
        return;
    zoomFactor = *percent / 100.0;
    VideoWidget *view = currentView();
    if (!view)
        return;
    if (manualZoom) {
        view->setManualScale(true);
        manualZoom = false;
    }
    view->setScale(zoomFactor);
}

namespace {

QList<double> comboLevels(const QComboBox *combo)
{
    QList<double> levels;
    for (int i = 0; i < combo->count(); ++i)
        levels.append(combo->itemData(i).toDouble());
    return levels;
}

} // namespace

void MainWindow2::on_zoomAdd_btn_clicked()
{
    manualZoom = true;
    const double shown = parseZoomPercent(ui->comboBox->currentText()).value_or(0.0);
    const int index = zoomInIndex(comboLevels(ui->comboBox), ui->comboBox->currentIndex(), shown);
    if (index >= 0)
        ui->comboBox->setCurrentIndex(index);
}

void MainWindow2::on_zoomSub_btn_clicked()
{
    manualZoom = true;
    const double shown = parseZoomPercent(ui->comboBox->currentText()).value_or(0.0);
    const int index = zoomOutIndex(comboLevels(ui->comboBox), ui->comboBox->currentIndex(), shown);
    if (index >= 0)
        ui->comboBox->setCurrentIndex(index);
}

// ---------------------------------------------------------------- stitching and fusion results

void MainWindow2::onShowStitchDstPix(QPixmap pix, bool newWindow, int frameWidth)
{
    if (newWindow) {
        stitchView = new VideoWidget(ui->video_tabWidget, false);
        attachVideoWidget(stitchView, QString(), false);
    }
    if (stitchView)
        stitchView->setPicture(pix, frameWidth);
}

void MainWindow2::onShowFusionDstPix(QPixmap pix, bool newWindow)
{
    if (newWindow) {
        fusionView = new VideoWidget(ui->video_tabWidget, false);
        attachVideoWidget(fusionView, QString(), false);
    }
    if (fusionView)
        fusionView->setPicture(pix);
}

void MainWindow2::onSetModeForStitch(bool start)
{
    if (!start)
        return;
    camSettings->setFocusModeUI(FocusManual);
    camSettings->setExpModeUI(ExposureManual);
    camSettings->setWbModeUI(WbManual);
}
