#include "draw_change_dialog.h"

#include "graphics_items.h"
#include "ui_drawchangedialog.h"

#include <QColorDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>

DrawChangeDialog::DrawChangeDialog(void *object, int kind, QWidget *parent)
    : QDialog(parent), ui(new Ui::DrawChangeDialog)
{
    ui->setupUi(this);
    QPen pen;
    bool movable = true;
    bool labelShown = true;
    if (kind == MeasurementItem) {
        item_ = static_cast<GraphicsConnect *>(object);
        if (item_) {
            pen = item_->pen();
            movable = item_->isMovable();
            labelShown = item_->isLabelVisible();
        }
        ui->pushButton->hide();
    } else {
        line_ = static_cast<GraphicsCross *>(object);
        if (line_) {
            pen = line_->pen();
            movable = line_->flags() & QGraphicsItem::ItemIsMovable;
        }
    }
    // Showing the object's values is no change to it. Sizes are drawn at
    // twice their value and follow the zoom, so a width above the box's
    // range is common: the range grows to show it, and every smaller width
    // stays choosable.
    {
        const QSignalBlocker blocker(ui->spinBox_2);
        ui->spinBox_2->setMaximum(qMax(ui->spinBox_2->maximum(), pen.width()));
        ui->spinBox_2->setValue(pen.width());
    }
    showColor(pen.color());
    ui->checkBox->setChecked(!movable);
    ui->Annotation_Cbox->setChecked(labelShown);
}

DrawChangeDialog::~DrawChangeDialog()
{
    delete ui;
}

void DrawChangeDialog::showColor(const QColor &color)
{
    ui->pushButton_2->setStyleSheet(
        QStringLiteral("border: none; background-color: rgb(%1,%2,%3)").arg(color.red()).arg(color.green()).arg(color.blue()));
}

void DrawChangeDialog::on_spinBox_2_valueChanged(int arg1)
{
    if (item_)
        item_->setPenWidth(arg1);
    else if (line_)
        line_->setPenWidth(arg1);
}

void DrawChangeDialog::on_pushButton_2_clicked()
{
    const QColor color = QColorDialog::getColor(Qt::white, nullptr, QString());
    if (!color.isValid())
        return;
    showColor(color);
    if (item_)
        item_->setColor(color);
    else if (line_)
        line_->setColor(color);
}

void DrawChangeDialog::on_checkBox_clicked(bool checked)
{
    if (item_)
        item_->setMovable(!checked);
    else if (line_)
        line_->setFlag(QGraphicsItem::ItemIsMovable, !checked);
}

void DrawChangeDialog::on_Annotation_Cbox_clicked(bool checked)
{
    if (item_)
        item_->setLabelVisible(checked);
}

void DrawChangeDialog::on_pushButton_clicked()
{
    QMessageBox question(QMessageBox::Question, QString(), tr("delete ?"), QMessageBox::NoButton);
    QPushButton *yes = question.addButton(QObject::tr("Yes"), QMessageBox::YesRole);
    question.addButton(QObject::tr("No"), QMessageBox::NoRole);
    question.setDefaultButton(yes);
    question.exec();
    if (question.clickedButton() != yes)
        return;
    if (line_) {
        GraphicsCross *line = line_;
        line_ = nullptr;
        line->remove();
    }
    accept();
}
