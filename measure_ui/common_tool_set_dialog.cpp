#include "common_tool_set_dialog.h"

#include "ui_commontoolsetdialog.h"

#include <QCheckBox>

CommonToolSetDialog::CommonToolSetDialog(QWidget *parent) : QDialog(parent), ui(new Ui::CommonToolSetDialog)
{
    ui->setupUi(this);
}

CommonToolSetDialog::~CommonToolSetDialog()
{
    delete ui;
}

QString CommonToolSetDialog::toolName(const QCheckBox *box)
{
    return box->objectName().section(QLatin1Char('_'), 0, 0);
}

QList<QCheckBox *> CommonToolSetDialog::boxes() const
{
    // findChildren walks the widget tree in creation order, which is the
    // form's order.
    return ui->widget_13->findChildren<QCheckBox *>();
}

void CommonToolSetDialog::setCommonTools(const QMap<QPushButton *, QString> &tools)
{
    tools_.clear();
    for (const QString &name : tools)
        if (!name.isEmpty())
            tools_.append(name);
    for (QCheckBox *box : boxes())
        box->setChecked(tools_.contains(toolName(box)));
}

void CommonToolSetDialog::boxClicked(QCheckBox *box, bool checked)
{
    const QList<QCheckBox *> all = boxes();
    if (checked) {
        int count = 0;
        for (const QCheckBox *other : all)
            count += other->isChecked() ? 1 : 0;
        if (count > kMaxTools) {
            box->setChecked(false);
            return;
        }
    }
    tools_.clear();
    for (const QCheckBox *other : all)
        if (other->isChecked())
            tools_.append(toolName(other));
    emit sendCommonBtn(tools_);
}

void CommonToolSetDialog::on_drawLine_checkBox_clicked(bool checked) { boxClicked(ui->drawLine_checkBox, checked); }
void CommonToolSetDialog::on_drawRect_checkBox_clicked(bool checked) { boxClicked(ui->drawRect_checkBox, checked); }
void CommonToolSetDialog::on_drawHLine_checkBox_clicked(bool checked) { boxClicked(ui->drawHLine_checkBox, checked); }
void CommonToolSetDialog::on_drawVLine_checkBox_clicked(bool checked) { boxClicked(ui->drawVLine_checkBox, checked); }
void CommonToolSetDialog::on_drawPar_checkBox_clicked(bool checked) { boxClicked(ui->drawPar_checkBox, checked); }
void CommonToolSetDialog::on_drawVer_checkBox_clicked(bool checked) { boxClicked(ui->drawVer_checkBox, checked); }
void CommonToolSetDialog::on_drawPoly_checkBox_clicked(bool checked) { boxClicked(ui->drawPoly_checkBox, checked); }
void CommonToolSetDialog::on_drawCircle_checkBox_clicked(bool checked) { boxClicked(ui->drawCircle_checkBox, checked); }
void CommonToolSetDialog::on_drawArc_checkBox_clicked(bool checked) { boxClicked(ui->drawArc_checkBox, checked); }
void CommonToolSetDialog::on_drawAng_checkBox_clicked(bool checked) { boxClicked(ui->drawAng_checkBox, checked); }
void CommonToolSetDialog::on_drawThreeAng_checkBox_clicked(bool checked)
{
    boxClicked(ui->drawThreeAng_checkBox, checked);
}
void CommonToolSetDialog::on_drawTwoCircle_checkBox_clicked(bool checked)
{
    boxClicked(ui->drawTwoCircle_checkBox, checked);
}
void CommonToolSetDialog::on_drawLineCircle_checkBox_clicked(bool checked)
{
    boxClicked(ui->drawLineCircle_checkBox, checked);
}
