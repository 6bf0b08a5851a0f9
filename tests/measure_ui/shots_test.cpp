// Screenshots of the panels and dialogs, in English and Chinese, for a person
// to look at: written only when VORENTA_SHOT_DIR names a folder.
#include "calibration_widget.h"
#include "common_tool_set_dialog.h"
#include "draw_change_dialog.h"
#include "label_widget.h"
#include "measure.h"
#include "measure_test_support.h"
#include "measure_widget.h"
#include "panel_test_support.h"
#include "photo_settings.h"
#include "property_dialogs.h"
#include "video_widget.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QTabWidget>
#include <QTranslator>

namespace {

class Shots : public PanelTest
{
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        folder = qEnvironmentVariable("VORENTA_SHOT_DIR");
        if (folder.isEmpty())
            GTEST_SKIP() << "VORENTA_SHOT_DIR is not set";
        QFile sheet(":/qss/black.qss");
        ASSERT_TRUE(sheet.open(QIODevice::ReadOnly));
        styleSheet = QString::fromUtf8(sheet.readAll());
    }
    void shoot(QWidget &widget, const QString &name)
    {
        widget.setStyleSheet(styleSheet);
        widget.show();
        QApplication::processEvents();
        EXPECT_TRUE(widget.grab().save(folder + "/" + name + "-" + language + ".png")) << name.toStdString();
    }
    void shootAll()
    {
        // Visible colours on the dark picture.
        SettingsStore::instance().setDrawValue(LineColor, QColor(255, 220, 0));
        SettingsStore::instance().setDrawValue(TextColor, QColor(255, 220, 0));
        SettingsStore::instance().setDrawValue(TextSize, 16);
        SettingsStore::instance().setDrawValue(FloatNum, 2);
        SettingsStore::instance().addCalibration([] {
            CalibrationRecord r;
            r.name = "stage";
            r.length = 0.5;
            r.unit = "mm";
            r.real = 2.5;
            return r;
        }());
        QWidget window;
        window.resize(1280, 860);
        auto *layout = new QHBoxLayout(&window);
        auto *pages = new QTabWidget;
        auto *measure = new MeasureWidget;
        auto *labels = new LabelWidget;
        pages->addTab(measure, "Measure");
        pages->addTab(labels, "Label");
        pages->setFixedWidth(360);
        layout->addWidget(pages);
        auto *view = new VideoWidget(nullptr, false);
        layout->addWidget(view, 1);
        QPixmap picture(1280, 960);
        picture.fill(QColor(70, 90, 80));
        // The picture fits the view once the view has its size.
        window.setStyleSheet(styleSheet);
        window.show();
        QApplication::processEvents();
        view->setPicture(picture);
        view->setDrawProperties(SettingsStore::instance().loadDraw());
        measure->loadSettings();
        view->setCalibration(2.5);
        view->setUnit(UnitMillimetres);
        drawShape(*view->measureScene(), DrawType::Line, {{100, 100}, {300, 100}});
        view->measureScene()->setDrawMode(DrawType::Hand);
        shoot(window, "panel-measure");
        auto *list = measure->findChild<QComboBox *>("calibrate_comboBox");
        list->showPopup();
        QApplication::processEvents();
        EXPECT_TRUE(list->view()->window()->grab().save(folder + "/popup-calibrations-" + language + ".png"));
        list->hidePopup();
        measure->findChild<QTabWidget *>("measure_tWid")->setCurrentIndex(1);
        shoot(window, "panel-property");
        pages->setCurrentIndex(1);
        shoot(window, "panel-label");

        CalibrationWidget calibration(200, {});
        shoot(calibration, "dialog-calibration");
        CommonToolSetDialog tools;
        shoot(tools, "dialog-common-tools");
        LinePropertySetDialog line;
        line.updateForm();
        shoot(line, "dialog-line");
        GridlinesSetDialog grid;
        grid.updateForm();
        shoot(grid, "dialog-gridlines");
        TextPropertySetDialog text;
        shoot(text, "dialog-text");
        DrawChangeDialog shape(view->measureScene()->shapes()[0]->item(), DrawChangeDialog::MeasurementItem);
        shoot(shape, "dialog-shape");
        PhotoSettings photo;
        shoot(photo, "window-photo");
    }
    QString folder;
    QString styleSheet;
    QString language = "en";
};

}  // namespace

TEST_F(Shots, PanelsInEnglishAndChinese)
{
    shootAll();
    QTranslator translator;
    ASSERT_TRUE(translator.load(":/Language/language_cn.qm"));
    QApplication::installTranslator(&translator);
    language = "cn";
    SettingsStore::instance().setBaseFolderForTesting(dir.path() + "/cn");
    QDir().mkpath(dir.path() + "/cn");
    shootAll();
    QApplication::removeTranslator(&translator);
}
