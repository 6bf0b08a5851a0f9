// The calibration dialog: turns a calibration line or circle measured in
// pixels into a named calibration. The user types a name and the real
// length of the measured object, picks a unit and reads the scale; OK
// accepts only a complete entry that repeats no stored calibration. The
// caller reads the new record from calibrationInfo. GUI thread only.
#pragma once

#include "settings_store.h"

#include <QDialog>
#include <QList>

namespace Ui {
class CalibrationWidget;
}

class CalibrationWidget : public QDialog
{
    Q_OBJECT
public:
    CalibrationWidget(double pixels, const QList<CalibrationRecord> &stored, QWidget *parent = nullptr);
    ~CalibrationWidget() override;

    // The record of the current inputs; `real` in micrometres per pixel.
    CalibrationRecord calibrationInfo() const;

    // Micrometres per pixel for a real length in "um", "mm" or "mil" over
    // `pixels`; 0 when the unit is none of them or the result is not a
    // positive finite number.
    static double micrometresPerPixel(double length, const QString &unit, double pixels);

private slots:
    void on_lineEdit_2_textChanged(const QString &text);
    void on_comboBox_currentIndexChanged(const QString &unit);
    void on_pushButton_clicked();

private:
    void showScale(const QString &lengthText, const QString &unit);
    void showError(const QString &message);

    Ui::CalibrationWidget *ui;
    double pixels_;
    QList<CalibrationRecord> stored_;
};
