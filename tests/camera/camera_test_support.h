// Shared pieces of the camera tests: a temporary camera database, the
// virtual camera and a log catcher.
#pragma once

#include "camera.h"
#include "control.h"
#include "test_support.h"
#include "virtual_backend.h"

#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>

// Readable QString values in failure messages.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

// Each test gets its own database file.
class DatabaseTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        path = folder.path() + "/setting.db";
        ASSERT_EQ(CameraDatabase::instance().openOrCreate(path), CameraDatabase::OpenResult::Opened);
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

