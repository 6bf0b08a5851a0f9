// The panel as a user sees it, in English and in Chinese: with every control
// shown, no text is cut off. With VORENTA_SHOT_DIR set, both tabs of both
// languages are also saved there as pictures; with VORENTA_SHOW_SECONDS set,
// the panel stays on screen that long (bound to the virtual camera) so that
// a screenshot of the real window can be taken.
#include "burst_mode_settings.h"
#include "ip_setting.h"
#include "produce_test_dialog.h"
#include "settings_ui_test_support.h"
#include "unlock_advanced_settings.h"
#include "upgrade_dialog.h"

#include <QDir>
#include <QGroupBox>
#include <QScrollArea>
#include <QTranslator>

namespace {

void save(QWidget &window, const QString &name)
{
    const QString folder = qEnvironmentVariable("VORENTA_SHOT_DIR");
    if (!folder.isEmpty() && QDir().mkpath(folder))
        window.grab().save(QStringLiteral("%1/%2.png").arg(folder, name));
}

// One dialog as it opens: the texts cut off in it, and its picture.
QStringList clippedInDialog(QWidget &dialog, const QString &name)
{
    applyStyleSheet(dialog);
    dialog.show();
    QApplication::processEvents();
    save(dialog, name);
    return clippedTexts(dialog);
}

// The small dialogs, as they open: no text cut off either.
QStringList clippedInDialogs(const QString &language)
{
    QStringList clipped;
    BurstModeSettings timeLapse;
    applyStyleSheet(timeLapse);
    timeLapse.show();
    QApplication::processEvents();
    clipped += clippedTexts(timeLapse);
    save(timeLapse, "timelapse-" + language);
    IpSetting ip;
    applyStyleSheet(ip);
    IpInfo info;
    info.ip = QStringLiteral("192.168.1.100");
    info.netmask = QStringLiteral("255.255.255.0");
    info.gateway = QStringLiteral("192.168.1.1");
    ip.setIpInfo(info);
    ip.show();
    QApplication::processEvents();
    clipped += clippedTexts(ip);
    save(ip, "ip-" + language);
    UpgradeDialog upgrade;
    upgrade.retranslate();
    clipped += clippedInDialog(upgrade, "upgrade-" + language);
    UnlockAdvancedSettings unlock;
    unlock.retranslate();
    clipped += clippedInDialog(unlock, "unlock-" + language);
    ProduceTestDialog productionTest;
    productionTest.prepareFor(QStringLiteral("usb-1-1&vid_0edc&pid_5830#000001"));
    clipped += clippedInDialog(productionTest, "productiontest-" + language);
    return clipped;
}

void saveTabs(CamSettings &panel, const QString &language)
{
    const QString folder = qEnvironmentVariable("VORENTA_SHOT_DIR");
    if (folder.isEmpty())
        return;
    QDir().mkpath(folder);
    for (int tab = 0; tab < panel.count(); ++tab) {
        panel.setCurrentIndex(tab);
        QApplication::processEvents();
        panel.grab().save(QStringLiteral("%1/panel-%2-tab%3.png").arg(folder, language).arg(tab));
    }
    panel.setCurrentIndex(0);
}

class Look : public VirtualCameraFixture
{
protected:
    void SetUp() override
    {
        VirtualCameraFixture::SetUp();
        applyStyleSheet(panel);
        panel.resize(378, 911);
        panel.show();
        ASSERT_TRUE(unlockAdvancedTab(panel));
    }
    void TearDown() override
    {
        QApplication::removeTranslator(&translator);
        VirtualCameraFixture::TearDown();
    }
    void fillEverything()
    {
        bindThroughFactory(panel, QSharedPointer<RecordingCamera>::create(), kRecordingCameraName);
        CameraParameters params = everythingSupported();
        params.modelId = 0;  // shows the IP button too
        panel.refreshFromCameraInfo(QSharedPointer<CameraParameters>::create(params));
        QApplication::processEvents();
    }
    QStringList clippedOnBothTabs()
    {
        QStringList clipped;
        for (int tab = 0; tab < panel.count(); ++tab) {
            panel.setCurrentIndex(tab);
            QApplication::processEvents();
            clipped += clippedTexts(panel);
        }
        panel.setCurrentIndex(0);
        return clipped;
    }

    CamSettings panel;
    QTranslator translator;
};

} // namespace

TEST_F(Look, EveryTextFitsInEnglish)
{
    fillEverything();
    EXPECT_EQ(clippedOnBothTabs(), QStringList());
    EXPECT_EQ(clippedInDialogs("en"), QStringList());
    saveTabs(panel, "en");
}

TEST_F(Look, EveryTextFitsAndIsTranslatedInChinese)
{
    ASSERT_TRUE(translator.load(QStringLiteral(":/Language/language_cn.qm")));
    QApplication::installTranslator(&translator);
    panel.retranslate();
    fillEverything();
    EXPECT_EQ(clippedOnBothTabs(), QStringList());
    EXPECT_EQ(clippedInDialogs("cn"), QStringList());
    const QString english = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
    for (QLabel *label : panel.findChildren<QLabel *>()) {
        const QString text = label->text();
        const bool asciiOnly = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 128; });
        const bool hasLetters = std::any_of(text.begin(), text.end(), [&](QChar c) { return english.contains(c); });
        // Unit-like texts ("FPS") may stay as they are.
        if (asciiOnly && hasLetters && text != "FPS")
            ADD_FAILURE() << "untranslated: " << label->objectName().toStdString() << " " << text.toStdString();
    }
    EXPECT_EQ(panel.tabText(0), QString::fromUtf8("常规设置"));
    saveTabs(panel, "cn");
}

TEST_F(Look, ShownWithTheVirtualCamera)
{
    const int seconds = qEnvironmentVariableIntValue("VORENTA_SHOW_SECONDS");
    if (seconds <= 0)
        GTEST_SKIP() << "VORENTA_SHOW_SECONDS not set";
    if (qEnvironmentVariable("VORENTA_SHOW_LANGUAGE") == "cn") {
        ASSERT_TRUE(translator.load(QStringLiteral(":/Language/language_cn.qm")));
        QApplication::installTranslator(&translator);
        panel.retranslate();
    }
    MainWindowStandIn window(panel);
    cam_probe_buffer probe;
    probeUsbCameras(&probe);
    QMap<QString, QPair<CameraType, QString>> devices;
    devices.insert(QString::fromLatin1(probe.devices[0].path), {CameraUsb, QStringLiteral("VoCam_1")});
    panel.detectDevices(devices);
    panel.move(0, 0);
    panel.setCurrentIndex(qEnvironmentVariableIntValue("VORENTA_SHOW_TAB"));
    QTest::qWait(seconds * 1000);
}
