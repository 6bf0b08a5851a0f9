#include "measure_widget.h"

#include "calibration_combo_box.h"
#include "calibration_widget.h"
#include "common_tool_set_dialog.h"
#include "line_width_combobox.h"
#include "offered_lists.h"
#include "swatch.h"
#include "ui_measurewidget.h"

#include <QColorDialog>
#include <QMessageBox>
#include <QTabBar>

#include <algorithm>
#include <cmath>

namespace {

struct Tool {
    const char *name;
    DrawType type;
    const char *toolTip;
};

const Tool kTools[] = {
    {"drawLine", DrawType::Line, QT_TRANSLATE_NOOP("MeasureWidget", "Line")},
    {"drawHLine", DrawType::HLine, QT_TRANSLATE_NOOP("MeasureWidget", "HLine")},
    {"drawVLine", DrawType::VLine, QT_TRANSLATE_NOOP("MeasureWidget", "VLine")},
    {"drawPar", DrawType::Par, QT_TRANSLATE_NOOP("MeasureWidget", "ParLine")},
    {"drawVer", DrawType::Ver, QT_TRANSLATE_NOOP("MeasureWidget", "VerLine")},
    {"drawTwoCircle", DrawType::TCir, QT_TRANSLATE_NOOP("MeasureWidget", "TwoCircle")},
    {"drawLineCircle", DrawType::LCir, QT_TRANSLATE_NOOP("MeasureWidget", "LineCircle")},
    {"drawRect", DrawType::Rect, QT_TRANSLATE_NOOP("MeasureWidget", "Rect")},
    {"drawPoly", DrawType::Poly, QT_TRANSLATE_NOOP("MeasureWidget", "Poly")},
    {"drawCircle", DrawType::Cir, QT_TRANSLATE_NOOP("MeasureWidget", "Circle")},
    {"drawArc", DrawType::Arc, QT_TRANSLATE_NOOP("MeasureWidget", "Arc")},
    {"drawAng", DrawType::Ang, QT_TRANSLATE_NOOP("MeasureWidget", "Ang")},
    {"drawThreeAng", DrawType::ThreeAng, QT_TRANSLATE_NOOP("MeasureWidget", "Angle")},
};

const Tool *findTool(const QString &name)
{
    for (const Tool &tool : kTools)
        if (name == QLatin1String(tool.name))
            return &tool;
    return nullptr;
}

QIcon toolIcon(const QString &name)
{
    return QIcon(QStringLiteral(":/pic/%1.png").arg(name));
}

}  // namespace

MeasureWidget::MeasureWidget(QWidget *parent) : QWidget(parent), ui(new Ui::MeasureWidget)
{
    ui->setupUi(this);
    ui->measureSetBtn_btn->hide();
    setAutoFillBackground(true);

    ui->clear_btn->hide();
    for (QWidget *title : {ui->mode_lab, ui->drawCommonTool_lab, ui->calibrationTool_lab, ui->measureResult_lab,
                           ui->measureTool_lab, ui->line_lab, ui->font_lab})
        title->setProperty("flag", QStringLiteral("Title"));
    for (QWidget *box : std::initializer_list<QWidget *>{ui->calibrate_comboBox, ui->unit_comboBox, ui->lineSize_comboBox,
                                                         ui->fontSize_comboBox, ui->font_comboBox,
                                                         ui->lineStylePic_comboBox})
        box->setProperty("flag", QStringLiteral("Combox"));
    ui->edge_btn->setProperty("flag", QStringLiteral("LinearGradient"));
    ui->lineStylePic_comboBox->setStyleSheet(QStringLiteral("background-color:rgb(79,86,96);border: none;"));

    connect(ui->lineStylePic_comboBox, &QLineWidthCombobox::SelectedItemChanged, this,
            &MeasureWidget::onLineStylePic_Cbox_IndexChanged);

    QPushButton *const shortcuts[] = {ui->drawCommonBtn1_btn, ui->drawCommonBtn2_btn, ui->drawCommonBtn3_btn,
                                      ui->drawCommonBtn4_btn, ui->drawCommonBtn5_btn, ui->drawCommonBtn6_btn,
                                      ui->drawCommonBtn7_btn};
    const QVariantMap stored = SettingsStore::instance().loadCommonTools();
    if (stored.isEmpty()) {
        // The form's icons already show these tools.
        const char *const defaults[] = {"drawRect", "drawLineCircle", "drawCircle", "drawLine",
                                        "drawVer",  "drawPar",        "drawThreeAng"};
        for (int i = 0; i < 7; ++i)
            commonTools_.insert(shortcuts[i], QString::fromLatin1(defaults[i]));
    } else {
        for (QPushButton *button : ui->commonTool_wid->findChildren<QPushButton *>()) {
            if (!stored.contains(button->objectName()))
                continue;
            const QString tool = stored.value(button->objectName()).toString();
            commonTools_.insert(button, tool);
            if (tool.isEmpty())
                button->hide();
            else
                button->setIcon(toolIcon(tool));
        }
    }

    addOfferedPenStyles(ui->lineStylePic_comboBox);
    addOfferedNumbers(ui->lineSize_comboBox, kOfferedPenWidths);
    ui->lineSize_comboBox->setMaxVisibleItems(kOfferedPenWidths.count());
    addOfferedNumbers(ui->fontSize_comboBox, kOfferedFontSizes);
    setOfferedRange(ui->floatNum_spbox, kOfferedDecimals);
    {
        const QSignalBlocker blocker(ui->unit_comboBox);
        for (const char *unit : kLengthUnits)
            ui->unit_comboBox->addItem(QString::fromLatin1(unit));
    }

    ui->calibrate_comboBox->blockSignals(true);
    for (const CalibrationRecord &record : SettingsStore::instance().calibrations())
        addCalibration(record, false);
    ui->calibrate_comboBox->setCurrentIndex(-1);
    ui->calibrate_comboBox->blockSignals(false);

    refreshCommonToolTips();
    connect(ui->calibrate_comboBox, &ComboBox::itemRemoved, this, &MeasureWidget::removeCalibrateData);
}

MeasureWidget::~MeasureWidget()
{
    delete ui;
}

void MeasureWidget::loadSettings()
{
    restoring_ = true;
    const QMap<int, QVariant> calibration = SettingsStore::instance().loadCalibrationSettings();
    // "Index" counts the stored entries, also those the list leaves out;
    // with none stored (or one past the stored entries) the first row is
    // chosen, and a damaged entry chosen leaves none chosen.
    ComboBox *list = ui->calibrate_comboBox;
    if (calibration.contains(1)) {
        const QString chosen = SettingsStore::instance().calibrationIds().value(calibration.value(1).toInt());
        list->setCurrentIndex(chosen.isEmpty() ? -1 : list->findData(chosen, ComboBox::KeyRole));
    } else {
        list->setCurrentIndex(0);
    }
    // The store leaves out a unit the list does not offer: "pix" stays.
    if (calibration.contains(2))
        ui->unit_comboBox->setCurrentIndex(calibration.value(2).toInt());

    const QMap<int, QVariant> draw = SettingsStore::instance().loadDraw();
    ui->lineColor_tBtn->setStyleSheet(swatchStyleSheet(storedColor(draw.value(LineColor))));
    ui->lineStylePic_comboBox->setCurrentStyle(static_cast<Qt::PenStyle>(draw.value(LineStyle).toInt()));
    // The store hands on only widths and sizes the lists offer.
    ui->lineSize_comboBox->setCurrentIndex(draw.value(LineWidth).toInt() - kOfferedPenWidths.first);
    ui->fontColor_tBtn->setStyleSheet(swatchStyleSheet(storedColor(draw.value(TextColor))));
    ui->fontSize_comboBox->setCurrentText(QString::number(draw.value(TextSize).toInt()));
    if (draw.contains(TextFont))
        ui->font_comboBox->setCurrentFont(QFont(draw.value(TextFont).toString()));
    ui->antialiasing_checkBox->setChecked(draw.value(Antialiasing).toBool());
    ui->floatNum_spbox->setValue(draw.value(FloatNum).toInt());
    restoring_ = false;
}

// ---------------------------------------------------------------- draw buttons

void MeasureWidget::on_drawLine_btn_clicked() { emit signalSetDrawMode(DrawType::Line); }
void MeasureWidget::on_drawHLine_btn_clicked() { emit signalSetDrawMode(DrawType::HLine); }
void MeasureWidget::on_drawVLine_btn_clicked() { emit signalSetDrawMode(DrawType::VLine); }
void MeasureWidget::on_drawPar_btn_clicked() { emit signalSetDrawMode(DrawType::Par); }
void MeasureWidget::on_drawVer_btn_clicked() { emit signalSetDrawMode(DrawType::Ver); }
void MeasureWidget::on_drawTwoCircle_btn_clicked() { emit signalSetDrawMode(DrawType::TCir); }
void MeasureWidget::on_drawLineCircle_btn_clicked() { emit signalSetDrawMode(DrawType::LCir); }
void MeasureWidget::on_drawRect_btn_clicked() { emit signalSetDrawMode(DrawType::Rect); }
void MeasureWidget::on_drawPoly_btn_clicked() { emit signalSetDrawMode(DrawType::Poly); }
void MeasureWidget::on_drawCircle_btn_clicked() { emit signalSetDrawMode(DrawType::Cir); }
void MeasureWidget::on_drawArc_btn_clicked() { emit signalSetDrawMode(DrawType::Arc); }
void MeasureWidget::on_drawAng_btn_clicked() { emit signalSetDrawMode(DrawType::Ang); }
void MeasureWidget::on_drawThreeAng_btn_clicked() { emit signalSetDrawMode(DrawType::ThreeAng); }

void MeasureWidget::on_drawLineCalibrate_btn_clicked()
{
    if (ui->drawLineCalibrate_btn->isChecked())
        emit signalSetDrawMode(DrawType::LCali);
}

void MeasureWidget::on_drawCircleCalibrate_btn_clicked()
{
    if (ui->drawCircleCalibrate_btn->isChecked())
        emit signalSetDrawMode(DrawType::CCali);
}

void MeasureWidget::on_exportCSV_btn_clicked()
{
    emit signalExportData();
}

void MeasureWidget::on_edge_btn_clicked(bool checked)
{
    ui->edge_btn->setChecked(checked);
    emit signalEdgeEnable(checked);
}

void MeasureWidget::slotClearDrawType()
{
    // The hidden member of the exclusive group takes the check.
    ui->clear_btn->setChecked(true);
}

// ---------------------------------------------------------------- shortcut buttons

void MeasureWidget::useCommonTool(QPushButton *button)
{
    const QString target = commonTools_.value(button) + QStringLiteral("_btn");
    for (QPushButton *tool : ui->measureTool_wid->findChildren<QPushButton *>()) {
        if (tool->objectName() == target) {
            tool->click();
            tool->setChecked(false);
            break;
        }
    }
    // Takes the group's check from the tool button; button 1 is not
    // checkable, so after it the tool button stays pressed instead.
    button->setChecked(true);
}

void MeasureWidget::on_drawCommonBtn1_btn_clicked() { useCommonTool(ui->drawCommonBtn1_btn); }
void MeasureWidget::on_drawCommonBtn2_btn_clicked() { useCommonTool(ui->drawCommonBtn2_btn); }
void MeasureWidget::on_drawCommonBtn3_btn_clicked() { useCommonTool(ui->drawCommonBtn3_btn); }
void MeasureWidget::on_drawCommonBtn4_btn_clicked() { useCommonTool(ui->drawCommonBtn4_btn); }
void MeasureWidget::on_drawCommonBtn5_btn_clicked() { useCommonTool(ui->drawCommonBtn5_btn); }
void MeasureWidget::on_drawCommonBtn6_btn_clicked() { useCommonTool(ui->drawCommonBtn6_btn); }
void MeasureWidget::on_drawCommonBtn7_btn_clicked() { useCommonTool(ui->drawCommonBtn7_btn); }

void MeasureWidget::on_commonSetBtn_btn_clicked()
{
    CommonToolSetDialog dialog;
    connect(&dialog, &CommonToolSetDialog::sendCommonBtn, this, &MeasureWidget::applyCommonTools);
    dialog.setCommonTools(commonTools_);
    dialog.exec();
    refreshCommonToolTips();
    QVariantMap stored;
    for (auto it = commonTools_.cbegin(); it != commonTools_.cend(); ++it)
        stored.insert(it.key()->objectName(), it.value());
    SettingsStore::instance().saveCommonTools(stored);
}

void MeasureWidget::applyCommonTools(const QStringList &tools)
{
    QPushButton *const shortcuts[] = {ui->drawCommonBtn1_btn, ui->drawCommonBtn2_btn, ui->drawCommonBtn3_btn,
                                      ui->drawCommonBtn4_btn, ui->drawCommonBtn5_btn, ui->drawCommonBtn6_btn,
                                      ui->drawCommonBtn7_btn};
    for (int i = 0; i < 7; ++i) {
        QPushButton *button = shortcuts[i];
        if (i < tools.size()) {
            commonTools_[button] = tools[i];
            button->setIcon(toolIcon(tools[i]));
            button->show();
        } else {
            commonTools_[button] = QString();
            button->hide();
        }
    }
}

void MeasureWidget::refreshCommonToolTips()
{
    for (auto it = commonTools_.cbegin(); it != commonTools_.cend(); ++it)
        if (const Tool *tool = findTool(it.value()))
            it.key()->setToolTip(tr(tool->toolTip));
}

void MeasureWidget::retranslate()
{
    ui->retranslateUi(this);
    refreshCommonToolTips();
}

// ---------------------------------------------------------------- properties

void MeasureWidget::storeDraw(DrawProperty id, const QVariant &value)
{
    if (!restoring_)
        SettingsStore::instance().setDrawValue(id, value);
}

void MeasureWidget::storeCalibrationSetting(int id, const QVariant &value)
{
    if (!restoring_)
        SettingsStore::instance().setCalibrationSetting(id, value);
}

void MeasureWidget::storeAndSend(DrawProperty id, const QVariant &value)
{
    storeDraw(id, value);
    emit drawChange(id, value);
}

void MeasureWidget::on_floatNum_spbox_valueChanged(int arg1)
{
    // Labels read the decimals from the store; the views are told so that
    // the labels already shown take them at once.
    storeAndSend(FloatNum, arg1);
}

void MeasureWidget::on_antialiasing_checkBox_clicked(bool checked)
{
    storeAndSend(Antialiasing, checked);
}

void MeasureWidget::on_lineColor_tBtn_clicked()
{
    const QColor color = QColorDialog::getColor(Qt::white, nullptr, QString());
    if (!color.isValid())
        return;
    ui->lineColor_tBtn->setStyleSheet(swatchStyleSheet(color));
    storeAndSend(LineColor, color);
    // Points follow the line colour; the store keeps only the line's.
    emit drawChange(PointColor, color);
}

void MeasureWidget::on_lineSize_comboBox_currentIndexChanged(int index)
{
    if (index < 0)
        return;
    storeAndSend(LineWidth, index + kOfferedPenWidths.first);
}

void MeasureWidget::onLineStylePic_Cbox_IndexChanged(Qt::PenStyle style)
{
    storeAndSend(LineStyle, int(style));
}

void MeasureWidget::on_fontColor_tBtn_clicked()
{
    const QColor color = QColorDialog::getColor(Qt::white, nullptr, QString());
    if (!color.isValid())
        return;
    ui->fontColor_tBtn->setStyleSheet(swatchStyleSheet(color));
    storeAndSend(TextColor, color);
}

void MeasureWidget::on_font_comboBox_currentFontChanged(const QFont &font)
{
    storeDraw(TextFont, font.family());
    emit drawChange(TextFont, font);
}

void MeasureWidget::on_fontSize_comboBox_currentTextChanged(const QString &text)
{
    storeAndSend(TextSize, text.toInt());
}

// ---------------------------------------------------------------- unit and calibrations

void MeasureWidget::on_unit_comboBox_currentIndexChanged(int index)
{
    if (!kOfferedUnits.contains(index))
        return;
    storeCalibrationSetting(2, index);
    emit signalUnitChange(QString::fromLatin1(kLengthUnits[index]));
}

void MeasureWidget::on_calibrate_comboBox_currentIndexChanged(int index)
{
    double real = index >= 0 ? ui->calibrate_comboBox->itemData(index, Qt::UserRole).toDouble() : 0.0;
    const int width =
        index >= 0 ? calibrations_.value(ui->calibrate_comboBox->itemData(index, ComboBox::KeyRole).toString()).width : 0;
    // No calibration (none chosen, the last one deleted, or a stored one
    // without a usable value): one micrometre per pixel, the views' own default.
    if (!std::isfinite(real) || real <= 0.0)
        real = 1.0;
    storeCalibrationChoice();
    emit calibrateChange(real, width);
}

void MeasureWidget::storeCalibrationChoice()
{
    if (restoring_)
        return;
    const int row = ui->calibrate_comboBox->currentIndex();
    // The chosen calibration's place among the stored entries; -1 for none,
    // and for one the file did not take.
    const int place = row < 0 ? -1
                              : SettingsStore::instance().calibrationIds().indexOf(
                                    ui->calibrate_comboBox->itemData(row, ComboBox::KeyRole).toString());
    SettingsStore::instance().setCalibrationSetting(1, place);
}

void MeasureWidget::addCalibration(const CalibrationRecord &info, bool save)
{
    CalibrationRecord record = info;
    bool saved = true;
    QString cause;
    if (save) {
        if (record.id.isEmpty())
            record.id = CalibrationRecord::newId();
        saved = SettingsStore::instance().addCalibration(record, &cause);
    }
    calibrations_.insert(record.id, record);
    ui->calibrate_comboBox->addRow(record.displayText(), record.real, record.id);
    ui->calibrate_comboBox->setCurrentIndex(ui->calibrate_comboBox->count() - 1);
    if (saved)
        return;
    // A file that is not used is never written: the calibration then lives
    // until the program closes.
    const bool kept = SettingsStore::instance().calibrationIds().contains(record.id);
    const QString path = SettingsStore::instance().calibrationPath();
    QMessageBox::warning(nullptr, tr("Warning"),
                         kept ? tr("The calibration could not be saved to %1 (%2); it is kept and saved once the "
                                   "file can be written again.")
                                    .arg(path, cause)
                              : tr("The calibration could not be saved to %1 (%2); it is kept until the program "
                                   "closes.")
                                    .arg(path, cause));
}

void MeasureWidget::removeCalibrateData(const QString &text, const QVariant &id)
{
    const QString key = id.toString();
    calibrations_.remove(key);
    QString cause;
    if (!SettingsStore::instance().removeCalibration(key, &cause)) {
        // Without a cause the file was read but no longer holds that entry.
        // A removal the file could not take is kept and made later, unless
        // the file is not used at all.
        const QString path = SettingsStore::instance().calibrationPath();
        bool used = true;
        for (const SettingsFileProblem &problem : SettingsStore::instance().unusableFiles())
            used = used && problem.path != path;
        QString message;
        if (cause.isEmpty())
            message = tr("The calibration \"%1\" could not be removed from %2; it will be listed again at the next "
                         "start.")
                          .arg(text, path);
        else if (used)
            message = tr("The calibration \"%1\" could not be removed from %2 (%3); it is removed from the file "
                         "once the file can be written again.")
                          .arg(text, path, cause);
        else
            message = tr("The calibration \"%1\" could not be removed from %2 (%3); it will be listed again at the "
                         "next start.")
                          .arg(text, path, cause);
        QMessageBox::warning(nullptr, tr("Warning"), message);
        if (!used || cause.isEmpty())
            return;
    }
    // The entries after it moved up one place.
    storeCalibrationChoice();
}

void MeasureWidget::onCaliOver(double pixels, int pictureWidth)
{
    QList<CalibrationRecord> list = calibrations_.values();
    std::stable_sort(list.begin(), list.end(), [](const CalibrationRecord &a, const CalibrationRecord &b) {
        return a.displayText() < b.displayText();
    });
    CalibrationWidget dialog(pixels, list, nullptr);
    if (dialog.exec() == QDialog::Accepted) {
        CalibrationRecord info = dialog.calibrationInfo();
        info.width = qMax(0, pictureWidth);
        addCalibration(info, true);
    }
    ui->drawLineCalibrate_btn->setChecked(false);
    ui->drawCircleCalibrate_btn->setChecked(false);
    emit signalSetDrawMode(DrawType::Hand);
}

void MeasureWidget::resizeEvent(QResizeEvent *event)
{
    if (QTabBar *bar = ui->measure_tWid->findChild<QTabBar *>())
        bar->setMinimumWidth(width());
    QWidget::resizeEvent(event);
}
