#include "label_widget.h"

#include "property_dialogs.h"
#include "ui_labelwidget.h"

#include <QColor>

namespace {

// None stored: the fewest the gridline dialog offers.
int gridCount(const QVariant &stored)
{
    return qMax(stored.toInt(), kOfferedGridLines.first);
}

}  // namespace

LabelWidget::LabelWidget(QWidget *parent) : QWidget(parent), ui(new Ui::LabelWidget)
{
    ui->setupUi(this);
    ui->clear_btn->hide();
    for (QWidget *title : {ui->markingTool_lab, ui->textTool_lab, ui->auxiliaryTool_lab})
        title->setProperty("flag", QStringLiteral("Title"));
    const QMap<int, QVariant> draw = SettingsStore::instance().loadDraw();
    hLineCount = gridCount(draw.value(GridlinesHLines));
    vLineCount = gridCount(draw.value(GridlinesVLines));
}

LabelWidget::~LabelWidget()
{
    delete ui;
}

void LabelWidget::retranslate()
{
    ui->retranslateUi(this);
}

void LabelWidget::slotClearDrawType()
{
    ui->clear_btn->setChecked(true);
}

void LabelWidget::on_drawMarkRect_btn_clicked() { emit signalSetDrawMode(DrawType::MarkRect); }
void LabelWidget::on_drawMarkCircle_btn_clicked() { emit signalSetDrawMode(DrawType::MarkCir); }
void LabelWidget::on_drawText_Btn_clicked() { emit signalSetDrawMode(DrawType::LText); }

void LabelWidget::sendStored(std::initializer_list<DrawProperty> ids)
{
    const QMap<int, QVariant> draw = SettingsStore::instance().loadDraw();
    for (DrawProperty id : ids)
        emit drawChange(id, draw.value(id));
}

void LabelWidget::on_showCross_checkBox_clicked()
{
    emit signalEnableGridlines(DrawType::Cross, 1, 1, true);
    // The overlay is a crosshair now: the gridlines read "Hide" without a switch of their own.
    ui->hideGridlines_checkBox->setChecked(true);
    if (crossStylePending_) {
        crossStylePending_ = false;
        sendStored({CrossColor, CrossWidth, CrossStyle});
    }
}

void LabelWidget::on_showGridlines_checkBox_clicked()
{
    emit signalEnableGridlines(DrawType::Gridlines, hLineCount, vLineCount, true);
    ui->hideCross_checkBox->setChecked(true);
    if (gridStylePending_) {
        gridStylePending_ = false;
        sendStored({GridlinesColor, GridlinesWidth, GridlinesStyle});
    }
}

void LabelWidget::on_hideCross_checkBox_clicked()
{
    // While the gridlines are up the shared overlay is theirs.
    if (!ui->showGridlines_checkBox->isChecked())
        emit signalEnableGridlines(DrawType::Cross, 1, 1, false);
}

void LabelWidget::on_hideGridlines_checkBox_clicked()
{
    if (!ui->showCross_checkBox->isChecked())
        emit signalEnableGridlines(DrawType::Gridlines, hLineCount, vLineCount, false);
}

void LabelWidget::on_crossLineSet_btn_clicked()
{
    const QMap<int, QVariant> draw = SettingsStore::instance().loadDraw();
    LinePropertySetDialog dialog;
    dialog.setColor(draw.value(CrossColor).value<QColor>());
    dialog.setSizeIndex(draw.value(CrossWidth).toInt() - kOfferedPenWidths.first);
    dialog.setLineStyle(static_cast<Qt::PenStyle>(draw.value(CrossStyle).toInt()));
    dialog.updateForm();
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (ui->showCross_checkBox->isChecked()) {
        emit drawChange(CrossColor, dialog.color());
        emit drawChange(CrossWidth, dialog.lineSize());
        emit drawChange(CrossStyle, int(dialog.lineStyle()));
    } else {
        crossStylePending_ = true;
    }
    const SettingsStore &store = SettingsStore::instance();
    store.setDrawValue(CrossColor, dialog.color());
    store.setDrawValue(CrossWidth, dialog.lineSize());
    store.setDrawValue(CrossStyle, int(dialog.lineStyle()));
}

void LabelWidget::on_markSet_btn_clicked()
{
    const QMap<int, QVariant> draw = SettingsStore::instance().loadDraw();
    LinePropertySetDialog dialog;
    dialog.setColor(draw.value(MarkColor).value<QColor>());
    dialog.setSizeIndex(draw.value(MarkWidth).toInt() - kOfferedPenWidths.first);
    dialog.setLineStyle(static_cast<Qt::PenStyle>(draw.value(MarkStyle).toInt()));
    dialog.updateForm();
    if (dialog.exec() != QDialog::Accepted)
        return;
    emit drawChange(MarkColor, dialog.color());
    emit drawChange(MarkWidth, dialog.lineSize());
    emit drawChange(MarkStyle, int(dialog.lineStyle()));
    const SettingsStore &store = SettingsStore::instance();
    store.setDrawValue(MarkColor, dialog.color());
    store.setDrawValue(MarkWidth, dialog.lineSize());
    store.setDrawValue(MarkStyle, int(dialog.lineStyle()));
}

void LabelWidget::on_gridlinesSet_btn_clicked()
{
    const QMap<int, QVariant> draw = SettingsStore::instance().loadDraw();
    GridlinesSetDialog dialog;
    dialog.setColor(draw.value(GridlinesColor).value<QColor>());
    dialog.setSizeIndex(draw.value(GridlinesWidth).toInt() - kOfferedPenWidths.first);
    dialog.setLineStyle(static_cast<Qt::PenStyle>(draw.value(GridlinesStyle).toInt()));
    dialog.setHLinesIndex(hLineCount - kOfferedGridLines.first);
    dialog.setVLinesIndex(vLineCount - kOfferedGridLines.first);
    dialog.updateForm();
    if (dialog.exec() != QDialog::Accepted)
        return;
    const SettingsStore &store = SettingsStore::instance();
    store.setDrawValue(GridlinesColor, dialog.color());
    store.setDrawValue(GridlinesWidth, dialog.lineSize());
    store.setDrawValue(GridlinesStyle, int(dialog.lineStyle()));
    store.setDrawValue(GridlinesHLines, dialog.hLines());
    store.setDrawValue(GridlinesVLines, dialog.vLines());
    const bool shown = ui->showGridlines_checkBox->isChecked();
    if (dialog.hLines() != hLineCount || dialog.vLines() != vLineCount) {
        hLineCount = dialog.hLines();
        vLineCount = dialog.vLines();
        if (shown)
            emit signalEnableGridlines(DrawType::Gridlines, hLineCount, vLineCount, true);
    }
    if (shown) {
        emit drawChange(GridlinesColor, dialog.color());
        emit drawChange(GridlinesWidth, dialog.lineSize());
        emit drawChange(GridlinesStyle, int(dialog.lineStyle()));
    } else {
        gridStylePending_ = true;
    }
}

void LabelWidget::on_textSet_btn_clicked()
{
    TextPropertySetDialog dialog;
    if (dialog.exec() != QDialog::Accepted)
        return;
    emit drawChange(LTextColor, dialog.textColor());
    emit drawChange(LTextWidth, dialog.fontSize());
    emit drawChange(LTextFont, dialog.font());
    emit drawChange(LLineColor, dialog.lineColor());
    emit drawChange(LLineWidth, dialog.lineSize());
    emit drawChange(LLineStyle, int(dialog.lineStyle()));
}
