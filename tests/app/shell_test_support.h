// Helpers of the window-shell tests: a private settings folder per test and
// waiting on the event loop.
#pragma once

#include "settings_store.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>

class ShellTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(settingsFolder.isValid());
        SettingsStore::instance().setBaseFolderForTesting(settingsFolder.path());
        registerSettingsMetaTypes();
    }
    QTemporaryDir settingsFolder;
};

// Runs the event loop until done() holds or timeoutMs have passed.
inline bool waitFor(const std::function<bool()> &done, int timeoutMs = 3000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(10);
    }
    return true;
}
