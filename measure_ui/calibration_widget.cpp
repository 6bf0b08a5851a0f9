#include "calibration_widget.h"

#include "ui_calibrationwidget.h"

#include <QLocale>
#include <QRegularExpressionValidator>

#include <cmath>

namespace {

// The decimal separators a length takes: a dot, a comma and the user's
// locale's own, so that a separator typed from habit never vanishes from
// the field (a length has no digit grouping).
QString decimalSeparators()
{
    QString separators = QStringLiteral(".,");
    const QChar own = QLocale().decimalPoint();
    if (!separators.contains(own))
        separators += own;
    return separators;
}

// Up to ten whole digits and six decimals: 0.5 mm is a length, 1e9 is not.
QRegularExpression lengthPattern()
{
    return QRegularExpression(QStringLiteral("\\d{0,10}([%1]\\d{0,6})?")
                                  .arg(QRegularExpression::escape(decimalSeparators())));
}

double lengthValue(QString text)
{
    for (const QChar separator : decimalSeparators())
        text.replace(separator, QLatin1Char('.'));
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

}  // namespace

CalibrationWidget::CalibrationWidget(double pixels, const QList<CalibrationRecord> &stored, QWidget *parent)
    : QDialog(parent), ui(new Ui::CalibrationWidget), pixels_(pixels), stored_(stored)
{
    ui->setupUi(this);
    ui->lineEdit_2->setValidator(new QRegularExpressionValidator(lengthPattern(), ui->lineEdit_2));
    ui->label_6->setText(QString::number(pixels, 'g', 6) + QStringLiteral(" pixel"));
    ui->label_8->hide();
}

CalibrationWidget::~CalibrationWidget()
{
    delete ui;
}

double CalibrationWidget::micrometresPerPixel(double length, const QString &unit, double pixels)
{
    if (!std::isfinite(pixels) || pixels <= 0.0)
        return 0.0;
    double real = 0.0;
    if (unit == QLatin1String("um"))
        real = length / pixels;
    else if (unit == QLatin1String("mm"))
        real = length / pixels * 1000.0;
    else if (unit == QLatin1String("mil"))
        real = length / pixels * 25.4;
    return std::isfinite(real) && real > 0.0 ? real : 0.0;
}

void CalibrationWidget::showScale(const QString &lengthText, const QString &unit)
{
    if (!std::isfinite(pixels_) || pixels_ <= 0.0
        || (unit != QLatin1String("um") && unit != QLatin1String("mm") && unit != QLatin1String("mil"))) {
        ui->label_7->clear();
        return;
    }
    const double ratio = lengthValue(lengthText) / pixels_;
    ui->label_7->setText(QString::number(ratio, 'g', 6) + QLatin1Char(' ') + unit + QStringLiteral("/pixel"));
}

void CalibrationWidget::on_lineEdit_2_textChanged(const QString &text)
{
    showScale(text, ui->comboBox->currentText());
}

void CalibrationWidget::on_comboBox_currentIndexChanged(const QString &unit)
{
    showScale(ui->lineEdit_2->text(), unit);
}

void CalibrationWidget::showError(const QString &message)
{
    ui->label_8->setText(message);
    ui->label_8->show();
}

void CalibrationWidget::on_pushButton_clicked()
{
    const CalibrationRecord info = calibrationInfo();
    if (info.name.isEmpty() || info.length <= 0.0) {
        showError(tr("Calibration parameters cannot be empty"));
        return;
    }
    // A line whose ends coincide gives no scale: nothing sensible to store.
    if (info.real <= 0.0) {
        showError(tr("The calibration shape has no length, please draw it again"));
        return;
    }
    for (const CalibrationRecord &record : qAsConst(stored_)) {
        if (record.name == info.name && record.length == info.length && record.unit == info.unit) {
            showError(tr("Calibration exist"));
            return;
        }
    }
    accept();
}

CalibrationRecord CalibrationWidget::calibrationInfo() const
{
    CalibrationRecord info;
    info.name = ui->lineEdit->text();
    info.length = lengthValue(ui->lineEdit_2->text());
    info.unit = ui->comboBox->currentText();
    info.real = micrometresPerPixel(info.length, info.unit, pixels_);
    return info;
}
