// Helpers of the panel tests: a private settings folder per test, and a way
// to answer the modal dialogs (colour, calibration, message boxes) that the
// panels open inside their handlers.
#pragma once

#include "draw_type.h"
#include "settings_store.h"

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include <functional>

class PanelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        SettingsStore::instance().setBaseFolderForTesting(dir.path());
        registerSettingsMetaTypes();
        registerDrawTypeMetaType();
    }
    QString ini(const QString &name) const { return dir.path() + "/" + name; }
    // A value as it stands in the INI file.
    QVariant raw(const QString &file, const QString &key) const
    {
        return QSettings(ini(file), QSettings::IniFormat).value(key);
    }
    QTemporaryDir dir;
};

// Answers the next modal dialog of type T with `act` (which must close it),
// polling every 10 ms for at most 5 s. Arm it before the call that opens the
// dialog; `answered` tells afterwards whether a dialog came.
template <typename T>
class ModalAnswer
{
public:
    explicit ModalAnswer(std::function<void(T *)> act) : act_(std::move(act))
    {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (++ticks_ > 500) {
                timer_.stop();
                return;
            }
            if (auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget())) {
                timer_.stop();
                answered_ = true;
                act_(dialog);
            }
        });
        timer_.start();
    }
    bool answered() const { return answered_; }

private:
    std::function<void(T *)> act_;
    QTimer timer_;
    int ticks_ = 0;
    bool answered_ = false;
};
