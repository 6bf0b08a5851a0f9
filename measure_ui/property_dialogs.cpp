#include "property_dialogs.h"

#include "line_width_combobox.h"
#include "offered_lists.h"
#include "settings_store.h"
#include "swatch.h"
#include "ui_gridlinessetdialog.h"
#include "ui_linepropertysetdialog.h"
#include "ui_textpropertysetdialog.h"

#include <QColorDialog>

namespace {

void setUpPicker(QLineWidthCombobox *picker)
{
    addOfferedPenStyles(picker);
    picker->setProperty("flag", QStringLiteral("Combox"));
    picker->setStyleSheet(QStringLiteral("background-color:rgb(79,86,96);border: none;"));
}

// A colour from the colour dialog, which always starts on white; invalid
// when the user cancelled.
QColor pickColor()
{
    return QColorDialog::getColor(Qt::white, nullptr, QString());
}

}  // namespace

// ---------------------------------------------------------------- line

LinePropertySetDialog::LinePropertySetDialog(QWidget *parent) : QDialog(parent), ui(new Ui::LinePropertySetDialog)
{
    ui->setupUi(this);
    setUpPicker(ui->lineStylePic_comboBox);
    addOfferedNumbers(ui->lineSize_comboBox, kOfferedPenWidths);
    ui->lineSize_comboBox->setProperty("flag", QStringLiteral("Combox"));
    connect(ui->lineStylePic_comboBox, &QLineWidthCombobox::SelectedItemChanged, this,
            &LinePropertySetDialog::onLineStylePic_Cbox_IndexChanged);
}

LinePropertySetDialog::~LinePropertySetDialog()
{
    delete ui;
}

void LinePropertySetDialog::setColor(const QColor &color)
{
    color_ = storedColor(color);
}

void LinePropertySetDialog::updateForm()
{
    ui->lineSize_comboBox->setCurrentIndex(qBound(0, sizeIndex_, kOfferedPenWidths.count() - 1));
    ui->lineStylePic_comboBox->setCurrentStyle(style_);
    ui->lineColor_tBtn->setStyleSheet(swatchStyleSheet(storedColor(color_)));
}

int LinePropertySetDialog::lineSize() const
{
    return ui->lineSize_comboBox->currentIndex() + kOfferedPenWidths.first;
}

void LinePropertySetDialog::on_OK_btn_clicked() { accept(); }
void LinePropertySetDialog::on_Cancel_btn_clicked() { reject(); }

void LinePropertySetDialog::on_lineColor_tBtn_clicked()
{
    const QColor color = pickColor();
    if (!color.isValid())
        return;
    color_ = color;
    ui->lineColor_tBtn->setStyleSheet(swatchStyleSheet(color));
}

void LinePropertySetDialog::onLineStylePic_Cbox_IndexChanged(Qt::PenStyle style)
{
    style_ = style;
}

// ---------------------------------------------------------------- grid lines

GridlinesSetDialog::GridlinesSetDialog(QWidget *parent) : QDialog(parent), ui(new Ui::GridlinesSetDialog)
{
    ui->setupUi(this);
    setUpPicker(ui->gridlinesStylePic_comboBox);
    addOfferedNumbers(ui->gridlinesSize_comboBox, kOfferedPenWidths);
    addOfferedNumbers(ui->gridlinesHLine_comboBox, kOfferedGridLines);
    addOfferedNumbers(ui->gridlinesVLine_comboBox, kOfferedGridLines);
    ui->gridlinesSize_comboBox->setProperty("flag", QStringLiteral("Combox"));
    connect(ui->gridlinesStylePic_comboBox, &QLineWidthCombobox::SelectedItemChanged, this,
            &GridlinesSetDialog::onLineStylePic_Cbox_IndexChanged);
}

GridlinesSetDialog::~GridlinesSetDialog()
{
    delete ui;
}

void GridlinesSetDialog::setColor(const QColor &color)
{
    color_ = storedColor(color);
}

void GridlinesSetDialog::updateForm()
{
    ui->gridlinesSize_comboBox->setCurrentIndex(qBound(0, sizeIndex_, kOfferedPenWidths.count() - 1));
    ui->gridlinesStylePic_comboBox->setCurrentStyle(style_);
    ui->gridlinesColor_tBtn->setStyleSheet(swatchStyleSheet(storedColor(color_)));
    ui->gridlinesHLine_comboBox->setCurrentIndex(qBound(0, hLinesIndex_, kOfferedGridLines.count() - 1));
    ui->gridlinesVLine_comboBox->setCurrentIndex(qBound(0, vLinesIndex_, kOfferedGridLines.count() - 1));
}

int GridlinesSetDialog::lineSize() const
{
    return ui->gridlinesSize_comboBox->currentIndex() + kOfferedPenWidths.first;
}

int GridlinesSetDialog::hLines() const
{
    return ui->gridlinesHLine_comboBox->currentIndex() + kOfferedGridLines.first;
}

int GridlinesSetDialog::vLines() const
{
    return ui->gridlinesVLine_comboBox->currentIndex() + kOfferedGridLines.first;
}

void GridlinesSetDialog::on_OK_btn_clicked() { accept(); }
void GridlinesSetDialog::on_Cancel_btn_clicked() { reject(); }

void GridlinesSetDialog::on_gridlinesColor_tBtn_clicked()
{
    const QColor color = pickColor();
    if (!color.isValid())
        return;
    color_ = color;
    ui->gridlinesColor_tBtn->setStyleSheet(swatchStyleSheet(color));
}

void GridlinesSetDialog::onLineStylePic_Cbox_IndexChanged(Qt::PenStyle style)
{
    style_ = style;
}

// ---------------------------------------------------------------- text

TextPropertySetDialog::TextPropertySetDialog(QWidget *parent) : QDialog(parent), ui(new Ui::TextPropertySetDialog)
{
    ui->setupUi(this);
    setUpPicker(ui->lineStylePic_comboBox);
    addOfferedNumbers(ui->lineSize_comboBox, kOfferedPenWidths);
    addOfferedNumbers(ui->fontSize_comboBox, kOfferedFontSizes);
    for (QWidget *box : std::initializer_list<QWidget *>{ui->lineSize_comboBox, ui->fontSize_comboBox, ui->font_comboBox})
        box->setProperty("flag", QStringLiteral("Combox"));
    connect(ui->lineStylePic_comboBox, &QLineWidthCombobox::SelectedItemChanged, this,
            &TextPropertySetDialog::onLineStylePic_Cbox_IndexChanged);

    const QMap<int, QVariant> draw = SettingsStore::instance().loadDraw();
    textColor_ = storedColor(draw.value(LTextColor));
    ui->fontColor_tBtn->setStyleSheet(swatchStyleSheet(textColor_));
    if (draw.contains(LTextFont)) {
        font_.setFamily(draw.value(LTextFont).toString());
        ui->font_comboBox->setCurrentFont(font_);
    }
    font_ = ui->font_comboBox->currentFont();
    // The store hands on only sizes the list offers, and 13 when none is stored.
    fontSize_ = draw.value(LTextWidth).toInt();
    ui->fontSize_comboBox->setCurrentText(QString::number(fontSize_));
    lineColor_ = storedColor(draw.value(LLineColor));
    ui->lineColor_tBtn->setStyleSheet(swatchStyleSheet(lineColor_));
    ui->lineStylePic_comboBox->setCurrentStyle(static_cast<Qt::PenStyle>(draw.value(LLineStyle).toInt()));
    // None stored: the first row.
    lineSize_ = qMax(draw.value(LLineWidth).toInt(), kOfferedPenWidths.first);
    ui->lineSize_comboBox->setCurrentIndex(lineSize_ - kOfferedPenWidths.first);
}

TextPropertySetDialog::~TextPropertySetDialog()
{
    delete ui;
}

void TextPropertySetDialog::on_OK_btn_clicked()
{
    fontSize_ = ui->fontSize_comboBox->currentText().toInt();
    font_ = ui->font_comboBox->currentFont();
    const SettingsStore &store = SettingsStore::instance();
    store.setDrawValue(LTextColor, textColor_);
    store.setDrawValue(LTextWidth, fontSize_);
    store.setDrawValue(LTextFont, font_.family());
    lineSize_ = ui->lineSize_comboBox->currentIndex() + kOfferedPenWidths.first;
    store.setDrawValue(LLineColor, lineColor_);
    store.setDrawValue(LLineWidth, lineSize_);
    store.setDrawValue(LLineStyle, int(lineStyle_));
    accept();
}

void TextPropertySetDialog::on_Cancel_btn_clicked()
{
    reject();
}

void TextPropertySetDialog::on_lineColor_tBtn_clicked()
{
    const QColor color = pickColor();
    if (!color.isValid())
        return;
    lineColor_ = color;
    ui->lineColor_tBtn->setStyleSheet(swatchStyleSheet(color));
}

void TextPropertySetDialog::on_fontColor_tBtn_clicked()
{
    const QColor color = pickColor();
    if (!color.isValid())
        return;
    textColor_ = color;
    ui->fontColor_tBtn->setStyleSheet(swatchStyleSheet(color));
}

void TextPropertySetDialog::onLineStylePic_Cbox_IndexChanged(Qt::PenStyle style)
{
    lineStyle_ = style;
}
