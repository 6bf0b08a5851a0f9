#include "produce_test_dialog.h"

#include "ui_producetestdialog.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMouseEvent>
#include <QStandardPaths>

namespace {

// Zoom positions of the ten focal lengths on the reference lens.
constexpr double kReferenceZoom[10] = {78, 100, 130, 160, 200, 240, 270, 340, 450, 520};
constexpr int kZoomMinimum = -100;
constexpr int kZoomMaximum = 2200;

QDebug logLine()
{
    return qDebug().nospace().noquote();
}

// Creates the flag file, or only touches it when it is there.
bool touchFlagFile(const QString &path)
{
    const QString folder = QFileInfo(path).path();
    if (!QDir().mkpath(folder)
        || !QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        logLine() << "Cannot make the folder " << folder;
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        logLine() << "Cannot create " << path << ": " << file.errorString();
        return false;
    }
    file.setFileTime(QDateTime::currentDateTime(), QFileDevice::FileModificationTime);
    return true;
}

void removeFlagFile(const QString &path)
{
    QFile file(path);
    if (file.exists() && !file.remove())
        logLine() << "Cannot remove " << path << ": " << file.errorString();
}

} // namespace

ProduceTestDialog::ProduceTestDialog(QWidget *parent) : QDialog(parent), ui(new Ui::ProduceTestDialog)
{
    ui->setupUi(this);
    ui->widget->hide();
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
}

ProduceTestDialog::~ProduceTestDialog()
{
    delete ui;
}

QString ProduceTestDialog::flagFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QStringLiteral("/Vorenta/flag");
}

void ProduceTestDialog::prepareFor(const QString &cameraUniqueName)
{
    ui->groupBox->hide();
    ui->validationCurve_Btn->setVisible(!cameraUniqueName.contains(QLatin1String("pid_0610")));
    setFixedSize(358, 119);
}

void ProduceTestDialog::on_CalibrationCurve_Btn_clicked()
{
    emit signalCalibrationCurve();
}

void ProduceTestDialog::on_validationCurve_Btn_clicked()
{
    emit signalValidationCurve();
}

void ProduceTestDialog::on_Close_btn_clicked()
{
    reject();
}

void ProduceTestDialog::on_Close_btn_2_clicked()
{
    reject();
}

void ProduceTestDialog::on_Ezoom_Scroll_valueChanged(int value)
{
    ui->label_5->setText(QString::number(value));
    emit signalZoomValue(value);
}

void ProduceTestDialog::stepZoom(int step)
{
    const int value = ui->Ezoom_Scroll->value() + step;
    if (value < kZoomMinimum || value > kZoomMaximum)
        return;
    ui->Ezoom_Scroll->setValue(value);
    on_Ezoom_Scroll_valueChanged(value);
}

void ProduceTestDialog::on_ZoomAdd_btn_clicked()
{
    stepZoom(1);
}

void ProduceTestDialog::on_ZoomSub_btn_clicked()
{
    stepZoom(-1);
}

void ProduceTestDialog::recordFocalPoint(int k, QPushButton *button, const QString &focalLength, bool checked)
{
    const int value = ui->Ezoom_Scroll->value();
    button->setChecked(checked);
    button->setStyleSheet(QStringLiteral(" background: #5a96fa;"));
    button->setText(focalLength + QLatin1Char('\n') + QString::number(value));
    focalPoints_[k].setY(value);
    emit signalSetOptcRioValue(k, value);
}

void ProduceTestDialog::on_Lenth1780_btn01_clicked(bool checked)
{
    recordFocalPoint(0, ui->Lenth1780_btn01, QStringLiteral("18.94mm"), checked);
}

void ProduceTestDialog::on_Lenth1390_btn02_clicked(bool checked)
{
    recordFocalPoint(1, ui->Lenth1390_btn02, QStringLiteral("15.30mm"), checked);
}

void ProduceTestDialog::on_Lenth1070_btn03_clicked(bool checked)
{
    recordFocalPoint(2, ui->Lenth1070_btn03, QStringLiteral("11.80mm"), checked);
}

void ProduceTestDialog::on_Lenth870_btn04_clicked(bool checked)
{
    recordFocalPoint(3, ui->Lenth870_btn04, QStringLiteral("9.60mm"), checked);
}

void ProduceTestDialog::on_Lenth700_btn05_clicked(bool checked)
{
    recordFocalPoint(4, ui->Lenth700_btn05, QStringLiteral("7.70mm"), checked);
}

void ProduceTestDialog::on_Lenth580_btn06_clicked(bool checked)
{
    recordFocalPoint(5, ui->Lenth580_btn06, QStringLiteral("6.40mm"), checked);
}

void ProduceTestDialog::on_Lenth520_btn07_clicked(bool checked)
{
    recordFocalPoint(6, ui->Lenth520_btn07, QStringLiteral("5.70mm"), checked);
}

void ProduceTestDialog::on_Lenth410_btn08_clicked(bool checked)
{
    recordFocalPoint(7, ui->Lenth410_btn08, QStringLiteral("4.50mm"), checked);
}

void ProduceTestDialog::on_Lenth310_btn09_clicked(bool checked)
{
    recordFocalPoint(8, ui->Lenth310_btn09, QStringLiteral("3.40mm"), checked);
}

void ProduceTestDialog::on_Lenth267_btn10_clicked(bool checked)
{
    recordFocalPoint(9, ui->Lenth267_btn10, QStringLiteral("2.92mm"), checked);
}

void ProduceTestDialog::selectZoomRange(int n)
{
    ui->Ezoom_Scroll->setValue(int((focalPoints_[n - 1].y() + focalPoints_[n].y()) * 0.5));
    emit signalZoomRange(n);
}

void ProduceTestDialog::on_Zoom1_Btn_clicked()
{
    selectZoomRange(1);
}

void ProduceTestDialog::on_Zoom2_Btn_clicked()
{
    selectZoomRange(2);
}

void ProduceTestDialog::on_Zoom3_Btn_clicked()
{
    selectZoomRange(3);
}

void ProduceTestDialog::on_Zoom4_Btn_clicked()
{
    selectZoomRange(4);
}

void ProduceTestDialog::on_Zoom5_Btn_clicked()
{
    selectZoomRange(5);
}

void ProduceTestDialog::on_Zoom6_Btn_clicked()
{
    selectZoomRange(6);
}

void ProduceTestDialog::on_Zoom7_Btn_clicked()
{
    selectZoomRange(7);
}

void ProduceTestDialog::on_Zoom8_Btn_clicked()
{
    selectZoomRange(8);
}

void ProduceTestDialog::on_Zoom9_Btn_clicked()
{
    selectZoomRange(9);
}

void ProduceTestDialog::on_SetZoom_btn_clicked()
{
    for (QPushButton *button : findChildren<QPushButton *>()) {
        if (button->objectName().contains(QLatin1String("Lenth")))
            button->setStyleSheet(QStringLiteral("background-color: white"));
    }
    for (int k = 0; k < 10; ++k)
        focalPoints_[k].setX(kReferenceZoom[k]);
    emit signalSetZoom();
}

void ProduceTestDialog::on_Zoom_943_Btn_clicked()
{
    emit signalZoomValue(943);
}

void ProduceTestDialog::on_Zoom_1351_Btn_clicked()
{
    emit signalZoomValue(1351);
}

void ProduceTestDialog::on_Zoom_1905_Btn_clicked()
{
    emit signalZoomValue(1905);
}

void ProduceTestDialog::on_Zoom_1505_Btn_clicked()
{
    emit signalZoomValue(1505);
}

void ProduceTestDialog::on_Backlash_btn_clicked()
{
    ui->ZoomCompLeft_ledt->setText(QStringLiteral("0"));
    ui->ZoomCompRight_ledt->setText(QStringLiteral("0"));
    emit signalBacklash();
}

void ProduceTestDialog::on_Test_Btn_clicked(bool checked)
{
    emit signalChangeDutyRatio(ui->DutyRatio_Combox->currentIndex());
    emit signalAgingTest(checked);
}

void ProduceTestDialog::on_DutyRatio_Combox_currentIndexChanged(int index)
{
    emit signalChangeDutyRatio(index);
}

void ProduceTestDialog::on_AutoSet_Btn_clicked(bool checked)
{
    if (checked) {
        touchFlagFile(flagFilePath());
        emit signalAutoZoom(true);
    } else {
        removeFlagFile(flagFilePath());
    }
}

void ProduceTestDialog::on_SetFBL_Btn_clicked()
{
    emit signalSetFblValue();
}

void ProduceTestDialog::on_SetImgEffect_Btn_clicked(bool checked)
{
    emit signalSetImgEffetc(checked);
}

void ProduceTestDialog::on_Check_btn_clicked()
{
    emit signalCheck();
}

void ProduceTestDialog::mousePressEvent(QMouseEvent *event)
{
    dragging_ = true;
    offset_ = event->globalPos() - pos();
    QDialog::mousePressEvent(event);
}

void ProduceTestDialog::mouseMoveEvent(QMouseEvent *event)
{
    if (dragging_)
        move(event->globalPos() - offset_);
    QDialog::mouseMoveEvent(event);
}

void ProduceTestDialog::mouseReleaseEvent(QMouseEvent *event)
{
    dragging_ = false;
    QDialog::mouseReleaseEvent(event);
}
