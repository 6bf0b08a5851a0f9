#include "photo_settings.h"

#include "ui_photosettings.h"

#include <QFileDialog>

PhotoSettings::PhotoSettings(QWidget *parent) : QWidget(parent), ui(new Ui::PhotoSettings)
{
    ui->setupUi(this);
    setWindowModality(Qt::ApplicationModal);
    setWindowFlags(Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint);
    ui->timeNaming_comboBox->hide();
    ui->autoIndex_checkBox->hide();
    ui->autoIndexDigit_comboBox->hide();
    ui->exampleName_lineEdit->hide();
    ui->prefix_lineEdit->setMaxLength(kLongestPhotoPrefix);

    // Each control that changes here runs its handler, which enables the
    // controls that go with it; nothing is written back (restoring_).
    const QMap<int, QVariant> draw = SettingsStore::instance().loadDraw();
    if (!draw.contains(SaveType)) {
        ui->timeNaming_checkBox->setChecked(true);
    } else {
        const int saveType = draw.value(SaveType).toInt();
        if (saveType != 0) {
            ui->timeNaming_checkBox->setChecked(saveType & 1);
            ui->autoIndex_checkBox->setChecked(saveType & 4);
        } else {
            ui->scanCodeNaming_checkBox->setChecked(true);
        }
    }
    ui->prefix_lineEdit->setText(draw.value(PrefixData).toString());
    if (draw.value(SnapOpenImage).toBool())
        ui->snapOpenImageY_rBtn->setChecked(true);
    else
        ui->snapOpenImageN_rBtn->setChecked(true);

    bool ok = false;
    int format = draw.value(PhotoFormat).toInt(&ok);
    if (!ok)
        format = int(ImgFormat::Jpg);
    {
        const QSignalBlocker blocker(ui->format_comboBox);
        ui->format_comboBox->addItem(QStringLiteral("jpg"), int(ImgFormat::Jpg));
        ui->format_comboBox->addItem(QStringLiteral("bmp"), int(ImgFormat::Bmp));
        ui->format_comboBox->addItem(QStringLiteral("tiff"), int(ImgFormat::Tiff));
    }
    const int row = ui->format_comboBox->findData(format);
    ui->format_comboBox->setCurrentIndex(row >= 0 ? row : 0);

    if (draw.value(QuickSave).toBool())
        ui->autoNaming_rBtn->setChecked(true);
    else
        ui->manualNaming_rBtn->setChecked(true);
    if (draw.value(SaveGraphics).toBool())
        ui->saveGraphicsY_rBtn->setChecked(true);
    else
        ui->saveGraphicsN_tBtn->setChecked(true);
    ui->savePath_lineEdit->setText(draw.value(QuickSavePath).toString());
    restoring_ = false;
}

PhotoSettings::~PhotoSettings()
{
    delete ui;
}

void PhotoSettings::retranslate()
{
    ui->retranslateUi(this);
}

void PhotoSettings::store(DrawProperty id, const QVariant &value)
{
    if (!restoring_)
        SettingsStore::instance().setDrawValue(id, value);
    emit changeDrawProp(id, value);
}

void PhotoSettings::on_openSavePath_btn_clicked()
{
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Select"), ui->savePath_lineEdit->text(),
                                                             QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return;
    store(QuickSavePath, folder);
    ui->savePath_lineEdit->setText(folder);
}

// A radio pair: the button switched on does the work.
void PhotoSettings::on_snapOpenImageY_rBtn_toggled(bool checked)
{
    if (checked)
        store(SnapOpenImage, 1u);
}

void PhotoSettings::on_snapOpenImageN_rBtn_toggled(bool checked)
{
    if (checked)
        store(SnapOpenImage, 0u);
}

void PhotoSettings::on_saveGraphicsY_rBtn_toggled(bool checked)
{
    if (checked)
        store(SaveGraphics, 1u);
}

void PhotoSettings::on_saveGraphicsN_tBtn_toggled(bool checked)
{
    if (checked)
        store(SaveGraphics, 0u);
}

void PhotoSettings::on_autoNaming_rBtn_toggled(bool checked)
{
    if (!checked)
        return;
    ui->prefix_lineEdit->setEnabled(!ui->scanCodeNaming_checkBox->isChecked());
    ui->timeNaming_checkBox->setEnabled(true);
    ui->autoIndex_checkBox->setEnabled(true);
    ui->scanCodeNaming_checkBox->setEnabled(true);
    ui->timeNaming_comboBox->setEnabled(ui->timeNaming_checkBox->isChecked());
    ui->autoIndexDigit_comboBox->setEnabled(ui->autoIndex_checkBox->isChecked());
    store(QuickSave, 1u);
}

void PhotoSettings::on_manualNaming_rBtn_toggled(bool checked)
{
    if (!checked)
        return;
    for (QWidget *control : std::initializer_list<QWidget *>{ui->prefix_lineEdit, ui->timeNaming_checkBox,
                                                             ui->timeNaming_comboBox, ui->autoIndex_checkBox,
                                                             ui->autoIndexDigit_comboBox, ui->scanCodeNaming_checkBox})
        control->setEnabled(false);
    store(QuickSave, 0u);
}

void PhotoSettings::on_timeNaming_checkBox_stateChanged(int state)
{
    ui->timeNaming_comboBox->setEnabled(state == Qt::Checked);
    if (state != Qt::Checked)
        return;
    ui->scanCodeNaming_checkBox->setChecked(false);
    store(SaveType, ui->autoIndex_checkBox->isChecked() ? 5 : 1);
}

void PhotoSettings::on_autoIndex_checkBox_stateChanged(int state)
{
    ui->autoIndexDigit_comboBox->setEnabled(state == Qt::Checked);
    if (state != Qt::Checked)
        return;
    ui->scanCodeNaming_checkBox->setChecked(false);
    store(SaveType, ui->timeNaming_checkBox->isChecked() ? 5 : 4);
}

void PhotoSettings::on_scanCodeNaming_checkBox_stateChanged(int state)
{
    ui->prefix_lineEdit->setEnabled(state != Qt::Checked);
    if (state != Qt::Checked)
        return;
    ui->timeNaming_checkBox->setChecked(false);
    ui->autoIndex_checkBox->setChecked(false);
    store(SaveType, 0);
}

void PhotoSettings::on_format_comboBox_currentIndexChanged(int index)
{
    if (index >= 0)
        store(PhotoFormat, ui->format_comboBox->itemData(index, Qt::UserRole).toInt());
}

void PhotoSettings::on_prefix_lineEdit_textChanged(const QString &text)
{
    const bool clipped = ui->prefix_lineEdit->fontMetrics().horizontalAdvance(text) > ui->prefix_lineEdit->width();
    ui->prefix_lineEdit->setToolTip(clipped ? text : QString());
    store(PrefixData, text);
}

void PhotoSettings::on_timeNaming_comboBox_currentIndexChanged(const QString &) {}
void PhotoSettings::on_autoIndexDigit_comboBox_currentIndexChanged(int) {}
