#include "measure_flow_panel.h"

#include "ui_measureflowpanel.h"

#include <QMouseEvent>

MeasureFlowPanel::MeasureFlowPanel(QWidget *parent) : QWidget(parent), ui(new Ui::MeasureFlowPanel)
{
    ui->setupUi(this);
    ui->drawRing_Btn->hide();
    ui->drawVerCircle_Btn->hide();
    ui->drawText_Btn->hide();
    // Presses on the handle reach the panel itself, which starts the drag.
    ui->setLocation_Btn->setAttribute(Qt::WA_TransparentForMouseEvents);
    // Checked in the exclusive group: no tool button shows as pressed.
    ui->setLocation_Btn->setChecked(true);
}

MeasureFlowPanel::~MeasureFlowPanel()
{
    delete ui;
}

void MeasureFlowPanel::retranslate()
{
    ui->retranslateUi(this);
}

void MeasureFlowPanel::on_drawLine_Btn_clicked() { emit signalSetDrawMode(DrawType::Line); }
void MeasureFlowPanel::on_drawHline_Btn_clicked() { emit signalSetDrawMode(DrawType::HLine); }
void MeasureFlowPanel::on_drawVline_Btn_clicked() { emit signalSetDrawMode(DrawType::VLine); }
void MeasureFlowPanel::on_drawPar_Btn_clicked() { emit signalSetDrawMode(DrawType::Par); }
void MeasureFlowPanel::on_drawVer_Btn_clicked() { emit signalSetDrawMode(DrawType::Ver); }
void MeasureFlowPanel::on_drawAng_Btn_clicked() { emit signalSetDrawMode(DrawType::Ang); }
void MeasureFlowPanel::on_threeDrawAng_Btn_clicked() { emit signalSetDrawMode(DrawType::ThreeAng); }
void MeasureFlowPanel::on_drawRect_Btn_clicked() { emit signalSetDrawMode(DrawType::Rect); }
void MeasureFlowPanel::on_drawArc_Btn_clicked() { emit signalSetDrawMode(DrawType::Arc); }
void MeasureFlowPanel::on_drawCircle_Btn_clicked() { emit signalSetDrawMode(DrawType::Cir); }
void MeasureFlowPanel::on_drawRing_Btn_clicked() { emit signalSetDrawMode(DrawType::Ring); }
void MeasureFlowPanel::on_drawPoly_Btn_clicked() { emit signalSetDrawMode(DrawType::Poly); }
void MeasureFlowPanel::on_drawLineCircle_Btn_clicked() { emit signalSetDrawMode(DrawType::LCir); }
void MeasureFlowPanel::on_drawVerCircle_Btn_clicked() { emit signalSetDrawMode(DrawType::VerCircle); }
void MeasureFlowPanel::on_drawTwoCircle_Btn_clicked() { emit signalSetDrawMode(DrawType::TCir); }
void MeasureFlowPanel::on_drawText_Btn_clicked() { emit signalSetDrawMode(DrawType::LText); }
void MeasureFlowPanel::on_setLocation_Btn_clicked() {}

void MeasureFlowPanel::mousePressEvent(QMouseEvent *event)
{
    // QRect::contains includes the right and bottom edge pixels.
    if (ui->setLocation_Btn->geometry().contains(event->pos())) {
        dragging = true;
        dragOffset = event->globalPos() - pos();
    }
    event->accept();
}

void MeasureFlowPanel::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
    if (!dragging || event->buttons() == Qt::NoButton)
        return;
    const QPoint target = event->globalPos() - dragOffset;
    if (target.x() < 0 || target.y() < 0 || target.x() + width() > viewWidth || target.y() + height() > viewHeight)
        return;
    move(target);
}

void MeasureFlowPanel::mouseReleaseEvent(QMouseEvent *event)
{
    dragging = false;
    event->accept();
}
