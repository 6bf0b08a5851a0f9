// The measuring page of the main window's side panel: drawing tools, up to
// seven user-chosen shortcut buttons, edge snapping, export of the
// measurement table, length unit, calibrations (made, chosen and deleted
// here) and the drawing properties of measurements. The panel never talks to
// a view: every choice is written to the settings store and leaves as a
// signal that the main window hands to every view. GUI thread only.
#pragma once

#include "draw_type.h"
#include "settings_store.h"

#include <QMap>
#include <QSet>
#include <QStringList>
#include <QVariant>
#include <QWidget>

class QPushButton;

namespace Ui {
class MeasureWidget;
}

class MeasureWidget : public QWidget
{
    Q_OBJECT
public:
    explicit MeasureWidget(QWidget *parent = nullptr);
    ~MeasureWidget() override;

    // Restores the chosen calibration, unit and drawing properties; every
    // control that changes reports its value through its own signal, so the
    // main window calls this once, after connecting. What is restored is not
    // written back: the files change only when the user changes something.
    void loadSettings();
    // A calibration line or circle of `pixels` was finished in a view, on a
    // picture `pictureWidth` pixels wide (0: not known): asks for its real
    // length, keeps the accepted calibration and returns the views to hand
    // mode, accepted or not.
    void onCaliOver(double pixels, int pictureWidth = 0);
    void retranslate();

    // The tool (e.g. "drawLine") of each shortcut button, "" for a hidden one.
    QMap<QPushButton *, QString> commonTools() const { return commonTools_; }

signals:
    void signalEdgeEnable(bool enable);
    void signalSetDrawMode(DrawType type);
    void signalExportData();
    void drawChange(DrawProperty id, const QVariant &value);
    // "pix", "um", "mm" or "mil", in every language.
    void signalUnitChange(const QString &unit);
    // Micrometres per pixel of pictures `pictureWidth` pixels wide (0: any
    // width, the one the picture has when it is chosen); 1.0 when no
    // calibration is chosen.
    void calibrateChange(double umPerPixel, int pictureWidth = 0);

public slots:
    // Releases the draw buttons: none stays shown as pressed.
    void slotClearDrawType();

private slots:
    void on_drawLine_btn_clicked();
    void on_drawHLine_btn_clicked();
    void on_drawVLine_btn_clicked();
    void on_drawPar_btn_clicked();
    void on_drawVer_btn_clicked();
    void on_drawTwoCircle_btn_clicked();
    void on_drawLineCircle_btn_clicked();
    void on_drawRect_btn_clicked();
    void on_drawPoly_btn_clicked();
    void on_drawCircle_btn_clicked();
    void on_drawArc_btn_clicked();
    void on_drawAng_btn_clicked();
    void on_drawThreeAng_btn_clicked();
    void on_drawCommonBtn1_btn_clicked();
    void on_drawCommonBtn2_btn_clicked();
    void on_drawCommonBtn3_btn_clicked();
    void on_drawCommonBtn4_btn_clicked();
    void on_drawCommonBtn5_btn_clicked();
    void on_drawCommonBtn6_btn_clicked();
    void on_drawCommonBtn7_btn_clicked();
    void on_commonSetBtn_btn_clicked();
    void on_edge_btn_clicked(bool checked);
    void on_drawLineCalibrate_btn_clicked();
    void on_drawCircleCalibrate_btn_clicked();
    void on_exportCSV_btn_clicked();
    void on_floatNum_spbox_valueChanged(int arg1);
    void on_antialiasing_checkBox_clicked(bool checked);
    void on_lineColor_tBtn_clicked();
    void on_lineSize_comboBox_currentIndexChanged(int index);
    void onLineStylePic_Cbox_IndexChanged(Qt::PenStyle style);
    void on_fontColor_tBtn_clicked();
    void on_font_comboBox_currentFontChanged(const QFont &font);
    void on_fontSize_comboBox_currentTextChanged(const QString &text);
    void removeCalibrateData(const QString &text, const QVariant &id);
    void on_unit_comboBox_currentIndexChanged(int index);
    void on_calibrate_comboBox_currentIndexChanged(int index);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void addCalibration(const CalibrationRecord &info, bool save);
    void applyCommonTools(const QStringList &tools);
    void refreshCommonToolTips();
    void useCommonTool(QPushButton *button);
    void storeAndSend(DrawProperty id, const QVariant &value);
    // Writes a value the user chose; nothing while loadSettings restores.
    void storeDraw(DrawProperty id, const QVariant &value);
    void storeCalibrationSetting(int id, const QVariant &value);
    // Stores which calibration is chosen; nothing while loadSettings restores.
    void storeCalibrationChoice();

    Ui::MeasureWidget *ui;
    QMap<QPushButton *, QString> commonTools_;
    // Calibrations by id; one for every row of the calibration list.
    QMap<QString, CalibrationRecord> calibrations_;
    bool restoring_ = false;
};
