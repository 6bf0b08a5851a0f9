// Calibrations: the list box with delete buttons, the calibration dialog, and
// the measuring tool panel making, choosing and deleting calibrations across
// restarts.
#include "calibration_combo_box.h"
#include "calibration_widget.h"
#include "measure_widget.h"
#include "panel_test_support.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTranslator>

#include <memory>

namespace {

QPushButton *deleteButtonOf(ComboBox &box, int row)
{
    auto *item = qobject_cast<ComboItem *>(box.comboView()->itemWidget(box.comboView()->item(row)));
    return item ? item->deleteButton() : nullptr;
}

CalibrationRecord record(const QString &name, double length, const QString &unit, double real)
{
    CalibrationRecord r;
    r.name = name;
    r.length = length;
    r.unit = unit;
    r.real = real;
    return r;
}

}  // namespace

TEST(CalibrationListBox, FirstRowIsAnnouncedWithItsDataInPlace)
{
    ComboBox box;
    QList<double> seen;
    QObject::connect(&box, QOverload<int>::of(&QComboBox::currentIndexChanged), [&](int index) {
        seen << box.itemData(index, Qt::UserRole).toDouble();
    });
    box.addRow("ruler, 100um", 2.5, "a");
    ASSERT_FALSE(seen.isEmpty());
    EXPECT_EQ(seen.last(), 2.5);
    EXPECT_EQ(box.currentIndex(), 0);
    const int before = seen.size();
    box.addRow("grid, 1mm", 4.0, "b");
    EXPECT_EQ(seen.size(), before);  // a second row is not announced
    EXPECT_EQ(box.comboView()->item(1)->toolTip(), "grid, 1mm");
}

TEST(CalibrationListBox, RowsWithTheSameTextGoOneAtATime)
{
    ComboBox box;
    box.resize(200, 30);
    box.show();
    box.addRow("ruler, 100um", 1.0, "a");
    box.addRow("ruler, 100um", 2.0, "b");
    box.addRow("grid, 1mm", 3.0, "c");
    QSignalSpy removed(&box, &ComboBox::itemRemoved);
    box.showPopup();
    QPushButton *button = deleteButtonOf(box, 1);
    ASSERT_NE(button, nullptr);
    QPointer<QPushButton> watch(button);
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_EQ(removed.size(), 1);
    EXPECT_EQ(removed.at(0).at(0).toString(), "ruler, 100um");
    EXPECT_EQ(removed.at(0).at(1).toString(), "b");
    ASSERT_EQ(box.count(), 2);
    EXPECT_EQ(box.itemData(0, Qt::UserRole).toDouble(), 1.0);
    EXPECT_EQ(box.itemData(1, Qt::UserRole).toDouble(), 3.0);
    EXPECT_FALSE(box.view()->isVisible());
    // The row widget whose button was clicked goes once the click is over.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(watch.isNull());

    // The rows moved up: each button still deletes its own row.
    box.showPopup();
    QTest::mouseClick(deleteButtonOf(box, 1), Qt::LeftButton);
    ASSERT_EQ(removed.size(), 2);
    EXPECT_EQ(removed.at(1).at(1).toString(), "c");
    box.showPopup();
    QTest::mouseClick(deleteButtonOf(box, 0), Qt::LeftButton);
    EXPECT_EQ(box.count(), 0);
    EXPECT_EQ(box.currentIndex(), -1);
}

TEST(CalibrationDialog, ScaleFollowsLengthAndUnit)
{
    CalibrationWidget dialog(200, {});
    auto *name = dialog.findChild<QLineEdit *>("lineEdit");
    auto *length = dialog.findChild<QLineEdit *>("lineEdit_2");
    auto *unit = dialog.findChild<QComboBox *>("comboBox");
    auto *pixelLabel = dialog.findChild<QLabel *>("label_6");
    auto *scale = dialog.findChild<QLabel *>("label_7");
    EXPECT_EQ(pixelLabel->text(), "200 pixel");
    EXPECT_EQ(unit->currentText(), "mm");
    name->setText("ruler");
    QTest::keyClicks(length, "1");
    EXPECT_EQ(scale->text(), "0.005 mm/pixel");
    unit->setCurrentText("um");
    EXPECT_EQ(scale->text(), "0.005 um/pixel");
    EXPECT_EQ(pixelLabel->text(), "200 pixel");
}

TEST(CalibrationDialog, TheRecordKeepsMicrometresPerPixelInEveryUnit)
{
    // 10 of the unit over 100 pixels. Multiplying where the unit needs a
    // division (or the reverse) by 1000 or 25.4 gives another number.
    const struct {
        const char *unit;
        double real;
    } cases[] = {{"um", 0.1}, {"mm", 100.0}, {"mil", 2.54}};
    for (const auto &c : cases) {
        CalibrationWidget dialog(100, {});
        dialog.findChild<QLineEdit *>("lineEdit")->setText("ruler");
        dialog.findChild<QLineEdit *>("lineEdit_2")->setText("10");
        dialog.findChild<QComboBox *>("comboBox")->setCurrentText(c.unit);
        dialog.findChild<QPushButton *>("pushButton")->click();
        ASSERT_EQ(dialog.result(), QDialog::Accepted) << c.unit;
        const CalibrationRecord info = dialog.calibrationInfo();
        EXPECT_EQ(info.unit, c.unit);
        EXPECT_DOUBLE_EQ(info.length, 10.0) << c.unit;
        EXPECT_DOUBLE_EQ(info.real, c.real) << c.unit;
    }
}

// A decimal comma, typed in a German locale or from habit in an English
// one, is a decimal separator like the dot: it never vanishes, turning 1,5
// into 15.
TEST(CalibrationDialog, LengthsTakeDecimalsButNoSignsOrLetters)
{
    const QLocale before;
    for (const QLocale::Language language : {QLocale::English, QLocale::German}) {
        QLocale::setDefault(QLocale(language));
        for (const char *typed : {"-0.5x", "-0,5x"}) {
            CalibrationWidget dialog(200, {});
            auto *length = dialog.findChild<QLineEdit *>("lineEdit_2");
            QTest::keyClicks(length, typed);
            EXPECT_EQ(length->text(), QString(typed).mid(1, 3)) << typed;
            dialog.findChild<QLineEdit *>("lineEdit")->setText("half");
            EXPECT_DOUBLE_EQ(dialog.calibrationInfo().length, 0.5) << typed;
            EXPECT_DOUBLE_EQ(dialog.calibrationInfo().real, 2.5) << typed;  // 0.5 mm over 200 px
        }
    }
    QLocale::setDefault(before);
}

TEST(CalibrationDialog, IncompleteOrRepeatedEntriesStayOpen)
{
    CalibrationWidget dialog(200, {record("ruler", 1, "mm", 5)});
    auto *name = dialog.findChild<QLineEdit *>("lineEdit");
    auto *length = dialog.findChild<QLineEdit *>("lineEdit_2");
    auto *unit = dialog.findChild<QComboBox *>("comboBox");
    auto *error = dialog.findChild<QLabel *>("label_8");
    auto *ok = dialog.findChild<QPushButton *>("pushButton");
    dialog.show();
    EXPECT_FALSE(error->isVisible());

    name->setText("ruler");
    length->setText("0");
    ok->click();
    EXPECT_TRUE(error->isVisible());
    EXPECT_EQ(error->text(), "Calibration parameters cannot be empty");
    EXPECT_EQ(dialog.result(), QDialog::Rejected);

    length->setText("1");
    ok->click();
    EXPECT_EQ(error->text(), "Calibration exist");
    EXPECT_TRUE(dialog.isVisible());

    name->setText("Ruler");  // differs in case: a new calibration
    ok->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);

    CalibrationWidget other(200, {record("ruler", 1, "mm", 5)});
    other.findChild<QLineEdit *>("lineEdit")->setText("ruler");
    other.findChild<QLineEdit *>("lineEdit_2")->setText("1");
    other.findChild<QComboBox *>("comboBox")->setCurrentText("um");
    other.findChild<QPushButton *>("pushButton")->click();
    EXPECT_EQ(other.result(), QDialog::Accepted);
    (void)unit;
}

TEST(CalibrationDialog, AShapeWithoutLengthIsRefused)
{
    for (double pixels : {0.0, -3.0, std::numeric_limits<double>::quiet_NaN()}) {
        CalibrationWidget dialog(pixels, {});
        dialog.findChild<QLineEdit *>("lineEdit")->setText("ruler");
        dialog.findChild<QLineEdit *>("lineEdit_2")->setText("1");
        EXPECT_TRUE(dialog.findChild<QLabel *>("label_7")->text().isEmpty());
        dialog.findChild<QPushButton *>("pushButton")->click();
        EXPECT_EQ(dialog.result(), QDialog::Rejected) << pixels;
        EXPECT_FALSE(dialog.findChild<QLabel *>("label_8")->text().isEmpty());
        EXPECT_EQ(dialog.calibrationInfo().real, 0.0);
    }
}

namespace {

// Fills and accepts the calibration dialog when it comes.
std::unique_ptr<ModalAnswer<CalibrationWidget>> answerCalibration(const QString &name, const QString &length,
                                                                  const QString &unit)
{
    return std::make_unique<ModalAnswer<CalibrationWidget>>([=](CalibrationWidget *dialog) {
        dialog->findChild<QLineEdit *>("lineEdit")->setText(name);
        dialog->findChild<QLineEdit *>("lineEdit_2")->setText(length);
        dialog->findChild<QComboBox *>("comboBox")->setCurrentText(unit);
        dialog->findChild<QPushButton *>("pushButton")->click();
    });
}

class PanelCalibration : public PanelTest
{
protected:
    ComboBox *list(MeasureWidget &panel) { return panel.findChild<ComboBox *>("calibrate_comboBox"); }
};

}  // namespace

TEST_F(PanelCalibration, FirstStartChoosesNothingAndSendsNothing)
{
    MeasureWidget panel;
    QSignalSpy calibration(&panel, &MeasureWidget::calibrateChange);
    QSignalSpy unit(&panel, &MeasureWidget::signalUnitChange);
    panel.loadSettings();
    EXPECT_EQ(list(panel)->count(), 0);
    EXPECT_EQ(list(panel)->currentIndex(), -1);
    EXPECT_TRUE(calibration.isEmpty());
    EXPECT_TRUE(unit.isEmpty());
    EXPECT_EQ(panel.findChild<QComboBox *>("unit_comboBox")->currentText(), "pix");
}

TEST_F(PanelCalibration, AcceptedCalibrationIsChosenStoredAndBackAfterARestart)
{
    {
        MeasureWidget panel;
        panel.loadSettings();
        QSignalSpy calibration(&panel, &MeasureWidget::calibrateChange);
        QSignalSpy mode(&panel, &MeasureWidget::signalSetDrawMode);
        // At the moment the value is sent, the store already holds the choice.
        QList<QVariant> storedIndexAtEmit;
        QObject::connect(&panel, &MeasureWidget::calibrateChange, [&] {
            storedIndexAtEmit << SettingsStore::instance().loadCalibrationSettings().value(1);
        });
        auto answer = answerCalibration("ruler", "0.5", "mm");
        panel.onCaliOver(200);
        ASSERT_TRUE(answer->answered());
        ASSERT_FALSE(calibration.isEmpty());
        EXPECT_DOUBLE_EQ(calibration.last().at(0).toDouble(), 2.5);
        EXPECT_EQ(storedIndexAtEmit.last().toInt(), 0);
        EXPECT_EQ(list(panel)->currentText(), "ruler, 0.5mm");
        ASSERT_EQ(mode.size(), 1);
        EXPECT_EQ(mode.at(0).at(0).value<DrawType>(), DrawType::Hand);
        EXPECT_EQ(raw("calibration.ini", "calibrate/1/name").toString(), "ruler");
        EXPECT_EQ(raw("calibration.ini", "calibrate/1/real").toDouble(), 2.5);
        EXPECT_EQ(raw("calibration.ini", "settings/Index").toInt(), 0);
    }
    MeasureWidget again;
    QSignalSpy calibration(&again, &MeasureWidget::calibrateChange);
    again.loadSettings();
    ASSERT_EQ(list(again)->count(), 1);
    EXPECT_EQ(list(again)->currentIndex(), 0);
    ASSERT_EQ(calibration.size(), 1);
    EXPECT_DOUBLE_EQ(calibration.at(0).at(0).toDouble(), 2.5);
}

TEST_F(PanelCalibration, CancelledDialogAddsNothingButReleasesTheTool)
{
    MeasureWidget panel;
    panel.loadSettings();
    auto *lineTool = panel.findChild<QPushButton *>("drawLineCalibrate_btn");
    QSignalSpy mode(&panel, &MeasureWidget::signalSetDrawMode);
    lineTool->click();
    ASSERT_EQ(mode.size(), 1);
    EXPECT_EQ(mode.at(0).at(0).value<DrawType>(), DrawType::LCali);
    ModalAnswer<CalibrationWidget> cancel([](CalibrationWidget *dialog) { dialog->reject(); });
    panel.onCaliOver(120);
    EXPECT_TRUE(cancel.answered());
    EXPECT_EQ(list(panel)->count(), 0);
    ASSERT_EQ(mode.size(), 2);
    EXPECT_EQ(mode.at(1).at(0).value<DrawType>(), DrawType::Hand);
    EXPECT_FALSE(QFile::exists(ini("calibration.ini")) && raw("calibration.ini", "calibrate/size").toInt() > 0);
}

TEST_F(PanelCalibration, TwoCalibrationsWithTheSameTextStayTwoAndGoOneByOne)
{
    {
        MeasureWidget panel;
        panel.loadSettings();
        auto first = answerCalibration("ruler", "1", "mm");
        panel.onCaliOver(100);  // 10 um per pixel
        // The same name and length again, on another line: the dialog sees
        // the stored one and refuses; entered in "um" it is a second one.
        auto second = answerCalibration("ruler", "1", "um");
        panel.onCaliOver(100);
        ASSERT_EQ(list(panel)->count(), 2);
        // A copy with the same text, as an older version could have stored it.
        CalibrationRecord twin = record("ruler", 1, "mm", 20);
        SettingsStore::instance().addCalibration(twin);
    }
    MeasureWidget panel;
    panel.loadSettings();
    ComboBox *box = list(panel);
    ASSERT_EQ(box->count(), 3);
    EXPECT_EQ(box->itemText(0), box->itemText(2));
    box->setCurrentIndex(2);
    QSignalSpy calibration(&panel, &MeasureWidget::calibrateChange);
    box->showPopup();
    QTest::mouseClick(deleteButtonOf(*box, 0), Qt::LeftButton);
    ASSERT_EQ(box->count(), 2);
    EXPECT_EQ(box->itemText(1), "ruler, 1mm");  // its twin stays
    const QList<CalibrationRecord> stored = SettingsStore::instance().calibrations();
    ASSERT_EQ(stored.size(), 2);
    EXPECT_EQ(stored[0].unit, "um");
    EXPECT_DOUBLE_EQ(stored[1].real, 20.0);
    // The chosen row moved up: its index is stored and its value sent.
    EXPECT_EQ(raw("calibration.ini", "settings/Index").toInt(), 1);
    ASSERT_FALSE(calibration.isEmpty());
    EXPECT_DOUBLE_EQ(calibration.last().at(0).toDouble(), 20.0);
}

TEST_F(PanelCalibration, DeletingTheLastCalibrationSendsOneMicrometrePerPixel)
{
    SettingsStore::instance().addCalibration(record("ruler", 1, "mm", 5));
    MeasureWidget panel;
    panel.loadSettings();
    ComboBox *box = list(panel);
    ASSERT_EQ(box->currentIndex(), 0);
    QSignalSpy calibration(&panel, &MeasureWidget::calibrateChange);
    box->showPopup();
    QTest::mouseClick(deleteButtonOf(*box, 0), Qt::LeftButton);
    ASSERT_EQ(calibration.size(), 1);
    EXPECT_DOUBLE_EQ(calibration.at(0).at(0).toDouble(), 1.0);
    EXPECT_EQ(raw("calibration.ini", "settings/Index").toInt(), -1);
    EXPECT_TRUE(SettingsStore::instance().calibrations().isEmpty());
}

// An Index or a unit that names nothing the panel has is damage: named,
// and the first row and "pix" are used, as with none stored.
TEST_F(PanelCalibration, AStoredIndexPastTheListIsNamedAndTheFirstRowChosen)
{
    SettingsStore::instance().addCalibration(record("ruler", 1, "mm", 5));
    SettingsStore::instance().setCalibrationSetting(1, 1);
    SettingsStore::instance().setCalibrationSetting(2, 9);
    MeasureWidget panel;
    QSignalSpy calibration(&panel, &MeasureWidget::calibrateChange);
    QSignalSpy unit(&panel, &MeasureWidget::signalUnitChange);
    panel.loadSettings();
    EXPECT_EQ(list(panel)->currentText(), "ruler, 1mm");
    ASSERT_EQ(calibration.size(), 1);
    EXPECT_DOUBLE_EQ(calibration.at(0).at(0).toDouble(), 5.0);
    EXPECT_TRUE(unit.isEmpty());
    EXPECT_EQ(panel.findChild<QComboBox *>("unit_comboBox")->currentText(), "pix");
    const QList<IgnoredSettings> ignored = SettingsStore::instance().ignoredSettings();
    ASSERT_EQ(ignored.size(), 1);
    QStringList named = ignored.at(0).keys;
    named.sort();
    EXPECT_EQ(named, QStringList({"Index", "Unit"}));
    // Index 0 is that row: nothing to name.
    SettingsStore::instance().setCalibrationSetting(1, 0);
    SettingsStore::instance().setCalibrationSetting(2, 1);
    EXPECT_TRUE(SettingsStore::instance().ignoredSettings().isEmpty());
}

// "Index" counts the stored entries, a damaged one too, as every version
// reads it: the calibration chosen stays the one chosen.
TEST_F(PanelCalibration, TheStoredIndexCountsTheEntriesTheListLeavesOut)
{
    {
        QFile file(ini("calibration.ini"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[calibrate]\nsize=3\n1\\name=A\n1\\length=abc\n1\\unit=mm\n1\\real=5\n"
                   "2\\name=B\n2\\length=1\n2\\unit=mm\n2\\real=2\n"
                   "3\\name=C\n3\\length=1\n3\\unit=mm\n3\\real=7\n[settings]\nIndex=1\n");
    }
    MeasureWidget panel;
    QSignalSpy calibration(&panel, &MeasureWidget::calibrateChange);
    panel.loadSettings();
    ComboBox *box = list(panel);
    ASSERT_EQ(box->count(), 2);
    EXPECT_EQ(box->currentText(), "B, 1mm");
    ASSERT_EQ(calibration.size(), 1);
    EXPECT_DOUBLE_EQ(calibration.at(0).at(0).toDouble(), 2.0);

    box->setCurrentIndex(1);
    EXPECT_EQ(raw("calibration.ini", "settings/Index").toInt(), 2);
    // Deleting B moves C up a place in the file.
    box->showPopup();
    QTest::mouseClick(deleteButtonOf(*box, 0), Qt::LeftButton);
    EXPECT_EQ(box->currentText(), "C, 1mm");
    EXPECT_EQ(raw("calibration.ini", "settings/Index").toInt(), 1);
    EXPECT_EQ(raw("calibration.ini", "calibrate/2/name").toString(), "C");
}

TEST_F(PanelCalibration, ACalibrationThatCannotBeWrittenIsReportedAndKeptForTheSession)
{
    MeasureWidget panel;
    panel.loadSettings();
    // A folder in place of the file: nothing can be written there.
    ASSERT_TRUE(QDir(dir.path()).mkdir("calibration.ini"));
    QSignalSpy calibration(&panel, &MeasureWidget::calibrateChange);
    auto answer = answerCalibration("ruler", "1", "mm");
    QString warning;
    ModalAnswer<QMessageBox> report([&](QMessageBox *box) {
        warning = box->text();
        box->accept();
    });
    panel.onCaliOver(100);
    EXPECT_TRUE(report.answered());
    EXPECT_TRUE(warning.contains("could not be saved to " + ini("calibration.ini") + " (a folder has its name);"))
        << warning.toStdString();
    ASSERT_EQ(list(panel)->count(), 1);
    ASSERT_FALSE(calibration.isEmpty());
    EXPECT_DOUBLE_EQ(calibration.last().at(0).toDouble(), 10.0);
}

TEST_F(PanelCalibration, UnitRowIsStoredAndSentAsItsTextInEveryLanguage)
{
    MeasureWidget panel;
    panel.loadSettings();
    QSignalSpy unit(&panel, &MeasureWidget::signalUnitChange);
    QList<int> storedAtEmit;
    QObject::connect(&panel, &MeasureWidget::signalUnitChange,
            [&] { storedAtEmit << SettingsStore::instance().loadCalibrationSettings().value(2).toInt(); });
    auto *units = panel.findChild<QComboBox *>("unit_comboBox");
    units->setCurrentIndex(2);
    {
        QTranslator chinese;
        ASSERT_TRUE(chinese.load(":/Language/language_cn.qm"));
        QCoreApplication::installTranslator(&chinese);
        panel.retranslate();
        const QString accuracy = panel.findChild<QLabel *>("label")->text();
        units->setCurrentIndex(1);
        QCoreApplication::removeTranslator(&chinese);
        panel.retranslate();
        EXPECT_EQ(accuracy, chinese.translate("MeasureWidget", "Accuracy"));
    }
    ASSERT_EQ(unit.size(), 2);
    EXPECT_EQ(unit.at(0).at(0).toString(), "mm");
    EXPECT_EQ(unit.at(1).at(0).toString(), "um");
    EXPECT_EQ(storedAtEmit, QList<int>({2, 1}));

    MeasureWidget again;
    QSignalSpy restored(&again, &MeasureWidget::signalUnitChange);
    again.loadSettings();
    ASSERT_EQ(restored.size(), 1);
    EXPECT_EQ(restored.at(0).at(0).toString(), "um");
}
