// The window-shell tests' fixture: a private settings folder per test.
#pragma once

#include "settings_store.h"
#include "test_support.h"

#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

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
