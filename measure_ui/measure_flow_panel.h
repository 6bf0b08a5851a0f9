// The strip of drawing-tool buttons that floats over the live picture of a
// per-camera view. A button press emits the tool's DrawType; the strip can be
// dragged inside the view by its position button. It keeps no settings.
#pragma once

#include "draw_type.h"

#include <QPoint>
#include <QWidget>

namespace Ui {
class MeasureFlowPanel;
}

class MeasureFlowPanel : public QWidget
{
    Q_OBJECT
public:
    explicit MeasureFlowPanel(QWidget *parent = nullptr);
    ~MeasureFlowPanel() override;

    // Size of the owning view, written by the view at construction and on
    // every resize; drags never take the panel outside it.
    int viewHeight = 0;
    int viewWidth = 0;
    void setViewSize(int width, int height)
    {
        viewWidth = width;
        viewHeight = height;
    }

    void retranslate();

signals:
    void signalSetDrawMode(DrawType type);
    // Part of the panel's interface for the view; the panel itself moves by
    // dragging and never emits it.
    void signalChangePos();

private slots:
    void on_drawLine_Btn_clicked();
    void on_drawHline_Btn_clicked();
    void on_drawVline_Btn_clicked();
    void on_drawPar_Btn_clicked();
    void on_drawVer_Btn_clicked();
    void on_drawAng_Btn_clicked();
    void on_threeDrawAng_Btn_clicked();
    void on_drawRect_Btn_clicked();
    void on_drawArc_Btn_clicked();
    void on_drawCircle_Btn_clicked();
    void on_drawRing_Btn_clicked();
    void on_drawPoly_Btn_clicked();
    void on_drawLineCircle_Btn_clicked();
    void on_drawVerCircle_Btn_clicked();
    void on_drawTwoCircle_Btn_clicked();
    void on_drawText_Btn_clicked();
    void on_setLocation_Btn_clicked();

protected:
    // Never passed on to the base: no press on the panel reaches the
    // measurement scene underneath.
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    Ui::MeasureFlowPanel *ui;
    QPoint dragOffset;
    bool dragging = false;
};
