// The factory lens-test window. Only its two curve buttons reach a camera
// (focus-curve calibration and validation); the zoom test bench below them
// is built and wired to signals, but kept hidden and nobody listens to it.
// Frameless; dragged by a press anywhere in it.
#pragma once

#include <QDialog>
#include <QPointF>

class QPushButton;

namespace Ui {
class ProduceTestDialog;
}

class ProduceTestDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ProduceTestDialog(QWidget *parent = nullptr);
    ~ProduceTestDialog() override;

    // Before showing it for a camera: the W610 has no validation curve.
    // Fixes the window at its small size without the test bench.
    void prepareFor(const QString &cameraUniqueName);
    // The marker file of the automatic zoom run: "flag" in the program's
    // private runtime folder (made when missing, for the user alone).
    static QString flagFilePath();
    // The recorded zoom-slider position of focal button k (0 to 9).
    QPointF focalPoint(int k) const { return focalPoints_[k]; }

signals:
    void signalZoomAdd();
    void signalZoomSub();
    void signalBacklash();
    void signalZoomValue(int value);
    void signalSetOptcRioValue(int index, int value);
    void signalZoomRange(int range);
    void signalSetZoom();
    void signalCalibrationCurve();
    void signalAutoZoom(bool enable);
    void signalAgingTest(bool enable);
    void signalCheck();
    void signalChangeDutyRatio(int index);
    void signalSetFblValue();
    void signalSetImgEffetc(bool enable);
    void signalValidationCurve();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private slots:
    void on_CalibrationCurve_Btn_clicked();
    void on_validationCurve_Btn_clicked();
    void on_Close_btn_clicked();
    void on_Close_btn_2_clicked();
    void on_Ezoom_Scroll_valueChanged(int value);
    void on_ZoomAdd_btn_clicked();
    void on_ZoomSub_btn_clicked();
    void on_Lenth1780_btn01_clicked(bool checked);
    void on_Lenth1390_btn02_clicked(bool checked);
    void on_Lenth1070_btn03_clicked(bool checked);
    void on_Lenth870_btn04_clicked(bool checked);
    void on_Lenth700_btn05_clicked(bool checked);
    void on_Lenth580_btn06_clicked(bool checked);
    void on_Lenth520_btn07_clicked(bool checked);
    void on_Lenth410_btn08_clicked(bool checked);
    void on_Lenth310_btn09_clicked(bool checked);
    void on_Lenth267_btn10_clicked(bool checked);
    void on_Zoom1_Btn_clicked();
    void on_Zoom2_Btn_clicked();
    void on_Zoom3_Btn_clicked();
    void on_Zoom4_Btn_clicked();
    void on_Zoom5_Btn_clicked();
    void on_Zoom6_Btn_clicked();
    void on_Zoom7_Btn_clicked();
    void on_Zoom8_Btn_clicked();
    void on_Zoom9_Btn_clicked();
    void on_SetZoom_btn_clicked();
    void on_Zoom_943_Btn_clicked();
    void on_Zoom_1351_Btn_clicked();
    void on_Zoom_1905_Btn_clicked();
    void on_Zoom_1505_Btn_clicked();
    void on_Backlash_btn_clicked();
    void on_Test_Btn_clicked(bool checked);
    void on_DutyRatio_Combox_currentIndexChanged(int index);
    void on_AutoSet_Btn_clicked(bool checked);
    void on_SetFBL_Btn_clicked();
    void on_SetImgEffect_Btn_clicked(bool checked);
    void on_Check_btn_clicked();

private:
    // Focal button k was pressed: it shows and records the slider position.
    void recordFocalPoint(int k, QPushButton *button, const QString &focalLength, bool checked);
    // Zoom range n (1 to 9): the slider to the middle of focal points n-1 and n.
    void selectZoomRange(int n);
    void stepZoom(int step);

    Ui::ProduceTestDialog *ui;
    QPointF focalPoints_[10];
    bool dragging_ = false;
    QPoint offset_;  // from the window's corner to the cursor at the press
};
