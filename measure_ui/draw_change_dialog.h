// Edits one drawn object in place: a measurement shape's outline item
// (kind 0) or one crosshair or grid line (kind 1). It shows the pen width and
// colour, whether the measurement label is shown and whether the object is
// locked against dragging; a line can also be deleted. Each change the user
// makes applies at once; opening the dialog changes nothing. It writes no
// settings. GUI thread only.
#pragma once

#include <QDialog>

class GraphicsConnect;
class GraphicsCross;

namespace Ui {
class DrawChangeDialog;
}

class DrawChangeDialog : public QDialog
{
    Q_OBJECT
public:
    enum Kind { MeasurementItem = 0, OverlayLine = 1 };

    // `object` is a GraphicsConnect for kind 0, a GraphicsCross for kind 1;
    // the dialog does not own it.
    DrawChangeDialog(void *object, int kind, QWidget *parent = nullptr);
    ~DrawChangeDialog() override;

private slots:
    void on_spinBox_2_valueChanged(int arg1);
    void on_pushButton_2_clicked();
    void on_checkBox_clicked(bool checked);
    void on_Annotation_Cbox_clicked(bool checked);
    void on_pushButton_clicked();

private:
    void showColor(const QColor &color);

    Ui::DrawChangeDialog *ui;
    GraphicsConnect *item_ = nullptr;
    GraphicsCross *line_ = nullptr;
};
