// The device list: what each poll lists, when a camera opens by itself, and
// the open/close switch.
#include "settings_ui_test_support.h"

#include <QPushButton>
#include <QSignalSpy>

namespace {

using Devices = QMap<QString, QPair<CameraType, QString>>;

const QString kFirst = QStringLiteral("v4l2:usb-0000:00:14.0-1&vid_32e4&pid_e530#000001");
const QString kSecond = QStringLiteral("v4l2:usb-0000:00:14.0-2&vid_32e4&pid_e150#000002");
const QString kUpgradeBoard = QStringLiteral("v4l2:usb-0000:00:14.0-3&vid_04b4&pid_0480#000003");

Devices devices(std::initializer_list<QString> names)
{
    Devices map;
    int number = 0;
    for (const QString &name : names)
        map.insert(name, {CameraUsb, QStringLiteral("VoCam_%1").arg(++number)});
    return map;
}

class DeviceList : public ::testing::Test
{
protected:
    void SetUp() override { registerCameraMetaTypes(); }

    QComboBox *list() { return child<QComboBox>(panel, "camera_comboBox"); }
    QPushButton *switchButton() { return child<QPushButton>(panel, "cameraSwitch_btn"); }
    QStringList listed()
    {
        QStringList names;
        for (int i = 0; i < list()->count(); ++i)
            names << list()->itemData(i).value<CameraTypeAndName>().second;
        return names;
    }

    CamSettings panel;
};

} // namespace

TEST_F(DeviceList, SingleCameraOpensByItself)
{
    QSignalSpy opened(&panel, &CamSettings::openCam);
    panel.detectDevices(devices({kFirst}));
    ASSERT_EQ(opened.count(), 1);
    EXPECT_EQ(opened.at(0).at(0).toString(), "VoCam_1");
    EXPECT_EQ(opened.at(0).at(1).toString(), kFirst);
    EXPECT_TRUE(switchButton()->isChecked());
    EXPECT_EQ(list()->currentText(), "VoCam_1");
}

TEST_F(DeviceList, UpgradeBoardIsListedButNeverOpened)
{
    QSignalSpy opened(&panel, &CamSettings::openCam);
    panel.detectDevices(devices({kUpgradeBoard}));
    EXPECT_EQ(listed(), QStringList({kUpgradeBoard}));
    EXPECT_EQ(opened.count(), 0);
    EXPECT_FALSE(switchButton()->isChecked());
}

TEST_F(DeviceList, TwoCamerasOpenOnlyByHandAndOneAtATime)
{
    QSignalSpy opened(&panel, &CamSettings::openCam);
    panel.detectDevices(devices({kFirst, kSecond}));
    EXPECT_EQ(opened.count(), 0);
    list()->setCurrentIndex(0);
    switchButton()->click();
    ASSERT_EQ(opened.count(), 1);
    EXPECT_EQ(opened.at(0).at(1).toString(), kFirst);

    list()->setCurrentIndex(1);
    EXPECT_FALSE(switchButton()->isChecked());
    MessageBoxAnswer answer;
    switchButton()->click();
    EXPECT_EQ(answer.text, "The number of cameras is greater than 1");
    EXPECT_EQ(answer.title, "Notice");
    EXPECT_EQ(opened.count(), 1);
    EXPECT_FALSE(switchButton()->isChecked());
    list()->setCurrentIndex(0);
    EXPECT_TRUE(switchButton()->isChecked());
}

TEST_F(DeviceList, CameraClosedByTheUserStaysClosed)
{
    QSignalSpy opened(&panel, &CamSettings::openCam);
    QSignalSpy closed(&panel, &CamSettings::closeCam);
    panel.detectDevices(devices({kFirst}));
    ASSERT_EQ(opened.count(), 1);
    switchButton()->click();
    ASSERT_EQ(closed.count(), 1);
    EXPECT_EQ(closed.at(0).at(0).toString(), kFirst);
    EXPECT_EQ(closed.at(0).at(1).value<CameraCloseReason>(), CloseDone);
    EXPECT_FALSE(switchButton()->isChecked());

    panel.detectDevices(devices({}));
    panel.detectDevices(devices({kFirst}));
    EXPECT_EQ(opened.count(), 1);
}

TEST_F(DeviceList, DisconnectedCameraReopensWhenItReturns)
{
    QSignalSpy opened(&panel, &CamSettings::openCam);
    QSignalSpy closed(&panel, &CamSettings::closeCam);
    panel.detectDevices(devices({kFirst}));
    ASSERT_EQ(opened.count(), 1);
    panel.closeCameraForReason(kFirst, CloseDisconnected);
    ASSERT_EQ(closed.count(), 1);
    EXPECT_EQ(closed.at(0).at(1).value<CameraCloseReason>(), CloseDisconnected);

    panel.detectDevices(devices({}));
    EXPECT_TRUE(listed().isEmpty());
    EXPECT_EQ(opened.count(), 1);
    panel.detectDevices(devices({kSecond, kFirst}));  // another camera came too: the lost one still wins
    ASSERT_EQ(opened.count(), 2);
    EXPECT_EQ(opened.at(1).at(1).toString(), kFirst);
}

TEST_F(DeviceList, LateLossReportAfterTheUserClosedDoesNotReopen)
{
    QSignalSpy opened(&panel, &CamSettings::openCam);
    QSignalSpy closed(&panel, &CamSettings::closeCam);
    panel.detectDevices(devices({kFirst}));
    switchButton()->click();
    ASSERT_EQ(closed.count(), 1);
    // The capture thread noticed the loss before it was stopped.
    panel.closeCameraForReason(kFirst, CloseDisconnected);
    EXPECT_EQ(closed.count(), 1);
    panel.detectDevices(devices({}));
    panel.detectDevices(devices({kFirst}));
    EXPECT_EQ(opened.count(), 1);
}

TEST_F(DeviceList, OpenCameraStaysListedWhenAPollMissesIt)
{
    panel.detectDevices(devices({kFirst}));
    ASSERT_TRUE(switchButton()->isChecked());
    panel.detectDevices(devices({kSecond}));
    EXPECT_EQ(listed(), QStringList({kFirst, kSecond}));
    EXPECT_EQ(list()->currentText(), "VoCam_1");
    EXPECT_TRUE(switchButton()->isChecked());
}

TEST_F(DeviceList, UnchangedPollKeepsTheSelection)
{
    panel.detectDevices(devices({kFirst, kSecond}));
    list()->setCurrentIndex(1);
    panel.detectDevices(devices({kFirst, kSecond}));
    EXPECT_EQ(list()->currentIndex(), 1);
}

TEST_F(DeviceList, FailedBringUpMarksTheDeviceClosed)
{
    panel.detectDevices(devices({kFirst}));
    ASSERT_TRUE(switchButton()->isChecked());
    panel.deviceClosed(kFirst);
    EXPECT_FALSE(switchButton()->isChecked());
    QSignalSpy opened(&panel, &CamSettings::openCam);
    switchButton()->click();
    EXPECT_EQ(opened.count(), 1);
}

TEST_F(DeviceList, SwitchWithAnEmptyListDoesNothing)
{
    QSignalSpy opened(&panel, &CamSettings::openCam);
    switchButton()->click();
    EXPECT_EQ(opened.count(), 0);
    EXPECT_FALSE(switchButton()->isChecked());
}

TEST_F(DeviceList, NetworkCameraOpensUnderItsAddress)
{
    QSignalSpy opened(&panel, &CamSettings::openCam);
    Devices map;
    map.insert(QStringLiteral("192.168.1.20"), {CameraNetwork, QStringLiteral("192.168.1.20")});
    panel.detectDevices(map);
    ASSERT_EQ(opened.count(), 1);
    EXPECT_EQ(opened.at(0).at(0).toString(), "NetCamera");
    EXPECT_EQ(opened.at(0).at(1).toString(), "192.168.1.20");
}
