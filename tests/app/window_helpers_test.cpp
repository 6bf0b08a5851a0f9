// The main window's pure helpers: the device list of a poll, file names of
// snapshots and recordings, the time-lapse schedule and the zoom steps.
#include "device_poll.h"
#include "snapshot_naming.h"
#include "time_lapse.h"
#include "zoom_steps.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

void addDevice(cam_probe_buffer &probe, const char *name, const char *path, int handle = 3)
{
    cam_device_record &record = probe.devices[probe.count++];
    std::strncpy(record.name, name, sizeof record.name - 1);
    std::strncpy(record.path, path, sizeof record.path - 1);
    record.handle = handle;
}

cam_probe_buffer emptyProbe()
{
    cam_probe_buffer probe;
    std::memset(&probe, 0, sizeof probe);
    return probe;
}

} // namespace

TEST(DevicePoll, UvcAndFx3DevicesAreNumberedInProbeOrder)
{
    cam_probe_buffer probe = emptyProbe();
    addDevice(probe, "Camera B (UVC)", "/dev/b");
    addDevice(probe, "Keyboard", "/dev/k");
    addDevice(probe, "FX3 board", "/dev/a");
    const DeviceMap devices = buildDeviceMap(probe, {});
    ASSERT_EQ(devices.size(), 2);
    EXPECT_EQ(devices["/dev/b"], qMakePair(CameraUsb, QStringLiteral("VoCam_1")));
    EXPECT_EQ(devices["/dev/a"], qMakePair(CameraUsb, QStringLiteral("VoCam_2")));
}

TEST(DevicePoll, NothingAttachedGivesAnEmptyMap)
{
    EXPECT_TRUE(buildDeviceMap(emptyProbe(), {}).isEmpty());
}

TEST(DevicePoll, NetworkCamerasAreNamedByAddressAndWinOverAUsbPath)
{
    cam_probe_buffer probe = emptyProbe();
    addDevice(probe, "UVC", "10.0.0.7");
    const DeviceMap devices = buildDeviceMap(probe, {"10.0.0.7", "10.0.0.8"});
    EXPECT_EQ(devices["10.0.0.7"], qMakePair(CameraNetwork, QStringLiteral("10.0.0.7")));
    EXPECT_EQ(devices["10.0.0.8"], qMakePair(CameraNetwork, QStringLiteral("10.0.0.8")));
}

TEST(DevicePoll, CountOutsideTheBufferIsClamped)
{
    cam_probe_buffer probe = emptyProbe();
    for (int i = 0; i < CAM_MAX_DEVICES; ++i)
        addDevice(probe, "UVC", QByteArray("/dev/video").append(char('0' + i)).constData());
    probe.count = 1000000;
    EXPECT_EQ(buildDeviceMap(probe, {}).size(), CAM_MAX_DEVICES);
    probe.count = -5;
    EXPECT_TRUE(buildDeviceMap(probe, {}).isEmpty());
}

TEST(DevicePoll, TextsWithoutTheirZeroByteEndAtTheirField)
{
    cam_probe_buffer probe = emptyProbe();
    probe.count = 1;
    std::memset(probe.devices[0].name, 'U', sizeof probe.devices[0].name);
    std::memcpy(probe.devices[0].name, "UVC", 3);
    std::memset(probe.devices[0].path, 'p', sizeof probe.devices[0].path);
    probe.devices[0].handle = 0x41414141;  // what follows the path is not part of it
    const DeviceMap devices = buildDeviceMap(probe, {});
    ASSERT_EQ(devices.size(), 1);
    EXPECT_EQ(devices.firstKey(), QString(CAM_PATH_SIZE, 'p'));
}

TEST(SnapshotNaming, ExtensionIsAddedOnlyWhenMissing)
{
    EXPECT_EQ(withExtension("/p/a", ".jpg"), "/p/a.jpg");
    EXPECT_EQ(withExtension("/p/a.jpg", ".jpg"), "/p/a.jpg");
    EXPECT_EQ(withExtension("/p/a.JPG", ".jpg"), "/p/a.JPG");
    EXPECT_EQ(withExtension("/p/a.png", ".jpg"), "/p/a.png.jpg");
    EXPECT_EQ(withExtension("/p/a.tif", ".tiff"), "/p/a.tif.tiff");
}

TEST(SnapshotNaming, TimeStampHasMillisecondsLast)
{
    const QDateTime time(QDate(2024, 3, 7), QTime(9, 5, 4, 32));
    EXPECT_EQ(snapshotTimeStamp(time), "20240307_090504_032");
    EXPECT_EQ(timeStampedPath("/rec", time, ".mp4"), "/rec/20240307_090504_032.mp4");
}

TEST(SnapshotNaming, OpenedPictureIsSavedUnderItsTabName)
{
    EXPECT_EQ(openedPictureSavePath("/snaps", "cells.png*"), "/snaps/cells.png");
    EXPECT_EQ(openedPictureSavePath("/snaps", "cells.png"), "/snaps/cells.png");
    EXPECT_EQ(openedPictureSavePath("/snaps", "../../etc/x.png*"), "/snaps/x.png");
    EXPECT_EQ(openedPictureSavePath("/snaps", "*"), QString());
    EXPECT_EQ(openedPictureSavePath("/snaps", "..*"), QString());
}

TEST(SnapshotNaming, ChosenPathSplitsAtTheLastSlash)
{
    const SplitPath split = splitChosenPath("/home/u/pics/a.jpg");
    EXPECT_EQ(split.folder, "/home/u/pics/");
    EXPECT_EQ(split.name, "a.jpg");
    EXPECT_EQ(splitChosenPath("a.jpg").name, "a.jpg");
    EXPECT_EQ(splitChosenPath("a.jpg").folder, QString());
}

namespace {

// Runs a schedule second by second; returns the seconds at which shots were
// asked for, and the second it ended.
struct ScheduleRun {
    QList<int> shots;
    int doneAt = -1;
};
ScheduleRun runSchedule(TimeLapseSchedule &schedule, int seconds, const std::function<bool(int)> &shotWorks,
                const std::function<bool(int)> &busy = {})
{
    ScheduleRun run;
    for (int second = 1; second <= seconds; ++second) {
        switch (schedule.tick(busy && busy(second))) {
        case TimeLapseSchedule::Step::Shoot:
            run.shots << second;
            if (shotWorks(second))
                schedule.shotTaken();
            break;
        case TimeLapseSchedule::Step::Done:
            run.doneAt = second;
            return run;
        case TimeLapseSchedule::Step::Wait:
            break;
        }
    }
    return run;
}

} // namespace

TEST(TimeLapse, ThreeShotsTwoSecondsApartEndOneSecondAfterTheLast)
{
    TimeLapseSchedule schedule(3, 2);
    const ScheduleRun run = runSchedule(schedule, 20, [](int) { return true; });
    EXPECT_EQ(run.shots, QList<int>({2, 4, 6}));
    EXPECT_EQ(run.doneAt, 7);
    EXPECT_EQ(schedule.taken(), 3);
}

TEST(TimeLapse, CountdownShowsTheSecondsLeft)
{
    TimeLapseSchedule schedule(2, 3);
    schedule.tick(false);
    EXPECT_EQ(schedule.countdown(), 2);
    schedule.tick(false);
    EXPECT_EQ(schedule.countdown(), 1);
    EXPECT_EQ(schedule.tick(false), TimeLapseSchedule::Step::Shoot);
    EXPECT_EQ(schedule.countdown(), 3);
}

TEST(TimeLapse, FailedShotsAreNotCountedAndTriedAgain)
{
    TimeLapseSchedule schedule(2, 1);
    const ScheduleRun run = runSchedule(schedule, 20, [](int second) { return second != 2; });
    EXPECT_EQ(run.shots, QList<int>({1, 2, 3}));
    EXPECT_EQ(run.doneAt, 4);
    EXPECT_EQ(schedule.taken(), 2);
}

TEST(TimeLapse, NoShotStartsWhileTheShooterIsBusy)
{
    TimeLapseSchedule schedule(2, 2);
    // Busy from second 2 to 4: the first shot waits until second 5.
    const ScheduleRun run = runSchedule(
        schedule, 20, [](int) { return true; }, [](int second) { return second >= 2 && second <= 4; });
    EXPECT_EQ(run.shots, QList<int>({5, 7}));
    EXPECT_EQ(run.doneAt, 8);
}

TEST(ZoomSteps, TextsAreValidated)
{
    EXPECT_EQ(parseZoomPercent("37.5%"), 37.5);
    EXPECT_EQ(parseZoomPercent(" 50 % "), 50.0);
    EXPECT_EQ(parseZoomPercent("100"), 100.0);
    for (const char *bad : {"", "%", "abc", "0", "0%", "-5%", "nan", "inf%", "1e400", "1001%", "5 0%"})
        EXPECT_FALSE(parseZoomPercent(bad).has_value()) << bad;
}

TEST(ZoomSteps, FittedValueJoinsTheListInOrder)
{
    const QList<double> levels = zoomLevels(37.5);
    EXPECT_EQ(levels, QList<double>({1, 10, 20, 30, 37.5, 40, 50, 60, 70, 80, 90, 100}));
    EXPECT_EQ(zoomLevels(0.5).size(), 11);
    EXPECT_EQ(zoomLevels(40).size(), 11);
    EXPECT_EQ(zoomLevels(41.5).size(), 12);  // its whole part is 41: no multiple of 10, so it joins
    EXPECT_EQ(zoomLevels(41.5)[5], 41.5);
    EXPECT_EQ(zoomLevels(105).size(), 11);
    EXPECT_EQ(zoomText(37.5), "37.5%");
    EXPECT_EQ(zoomText(29.531249999), "29.5312%");
}

TEST(ZoomSteps, StepsFromAFittedValueGoToItsNeighbours)
{
    const QList<double> levels = zoomLevels(37.5);
    const int current = levels.indexOf(37.5);
    EXPECT_EQ(levels[zoomInIndex(levels, current, 37.5)], 40);
    EXPECT_EQ(levels[zoomOutIndex(levels, current, 37.5)], 30);
}

TEST(ZoomSteps, EndsOfTheListStay)
{
    const QList<double> levels = zoomLevels(0);
    EXPECT_EQ(zoomInIndex(levels, levels.size() - 1, 100), -1);
    EXPECT_EQ(zoomOutIndex(levels, 0, 1), -1);
}

TEST(ZoomSteps, ATextThatIsNoItemStepsFromItsValue)
{
    const QList<double> levels = zoomLevels(0);
    EXPECT_EQ(levels[zoomInIndex(levels, 3, 45)], 50);
    EXPECT_EQ(levels[zoomOutIndex(levels, 3, 45)], 40);
    EXPECT_EQ(levels[zoomOutIndex(levels, 3, 150)], 100);
    EXPECT_EQ(zoomInIndex(levels, 3, 150), -1);
    EXPECT_EQ(levels[zoomInIndex(levels, 0, 0.5)], 1);  // a fit below 1 % shown, not listed
}
