// The main window with the virtual camera: a drawing tool holds the lens
// where autofocus left it and changes nothing stored, and a time-lapse series
// ends with one message when its camera closes or its shots can't be saved.
#include "window_test_support.h"

#include "burst_mode_settings.h"
#include "camera_database.h"
#include "control.h"
#include "measure_widget.h"

#include <QRadioButton>
#include <QSlider>
#include <QToolButton>

namespace {

class WindowFocus : public WindowTest
{
protected:
    static int32_t handle() { return cam_find_context(usbcam::kVirtualCameraPath); }
    static QVariant stored(const char *column)
    {
        CameraRow row;
        if (!CameraDatabase::instance().findRow(CameraDatabase::lookupKey(usbcam::kVirtualCameraPath), row))
            return QVariant();
        return row.values().value(CameraDatabase::columns().indexOf(QLatin1String(column)));
    }
    QRadioButton *radio(const char *name) const { return childOf<QRadioButton>(window->cameraSettings(), name); }
    void startSeries(int number, int interval)
    {
        childOf<QLineEdit>(window->burstModeDialog(), "burstModeNumber_lineEdit")->setText(QString::number(number));
        childOf<QLineEdit>(window->burstModeDialog(), "burstModeInterval_s_lineEdit")->setText(QString::number(interval));
        button("cPhotos_btn")->click();
    }
};

} // namespace

TEST_F(WindowFocus, MeasuringToolHoldsTheLensWhereAutofocusLeftItAndStoresNothing)
{
    ASSERT_TRUE(startWithCamera());
    auto *focus = childOf<QSlider>(window->cameraSettings(), "focusValue_horizontalSlider");
    // An earlier manual focus of 20 (blurred), then autofocus again.
    radio("focusManual_rBtn")->click();
    focus->setValue(20);
    ASSERT_TRUE(waitFor([] { return cam_get_focus(handle()) == 20; }));
    radio("focusAuto_rBtn")->click();
    ASSERT_TRUE(waitFor([] { return cam_get_focus_mode(handle()) == 1; }));

    childOf<QAbstractButton>(window->measurePanel(), "drawLine_btn")->click();
    EXPECT_TRUE(radio("focusManual_rBtn")->isChecked());
    ASSERT_TRUE(waitFor([] { return cam_get_focus_mode(handle()) == 0; }));
    EXPECT_EQ(cam_get_focus(handle()), 200);  // sharp, where autofocus had the lens
    EXPECT_TRUE(waitFor([&] { return focus->value() == 200; }));
    EXPECT_EQ(stored("focusMode").toInt(), 1);
    EXPECT_EQ(stored("focusValue").toInt(), 20);

    childOf<QAbstractButton>(window, "AF_btn")->click();
    EXPECT_TRUE(radio("focusAuto_rBtn")->isChecked());
    EXPECT_TRUE(waitFor([] { return cam_get_focus_mode(handle()) == 1; }));
    EXPECT_EQ(stored("focusMode").toInt(), 1);
}

TEST_F(WindowFocus, TimeLapseEndsWhenItsCameraCloses)
{
    ASSERT_TRUE(startWithCamera());
    setPhotoSettings(true, 1, "lapse", 0);
    startSeries(3, 1);
    ASSERT_TRUE(waitFor([&] { return childOf<QLabel>(window, "burstModeInfo_lab")->text().contains("progress: 1/3"); }));
    childOf<QPushButton>(window->cameraSettings(), "cameraSwitch_btn")->click();
    ASSERT_TRUE(waitFor([&] { return dialogs.saw("The camera is successfully closed!"); })) << dialogs.all();
    EXPECT_FALSE(window->isTimeLapseRunning());
    EXPECT_FALSE(button("cPhotos_btn")->isChecked());
    EXPECT_TRUE(childOf<QLabel>(window, "burstModeInfo_lab")->text().isEmpty());
    EXPECT_TRUE(dialogs.saw("The time-lapse series has stopped after 1 of 3 photos."));
    EXPECT_EQ(dialogs.messages.size(), 1) << dialogs.all();
}

TEST_F(WindowFocus, TimeLapseEndsAtTheFirstShotThatCannotBeSaved)
{
    ASSERT_TRUE(startWithCamera());
    setPhotoSettings(true, 1, "lapse", 0);
    // A folder where a file is: it can't be made.
    writeBytes(pictures.filePath("file"), "x");
    window->DrawChange(QuickSavePath, pictures.filePath("file/sub"));
    startSeries(5, 1);
    ASSERT_TRUE(waitFor([&] { return dialogs.saw("cannot be created"); })) << dialogs.all();
    EXPECT_FALSE(window->isTimeLapseRunning());
    EXPECT_FALSE(button("cPhotos_btn")->isChecked());
    EXPECT_TRUE(dialogs.saw("The time-lapse series has stopped after 0 of 5 photos."));
    EXPECT_EQ(dialogs.messages.size(), 1) << dialogs.all();
}
