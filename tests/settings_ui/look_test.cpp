// The panel as a user sees it, in English and in Chinese: with every control
// shown, no text is cut off (scripts/look saves pictures of it).
#include "burst_mode_settings.h"
#include "ip_setting.h"
#include "produce_test_dialog.h"
#include "settings_ui_test_support.h"
#include "unlock_advanced_settings.h"
#include "upgrade_dialog.h"

#include <QGroupBox>
#include <QScrollArea>
#include <QTranslator>

namespace {

// One dialog as it opens: the texts cut off in it.
QStringList clippedInDialog(QWidget &dialog)
{
    applyStyleSheet(dialog);
    dialog.show();
    QApplication::processEvents();
    return clippedTexts(dialog);
}

// The small dialogs, as they open: no text cut off either.
QStringList clippedInDialogs()
{
    QStringList clipped;
    BurstModeSettings timeLapse;
    applyStyleSheet(timeLapse);
    timeLapse.show();
    QApplication::processEvents();
    clipped += clippedTexts(timeLapse);
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
    UpgradeDialog upgrade;
    upgrade.retranslate();
    clipped += clippedInDialog(upgrade);
    UnlockAdvancedSettings unlock;
    unlock.retranslate();
    clipped += clippedInDialog(unlock);
    ProduceTestDialog productionTest;
    productionTest.prepareFor(QStringLiteral("usb-1-1&vid_0edc&pid_5830#000001"));
    clipped += clippedInDialog(productionTest);
    return clipped;
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
    EXPECT_EQ(clippedInDialogs(), QStringList());
}

TEST_F(Look, EveryTextFitsAndIsTranslatedInChinese)
{
    ASSERT_TRUE(translator.load(QStringLiteral(":/Language/language_cn.qm")));
    QApplication::installTranslator(&translator);
    panel.retranslate();
    fillEverything();
    EXPECT_EQ(clippedOnBothTabs(), QStringList());
    EXPECT_EQ(clippedInDialogs(), QStringList());
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
}
