#include "draw_change_dialog.h"

#include "graphics_items.h"
#include "shapes.h"
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
    int size = 1;
    bool movable = true;
    bool labelShown = true;
    if (kind == MeasurementItem) {
        item_ = static_cast<GraphicsConnect *>(object);
        if (item_) {
            pen = item_->pen();
            if (item_->owner())
                size = item_->owner()->lineSize();
            movable = item_->isMovable();
            labelShown = item_->isLabelVisible();
        }
        ui->pushButton->hide();
    } else {
        line_ = static_cast<GraphicsCross *>(object);
        if (line_) {
            pen = line_->pen();
            size = line_->size();
            movable = line_->flags() & QGraphicsItem::ItemIsMovable;
        }
    }
    // Width is the drawing size the object was given, the same number as
    // the panels' Size (its pen follows the zoom). Showing it is no change
    // to the object; a size above the box's range (an old settings file)
    // grows the range, and every smaller size stays choosable.
    {
        const QSignalBlocker blocker(ui->spinBox_2);
        ui->spinBox_2->setMaximum(qMax(ui->spinBox_2->maximum(), size));
        ui->spinBox_2->setValue(size);
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
    if (item_ && item_->owner())
        item_->owner()->setLineWidth(arg1);
    else if (line_)
        line_->setSize(arg1);
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
