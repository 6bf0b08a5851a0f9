#include "zoom_widget.h"

#include "ui_zoomwidget.h"

ZoomWidget::ZoomWidget(QWidget *parent) : QWidget(parent), ui(new Ui::ZoomWidget)
{
    ui->setupUi(this);
}

ZoomWidget::~ZoomWidget()
{
    delete ui;
}

void ZoomWidget::retranslate()
{
    ui->retranslateUi(this);
}

void ZoomWidget::on_ZoomAdd_Btn_pressed()
{
    emit increaseOrDecreaseZoom(true);
}

void ZoomWidget::on_ZoomSub_Btn_pressed()
{
    emit increaseOrDecreaseZoom(false);
}
