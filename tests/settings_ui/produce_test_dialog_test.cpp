// The production-test window: the flag file of the automatic zoom run, the
// curve buttons per camera model, and the zoom test bench's slider logic.
#include "produce_test_dialog.h"
#include "upgrade_test_support.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <gtest/gtest.h>

namespace {

QPushButton *button(QWidget &dialog, const char *name)
{
    return child<QPushButton>(dialog, name);
}

} // namespace

TEST(ProduceTestDialog, FlagFileLivesInAPrivateFolderWhileAutomaticZoomIsOn)
{
    ProduceTestDialog dialog;
    QSignalSpy autoZoom(&dialog, &ProduceTestDialog::signalAutoZoom);
    const QString flag = ProduceTestDialog::flagFilePath();
    ASSERT_FALSE(flag.isEmpty());
    EXPECT_TRUE(flag.startsWith(testHomeFolder())) << flag.toStdString();
    QFile::remove(flag);

    button(dialog, "AutoSet_Btn")->click();  // on
    EXPECT_TRUE(QFileInfo::exists(flag));
    const QFileInfo folder(QFileInfo(flag).path());
    EXPECT_EQ(folder.permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther
                                      | QFile::ExeGroup | QFile::ExeOther),
              QFile::Permissions());
    ASSERT_EQ(autoZoom.size(), 1);
    EXPECT_TRUE(autoZoom.first().first().toBool());

    button(dialog, "AutoSet_Btn")->click();  // off
    EXPECT_FALSE(QFileInfo::exists(flag));
    EXPECT_EQ(autoZoom.size(), 1) << "switching off emits nothing";

    button(dialog, "AutoSet_Btn")->click();  // on
    ASSERT_TRUE(QFile::remove(flag));
    button(dialog, "AutoSet_Btn")->click();  // off, with the file already gone
    EXPECT_FALSE(QFileInfo::exists(flag));

    QFile existing(flag);
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("kept");
    existing.close();
    button(dialog, "AutoSet_Btn")->click();  // on, over a file that is there: only touched
    EXPECT_EQ(fileBytes(flag), QByteArray("kept"));
    QFile::remove(flag);
}

TEST(ProduceTestDialog, ValidationCurveIsHiddenForTheW610)
{
    ProduceTestDialog dialog;
    dialog.prepareFor(QStringLiteral("usb-1-2&vid_0edc&pid_0610#000001"));
    dialog.show();
    EXPECT_FALSE(child<QWidget>(dialog, "validationCurve_Btn")->isVisible());
    EXPECT_TRUE(child<QWidget>(dialog, "CalibrationCurve_Btn")->isVisible());
    EXPECT_TRUE(child<QWidget>(dialog, "Close_btn")->isVisible());
    EXPECT_FALSE(child<QWidget>(dialog, "groupBox")->isVisible());
    EXPECT_EQ(dialog.size(), QSize(358, 119));

    dialog.prepareFor(QStringLiteral("usb-1-2&vid_0edc&pid_5830#000001"));
    EXPECT_TRUE(child<QWidget>(dialog, "validationCurve_Btn")->isVisible());
    EXPECT_TRUE(dialog.windowFlags() & Qt::FramelessWindowHint);
}

TEST(ProduceTestDialog, CurveButtonsAndClose)
{
    ProduceTestDialog dialog;
    QSignalSpy calibration(&dialog, &ProduceTestDialog::signalCalibrationCurve);
    QSignalSpy validation(&dialog, &ProduceTestDialog::signalValidationCurve);
    button(dialog, "CalibrationCurve_Btn")->click();
    button(dialog, "validationCurve_Btn")->click();
    EXPECT_EQ(calibration.size(), 1);
    EXPECT_EQ(validation.size(), 1);
    QTimer::singleShot(0, &dialog, [&] { button(dialog, "Close_btn")->click(); });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
}

TEST(ProduceTestDialog, ZoomStepsStopAtTheSliderEnds)
{
    ProduceTestDialog dialog;
    auto *slider = child<QSlider>(dialog, "Ezoom_Scroll");
    QSignalSpy zoom(&dialog, &ProduceTestDialog::signalZoomValue);
    slider->setValue(2200);
    zoom.clear();
    button(dialog, "ZoomAdd_btn")->click();
    EXPECT_EQ(slider->value(), 2200);
    EXPECT_TRUE(zoom.isEmpty());
    button(dialog, "ZoomSub_btn")->click();
    EXPECT_EQ(slider->value(), 2199);
    EXPECT_EQ(zoom.size(), 2);  // the slider's own change, then the handling once more
    EXPECT_EQ(child<QLabel>(dialog, "label_5")->text(), QStringLiteral("2199"));

    slider->setValue(-100);
    zoom.clear();
    button(dialog, "ZoomSub_btn")->click();
    EXPECT_EQ(slider->value(), -100);
    EXPECT_TRUE(zoom.isEmpty());
}

TEST(ProduceTestDialog, ZoomRangeIsTheMiddleOfTwoRecordedFocalPoints)
{
    ProduceTestDialog dialog;
    auto *slider = child<QSlider>(dialog, "Ezoom_Scroll");
    QSignalSpy recorded(&dialog, &ProduceTestDialog::signalSetOptcRioValue);
    QSignalSpy range(&dialog, &ProduceTestDialog::signalZoomRange);

    slider->setValue(700);
    button(dialog, "Zoom3_Btn")->click();  // nothing recorded yet
    EXPECT_EQ(slider->value(), 0);

    slider->setValue(500);
    button(dialog, "Lenth1780_btn01")->click();
    slider->setValue(701);
    button(dialog, "Lenth1390_btn02")->click();
    EXPECT_EQ(button(dialog, "Lenth1780_btn01")->text(), QStringLiteral("18.94mm\n500"));
    EXPECT_TRUE(button(dialog, "Lenth1780_btn01")->isChecked());
    ASSERT_EQ(recorded.size(), 2);
    EXPECT_EQ(recorded.at(1), (QVariantList{1, 701}));
    EXPECT_EQ(dialog.focalPoint(1).y(), 701);

    button(dialog, "Zoom1_Btn")->click();
    EXPECT_EQ(slider->value(), 600);  // (500 + 701) / 2, truncated
    EXPECT_EQ(range.last(), QVariantList{1});

    button(dialog, "SetZoom_btn")->click();
    EXPECT_EQ(dialog.focalPoint(0).x(), 78);
    EXPECT_EQ(dialog.focalPoint(9).x(), 520);
    EXPECT_EQ(button(dialog, "Lenth1780_btn01")->styleSheet(), QStringLiteral("background-color: white"));
}

TEST(ProduceTestDialog, AgingTestSendsTheDutyRatioFirst)
{
    ProduceTestDialog dialog;
    QStringList order;
    QObject::connect(&dialog, &ProduceTestDialog::signalChangeDutyRatio,
                     [&](int index) { order << QStringLiteral("duty %1").arg(index); });
    QObject::connect(&dialog, &ProduceTestDialog::signalAgingTest,
                     [&](bool on) { order << QStringLiteral("aging %1").arg(on); });
    child<QComboBox>(dialog, "DutyRatio_Combox")->setCurrentIndex(3);
    button(dialog, "Test_Btn")->click();
    EXPECT_EQ(order, (QStringList{QStringLiteral("duty 3"), QStringLiteral("duty 3"), QStringLiteral("aging 1")}));
}
