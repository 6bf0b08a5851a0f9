// Drawing and measuring through the real main window: the panels' buttons,
// the views' scenes and tables, camera and zoom changes, the property dialog
// of an overlay line, the mouse wheel and the language switch.
#include "window_test_support.h"

#include "calibration_combo_box.h"
#include "capture_page.h"
#include "graphics_items.h"
#include "label_widget.h"
#include "main_scene.h"
#include "measure_flow_panel.h"
#include "measure_test_support.h"
#include "measure_widget.h"
#include "sim_camera.h"
#include "title_bar.h"
#include "zoom_steps.h"

#include <QAction>
#include <QCheckBox>
#include <QColorDialog>
#include <QMenu>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QTranslator>
#include <QWheelEvent>

namespace {

// A simulated network camera on a loopback address of its own.
constexpr char kSimAddress[] = "127.0.0.58";

// A network camera streaming 3840x2160 on the address above.
bool start4kCamera(simcam::SimCamera &sim)
{
    sim.setModel("Y260_IPC");
    sim.setGroup("stream", R"({"wh":"3840*2160"})");
    return sim.start(80, kSimAddress) == 80;
}

// The texts of a table row, blank-separated.
QString rowText(const QTableWidget *table, int row)
{
    QStringList texts;
    for (int column = 0; column < table->columnCount(); ++column)
        if (const QTableWidgetItem *item = table->item(row, column))
            texts << item->text();
    return texts.join(' ');
}

QAction *menuChoice(QMenu *menu, const char *property, int value)
{
    for (QAction *action : menu->findChildren<QAction *>())
        if (action->property(property).isValid() && action->property(property).toInt() == value)
            return action;
    return nullptr;
}

}  // namespace

TEST_F(WindowTest, EdgeSnappingLeavesTheChosenToolAndItsShapeAlone)
{
    usbcam::setVirtualCameraPresent(false);
    startWindow();
    MeasureWidget *panel = window->measurePanel();
    MainScene *scene = window->liveView()->measureScene();
    childOf<QPushButton>(panel, "drawLine_btn")->click();
    clickAt(*scene, {100, 100});
    ASSERT_TRUE(scene->currentShape());

    childOf<QPushButton>(panel, "edge_btn")->click();
    EXPECT_TRUE(scene->edgeSnap());
    EXPECT_EQ(scene->drawMode(), int(DrawType::Line));
    EXPECT_EQ(window->currentDrawType(), int(DrawType::Line));
    EXPECT_TRUE(scene->currentShape());
    EXPECT_TRUE(childOf<QPushButton>(panel, "drawLine_btn")->isChecked());
}

// A calibration holds for the picture width it was measured at: after a
// restart at another width the same field measures the same, as it does
// within a session. One stored without a width (by an older version) holds
// for the width it is chosen at.
TEST_F(WindowTest, ACalibrationMeasuresTheSameFieldAfterARestartAtAnotherWidth)
{
    QFile::remove(SettingsStore::instance().calibrationPath());
    ASSERT_TRUE(startWithCamera()) << dialogs.all();
    dialogs.dialogActions["CalibrationWidget"] = [&](QDialog *dialog) {
        dialog->findChild<QLineEdit *>("lineEdit")->setText("stage");
        dialog->findChild<QLineEdit *>("lineEdit_2")->setText("0.5");
        dialog->findChild<QComboBox *>("comboBox")->setCurrentText("mm");
        dialog->findChild<QPushButton *>("pushButton")->click();
    };
    MeasureWidget *panel = window->measurePanel();
    MainScene *scene = window->liveView()->measureScene();
    panel->findChild<QSpinBox *>("floatNum_spbox")->setValue(2);
    childOf<QPushButton>(panel, "drawLineCalibrate_btn")->click();
    clickAt(*scene, {100, 300});
    clickAt(*scene, {300, 300});
    EXPECT_EQ(scene->drawMode(), int(DrawType::Hand));
    ASSERT_EQ(childOf<ComboBox>(panel, "calibrate_comboBox")->currentText(), "stage, 0.5mm") << dialogs.all();
    EXPECT_EQ(QSettings(SettingsStore::instance().calibrationPath(), QSettings::IniFormat).value("calibrate/1/width"),
              1920);
    const auto measure = [&] {
        window->slotSetDrawMode(DrawType::Line);
        clickAt(*scene, {100, 100});
        clickAt(*scene, {200, 100});
        return scene->shapes().isEmpty() ? QString() : scene->shapes().last()->labelText();
    };
    childOf<QComboBox>(panel, "unit_comboBox")->setCurrentText("mm");
    const QString inMillimetres = measure();
    ASSERT_TRUE(inMillimetres.endsWith("mm")) << inMillimetres;
    childOf<QComboBox>(panel, "unit_comboBox")->setCurrentText("um");
    const QString length = scene->shapes()[0]->labelText();
    ASSERT_TRUE(length.endsWith("um")) << length;
    EXPECT_TRUE(rowText(window->liveView()->table(), 0).contains(length.section(' ', -1)))
        << rowText(window->liveView()->table(), 0);
    const double umPerPixel = SettingsStore::instance().calibrations().value(0).real;

    // Quit, and start again with the camera at twice the width.
    delete window;
    window = nullptr;
    CalibrationRecord old;  // as an older version stored it: no width
    old.name = "old";
    old.length = 1;
    old.unit = "mm";
    old.real = umPerPixel / 2;
    ASSERT_TRUE(SettingsStore::instance().addCalibration(old));
    startWindow();
    ASSERT_TRUE(waitForFrames(20000)) << dialogs.all();
    childOf<QComboBox>(window->cameraSettings(), "previewRes_comboBox")->setCurrentText("3840x2160");
    ASSERT_TRUE(waitFor([&] { return shownWidth() == 3840; }, 20000)) << dialogs.all();
    panel = window->measurePanel();
    scene = window->liveView()->measureScene();
    auto *calibrations = childOf<ComboBox>(panel, "calibrate_comboBox");
    ASSERT_EQ(calibrations->currentText(), "stage, 0.5mm");
    EXPECT_EQ(measure(), length);
    // Chosen again at this width: still the same field.
    calibrations->setCurrentIndex(1);
    calibrations->setCurrentIndex(0);
    EXPECT_EQ(scene->shapes()[0]->labelText(), length);
    // Half the scale, taken for the width it is chosen at: the same length.
    calibrations->setCurrentIndex(1);
    EXPECT_EQ(scene->shapes()[0]->labelText(), length);
}

// A stitched picture holds the pixels of the frames it was made of: a
// calibration drawn on it holds for the frames' width, not the mosaic's, and
// measures the live picture (of those frames' width) unscaled. One drawn on
// an opened picture holds for that picture's width.
TEST_F(WindowTest, ACalibrationDrawnOnAStitchedPictureHoldsForTheWidthOfItsFrames)
{
    struct PanningStage {
        PanningStage() { usbcam::setVirtualStage(usbcam::VirtualStage{8, 3, false}); }
        ~PanningStage() { usbcam::setVirtualStage(usbcam::VirtualStage{}); }
    } stage;
    QFile::remove(SettingsStore::instance().calibrationPath());
    ASSERT_TRUE(startWithCamera()) << dialogs.all();
    auto *tabs = childOf<QTabWidget>(window, "video_tabWidget");
    CapturePage *capture = window->capturePanel();
    capture->setCurrentIndex(0);
    childOf<QPushButton>(capture, "startStitching_btn")->click();
    VideoWidget *stitched = nullptr;
    ASSERT_TRUE(waitFor(
        [&] {
            stitched = qobject_cast<VideoWidget *>(tabs->widget(1));
            return stitched && stitched->picture().width() > 1920;
        },
        90000))
        << dialogs.all();
    childOf<QPushButton>(capture, "stopStitching_btn")->click();
    ASSERT_TRUE(waitFor([&] { return childOf<QPushButton>(capture, "startStitching_btn")->isEnabled(); }, 20000));

    MeasureWidget *panel = window->measurePanel();
    panel->findChild<QSpinBox *>("floatNum_spbox")->setValue(3);
    const auto calibrateOn = [&](VideoWidget *view, const QString &name) {
        dialogs.dialogActions["CalibrationWidget"] = [name](QDialog *dialog) {
            dialog->findChild<QLineEdit *>("lineEdit")->setText(name);
            dialog->findChild<QLineEdit *>("lineEdit_2")->setText("1");
            dialog->findChild<QComboBox *>("comboBox")->setCurrentText("mm");
            dialog->findChild<QPushButton *>("pushButton")->click();
        };
        tabs->setCurrentWidget(view);
        childOf<QPushButton>(panel, "drawLineCalibrate_btn")->click();
        clickAt(*view->measureScene(), {100, 200});
        clickAt(*view->measureScene(), {300, 200});
        return waitFor([&] { return childOf<ComboBox>(panel, "calibrate_comboBox")->currentText() == name + ", 1mm"; },
                       5000);
    };
    // Micrometres per frame pixel a line on the live view is measured with:
    // its length in micrometres over its length in frame pixels.
    MainScene *live = window->liveView()->measureScene();
    const auto liveMicrometresPerPixel = [&] {
        tabs->setCurrentIndex(0);
        window->slotSetDrawMode(DrawType::Line);
        clickAt(*live, {100, 100});
        clickAt(*live, {300, 100});
        if (live->shapes().isEmpty())
            return 0.0;
        const QRegularExpression number("([0-9]+(\\.[0-9]+)?)\\s*(pix|um)\\s*$");
        const auto lengthIn = [&](const char *unit) {
            childOf<QComboBox>(panel, "unit_comboBox")->setCurrentText(unit);
            return number.match(live->shapes().last()->labelText()).captured(1).toDouble();
        };
        const double pixels = lengthIn("pix");
        return pixels > 0 ? lengthIn("um") / pixels : 0.0;
    };

    ASSERT_TRUE(calibrateOn(stitched, "stitched")) << dialogs.all();
    CalibrationRecord drawn = SettingsStore::instance().calibrations().value(0);
    EXPECT_EQ(drawn.width, 1920) << "the mosaic is " << stitched->picture().width() << " wide";
    EXPECT_NEAR(liveMicrometresPerPixel(), drawn.real, drawn.real * 1e-3);

    VideoWidget *snapshot = openPicture(pictures.filePath("snapshot.png"), QSize(960, 540));
    ASSERT_TRUE(snapshot);
    ASSERT_TRUE(calibrateOn(snapshot, "snapshot")) << dialogs.all();
    drawn = SettingsStore::instance().calibrations().value(1);
    EXPECT_EQ(drawn.width, 960);
    EXPECT_NEAR(liveMicrometresPerPixel(), drawn.real * 960 / 1920, drawn.real * 1e-3);
}

TEST_F(WindowTest, ShapesKeptOverACameraChangeMeasureTheSameFieldWithItsCalibration)
{
    simcam::SimCamera sim;
    ASSERT_TRUE(start4kCamera(sim)) << "port 80 of " << kSimAddress << " is taken";
    ASSERT_TRUE(startWithCamera()) << dialogs.all();
    MainScene *scene = window->liveView()->measureScene();
    window->calibrateChange(2.0);
    window->slotUnitChange("um");
    window->slotSetDrawMode(DrawType::Line);
    clickAt(*scene, {100, 100});
    clickAt(*scene, {300, 100});
    ASSERT_EQ(scene->shapes().size(), 1);
    const QString before = scene->shapes()[0]->labelText();
    const QString rowBefore = rowText(window->liveView()->table(), 0);

    // The same view width over a picture twice as wide: the line covers
    // twice the pixels, each half as long.
    window->cameraChange("NetCamera", kSimAddress);
    ASSERT_TRUE(waitFor([&] { return window->camera() && shownWidth() == 3840; }, 30000)) << dialogs.all();
    ASSERT_EQ(scene->shapes().size(), 1);
    EXPECT_EQ(scene->shapes()[0]->labelText(), before);
    EXPECT_EQ(rowText(window->liveView()->table(), 0), rowBefore);
    EXPECT_DOUBLE_EQ(window->currentCalibration(), 2.0);
}

// A drawing size is two screen pixels a step at 100 % and follows the zoom
// the zoom box shows, on the live tab and on a picture tab alike, for shapes
// drawn at another zoom and before a camera change; the property dialog
// shows and sets that size.
TEST_F(WindowTest, LabelsAndLinesAreAsLargeOnScreenAsTheirSizeOnEveryTabAndZoom)
{
    simcam::SimCamera sim;
    ASSERT_TRUE(start4kCamera(sim)) << "port 80 of " << kSimAddress << " is taken";
    ASSERT_TRUE(startWithCamera()) << dialogs.all();
    MeasureWidget *panel = window->measurePanel();
    childOf<QComboBox>(panel, "lineSize_comboBox")->setCurrentText("4");
    childOf<QComboBox>(panel, "fontSize_comboBox")->setCurrentText("20");
    auto *zoom = childOf<QComboBox>(window, "comboBox");
    const auto onScreen = [](const VideoWidget *view, double sceneSize) {
        return sceneSize * view->graphicsView()->transform().m11();
    };
    const auto expectSizes = [&](const VideoWidget *view, const Base *shape, int lineSize, const char *where) {
        const double percent = parseZoomPercent(zoom->currentText()).value_or(0.0);
        // Scene sizes are whole numbers: half a scene unit of rounding.
        const double slack = 0.5 * view->graphicsView()->transform().m11() + 1e-9;
        EXPECT_NEAR(onScreen(view, shape->label()->font().pixelSize()), 2 * 20 * percent / 100, slack)
            << where << " at " << zoom->currentText();
        EXPECT_NEAR(onScreen(view, shape->item()->pen().width()), 2 * lineSize * percent / 100, slack)
            << where << " at " << zoom->currentText();
    };

    VideoWidget *live = window->liveView();
    MainScene *scene = live->measureScene();
    window->slotSetDrawMode(DrawType::Line);
    clickAt(*scene, {100, 100});
    clickAt(*scene, {300, 100});
    ASSERT_EQ(scene->shapes().size(), 1);
    Base *line = scene->shapes()[0];
    expectSizes(live, line, 4, "live line");

    // Another camera, another fitted zoom: the line drawn before follows it,
    // and a circle drawn now is as large as the line.
    window->cameraChange("NetCamera", kSimAddress);
    ASSERT_TRUE(waitFor([&] { return window->camera() && shownWidth() == 3840; }, 30000)) << dialogs.all();
    expectSizes(live, line, 4, "live line after the camera change");
    window->slotSetDrawMode(DrawType::Cir);
    clickAt(*scene, {100, 200});
    clickAt(*scene, {150, 250});
    clickAt(*scene, {200, 200});
    ASSERT_EQ(scene->shapes().size(), 2);
    expectSizes(live, scene->shapes()[1], 4, "live circle");

    // The property dialog's width is the size; a new one stays through zooms.
    int shownInDialog = 0;
    dialogs.dialogActions["DrawChangeDialog"] = [&](QDialog *dialog) {
        auto *width = dialog->findChild<QSpinBox *>("spinBox_2");
        shownInDialog = width->value();
        width->setValue(7);
        dialog->reject();
    };
    window->drawPropertyChanged(line->item());
    EXPECT_EQ(shownInDialog, 4);
    expectSizes(live, line, 7, "live line of size 7");

    // An opened 1920x1080 picture, shown at its own fitted zoom, then at 100 %.
    VideoWidget *picture = openPicture(pictures.filePath("picture.png"), QSize(1920, 1080));
    ASSERT_TRUE(picture) << dialogs.all();
    window->slotSetDrawMode(DrawType::Line);
    clickAt(*picture->measureScene(), {400, 400});
    clickAt(*picture->measureScene(), {900, 400});
    ASSERT_EQ(picture->measureScene()->shapes().size(), 1);
    Base *pictureLine = picture->measureScene()->shapes()[0];
    expectSizes(picture, pictureLine, 4, "picture line");
    zoom->setCurrentText("100%");
    expectSizes(picture, pictureLine, 4, "picture line at 100 %");
    childOf<QTabWidget>(window, "video_tabWidget")->setCurrentWidget(live);
    expectSizes(live, line, 7, "live line after the picture tab");
}

TEST_F(WindowTest, GridLinesKeepTheirOwnStyleWhenTheZoomChanges)
{
    usbcam::setVirtualCameraPresent(false);
    SettingsStore &store = SettingsStore::instance();
    store.setDrawValue(GridlinesColor, QColor(Qt::blue));
    store.setDrawValue(GridlinesWidth, 3);
    store.setDrawValue(GridlinesStyle, int(Qt::SolidLine));
    store.setDrawValue(CrossColor, QColor(Qt::red));
    store.setDrawValue(CrossWidth, 5);
    store.setDrawValue(CrossStyle, int(Qt::DotLine));
    startWindow();
    childOf<QCheckBox>(window->labelPanel(), "showGridlines_checkBox")->click();
    MainScene *scene = window->liveView()->measureScene();
    ASSERT_FALSE(scene->lines().isEmpty());
    button("zoomSub_btn")->click();
    for (const GraphicsCross *line : scene->lines()) {
        EXPECT_EQ(line->pen().color(), QColor(Qt::blue));
        EXPECT_EQ(line->pen().width(), 3);
        EXPECT_EQ(line->pen().style(), Qt::SolidLine);
    }
}

TEST_F(WindowTest, AccuracyReachesExistingLabelsAndTheTableAtOnce)
{
    usbcam::setVirtualCameraPresent(false);
    startWindow();
    childOf<QComboBox>(window->measurePanel(), "unit_comboBox")->setCurrentText("pix");
    auto *accuracy = childOf<QSpinBox>(window->measurePanel(), "floatNum_spbox");
    accuracy->setValue(1);
    window->slotSetDrawMode(DrawType::Line);
    MainScene *scene = window->liveView()->measureScene();
    clickAt(*scene, {100, 100});
    clickAt(*scene, {300, 100});
    ASSERT_EQ(scene->shapes().size(), 1);
    EXPECT_EQ(scene->shapes()[0]->labelText(), "[1] Len = 200.0pix");

    accuracy->setValue(3);
    EXPECT_EQ(scene->shapes()[0]->labelText(), "[1] Len = 200.000pix");
    EXPECT_TRUE(rowText(window->liveView()->table(), 0).contains("200.000pix")) << rowText(window->liveView()->table(), 0);
}

TEST_F(WindowTest, ChangesToAnOverlayLineInItsDialogAreSaved)
{
    ASSERT_TRUE(startWithCamera()) << dialogs.all();
    childOf<QCheckBox>(window->labelPanel(), "showGridlines_checkBox")->click();
    MainScene *scene = window->liveView()->measureScene();
    ASSERT_FALSE(scene->lines().isEmpty());
    const GraphicsCross *line = scene->lines()[0];
    // Off the middle, where the vertical line crosses.
    const QPointF onLine = line->mapToScene(line->line().pointAt(0.25));
    // The dialog has no OK: the user changes the width and closes it.
    dialogs.dialogActions["DrawChangeDialog"] = [](QDialog *dialog) {
        dialog->findChild<QSpinBox *>("spinBox_2")->setValue(7);
        dialog->reject();
    };
    clickAt(*scene, onLine);
    doubleClickAt(*scene, onLine);
    ASSERT_TRUE(dialogs.all().contains("DrawChangeDialog")) << dialogs.all();
    const QString cross = appDataFolder() + "/cross.ini";
    EXPECT_TRUE(waitFor(
        [&] {
            QSettings stored(cross, QSettings::IniFormat);
            const int count = stored.beginReadArray("cross");
            stored.setArrayIndex(0);
            const bool saved = count > 0 && stored.value("width").toInt() == 7;
            stored.endArray();
            return saved;
        },
        5000));
}

TEST_F(WindowTest, TextMadeBeforeALanguageSwitchFollowsIt)
{
    startWindow();
    ASSERT_TRUE(waitForFrames(20000)) << dialogs.all();
    auto *tabs = childOf<QTabWidget>(window, "video_tabWidget");
    ASSERT_TRUE(waitFor([&] { return tabs->tabText(0) == "Uvc Camera"; }));
    window->slotSetDrawMode(DrawType::Line);
    MainScene *scene = window->liveView()->measureScene();
    clickAt(*scene, {100, 100});
    clickAt(*scene, {300, 100});
    ASSERT_EQ(scene->shapes().size(), 1);

    QTranslator translation;
    ASSERT_TRUE(translation.load(":/Language/language_cn.qm"));
    const QString chineseTitle = translation.translate("MainWindow2", "Uvc Camera");
    const QString chineseLine = translation.translate("QObject", "Line");
    const QString chineseLength = translation.translate("GraphicsText", "Len");
    ASSERT_FALSE(chineseTitle.isEmpty() || chineseLine.isEmpty() || chineseLength.isEmpty());

    QAction *chinese = menuChoice(window->titleBar()->settingsMenu(), "Lan", 1);
    QAction *english = menuChoice(window->titleBar()->settingsMenu(), "Lan", 0);
    ASSERT_TRUE(chinese && english);
    chinese->trigger();
    EXPECT_EQ(tabs->tabText(0), chineseTitle);
    EXPECT_EQ(window->liveView()->table()->item(0, 1)->text(), chineseLine);
    EXPECT_TRUE(scene->shapes()[0]->labelText().contains(chineseLength)) << scene->shapes()[0]->labelText();
    english->trigger();
    EXPECT_EQ(tabs->tabText(0), "Uvc Camera");
    EXPECT_EQ(window->liveView()->table()->item(0, 1)->text(), "Line");
}

TEST_F(WindowTest, MouseWheelStepsTheFocusOrTheCameraZoomAsChosen)
{
    usbcam::setVirtualCameraPresent(false);
    startWindow();
    QSignalSpy focus(window, &MainWindow2::increaseOrDecreaseFoucs);
    QSignalSpy zoom(window, &MainWindow2::increaseOrDecreaseZoom);
    VideoWidget *view = window->liveView();
    const QPoint inside = view->videoContainer()->geometry().center();
    auto turn = [&](int delta) {
        QWheelEvent wheel(QPointF(inside), QPointF(view->mapToGlobal(inside)), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(view, &wheel);
    };
    const QString zoomText = childOf<QComboBox>(window, "comboBox")->currentText();
    QMenu *menu = window->titleBar()->settingsMenu();
    menuChoice(menu, "MouseWheelFunc", int(KeyFunction::Focus))->trigger();
    turn(120);
    turn(-120);
    menuChoice(menu, "MouseWheelFunc", int(KeyFunction::Zoom))->trigger();
    turn(120);
    ASSERT_EQ(focus.size(), 2);
    EXPECT_TRUE(focus.at(0).at(0).toBool());
    EXPECT_FALSE(focus.at(1).at(0).toBool());
    ASSERT_EQ(zoom.size(), 1);
    EXPECT_TRUE(zoom.at(0).at(0).toBool());
    // The view's own zoom stays where it was.
    EXPECT_EQ(childOf<QComboBox>(window, "comboBox")->currentText(), zoomText);
    menuChoice(menu, "MouseWheelFunc", int(KeyFunction::ZoomVideoWindow))->trigger();
}

TEST_F(WindowTest, CollapsedLeftMenuBringsTheFloatingPanel)
{
    usbcam::setVirtualCameraPresent(false);
    startWindow();
    VideoWidget *view = window->liveView();
    auto *splitter = childOf<QSplitter>(window, "splitter");
    QSplitterHandle *handle = splitter->handle(1);
    const QPoint grip = handle->rect().center();
    auto mouse = [&](QEvent::Type type, const QPoint &globalPos, Qt::MouseButtons buttons) {
        QMouseEvent event(type, handle->mapFromGlobal(globalPos), globalPos, Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(handle, &event);
    };
    const QPoint start = handle->mapToGlobal(grip);
    mouse(QEvent::MouseButtonPress, start, Qt::LeftButton);
    mouse(QEvent::MouseMove, start - QPoint(2000, 0), Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, start - QPoint(2000, 0), Qt::NoButton);
    ASSERT_EQ(splitter->sizes().value(0), 0);

    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(view, &enter);
    EXPECT_TRUE(view->flowPanelWidget()->isVisible());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(view, &leave);
    EXPECT_FALSE(view->flowPanelWidget()->isVisible());
}

TEST_F(WindowTest, MeasuringPanelFontColourReachesTheLabels)
{
    usbcam::setVirtualCameraPresent(false);
    startWindow();
    window->slotSetDrawMode(DrawType::Line);
    MainScene *scene = window->liveView()->measureScene();
    clickAt(*scene, {100, 100});
    clickAt(*scene, {300, 100});
    ASSERT_EQ(scene->shapes().size(), 1);
    const QColor chosen(10, 200, 30);
    dialogs.dialogActions["QColorDialog"] = [chosen](QDialog *dialog) {
        static_cast<QColorDialog *>(dialog)->setCurrentColor(chosen);
        dialog->accept();
    };
    childOf<QToolButton>(window->measurePanel(), "fontColor_tBtn")->click();
    EXPECT_EQ(scene->shapes()[0]->label()->textColor(), chosen) << dialogs.all();
    QVariant stored;
    ASSERT_TRUE(SettingsStore::instance().drawValue(TextColor, stored));
    EXPECT_EQ(stored.value<QColor>(), chosen);
}
