// Shared pieces of the camera tests: a temporary camera database, a
// recording settings panel, a log catcher and a wait with the event loop.
#pragma once

#include "camera.h"
#include "control.h"
#include "virtual_backend.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <ostream>

// Readable QString values in failure messages.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

// Waits with the event loop running until `condition` holds; false after
// `timeoutMs`.
inline bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(2);
    }
    return true;
}

// Each test gets its own database file.
class DatabaseTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        path = folder.path() + "/setting.db";
        ASSERT_TRUE(CameraDatabase::instance().openOrCreate(path));
    }
    void TearDown() override { CameraDatabase::instance().close(); }

    QTemporaryDir folder;
    QString path;
};

// A database in a temporary folder and the virtual camera, present and reset
// to its defaults, with no control context taken.
class VirtualCameraFixture : public DatabaseTest
{
protected:
    void SetUp() override
    {
        DatabaseTest::SetUp();
        setenv("VORENTA_VIRTUAL_CAMERA", "1", 1);
        registerCameraMetaTypes();
        usbcam::setVirtualCameraPresent(true);
        usbcam::resetVirtualCamera();
        cam_free_context();
    }
    void TearDown() override
    {
        usbcam::setVirtualCameraPresent(true);
        usbcam::resetVirtualCamera();
        DatabaseTest::TearDown();
    }
};

class RecordingPanel : public CameraPanel
{
public:
    void showCameraParameters(const CameraParameters &params, const ResolutionMap &offered,
                              const QList<int> &formats) override
    {
        shown = params;
        resolutions = offered;
        streamFormats = formats;
        ++showCount;
    }
    void setFrameRates(const QList<int> &rates) override { frameRates = rates; }
    void showAllControls() override { ++showAllCount; }
    void hideSeriesControls() override { ++hideCount; }

    CameraParameters shown;
    ResolutionMap resolutions;
    QList<int> streamFormats;
    QList<int> frameRates;
    int showCount = 0;
    int showAllCount = 0;
    int hideCount = 0;
};

// Collects the debug and warning lines written while it lives.
class LogCatcher
{
public:
    LogCatcher() { previous_ = qInstallMessageHandler(&LogCatcher::handler); current() = this; }
    ~LogCatcher()
    {
        qInstallMessageHandler(previous_);
        current() = nullptr;
    }
    bool contains(const QString &text) const
    {
        for (const QString &line : lines)
            if (line.contains(text))
                return true;
        return false;
    }
    QStringList lines;

private:
    static LogCatcher *&current()
    {
        static LogCatcher *instance = nullptr;
        return instance;
    }
    static void handler(QtMsgType, const QMessageLogContext &, const QString &text)
    {
        if (current())
            current()->lines << text;
    }
    QtMessageHandler previous_;
};
