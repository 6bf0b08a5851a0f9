// The time-lapse settings and the IP settings dialogs.
#include "burst_mode_settings.h"
#include "ip_setting.h"
#include "settings_ui_test_support.h"
#include "settings_store.h"
#include "test_support.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTranslator>

namespace {

class TimeLapse : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        SettingsStore::instance().setBaseFolderForTesting(folder.path());
    }
    QVariant stored(const char *key)
    {
        QSettings ini(SettingsStore::instance().configPath(), QSettings::IniFormat);
        return ini.value(QStringLiteral("burst_mode/%1").arg(QLatin1String(key)));
    }
    QTemporaryDir folder;
};

IpInfo staticInfo(const char *ip, const char *netmask, const char *gateway)
{
    IpInfo info;
    info.dhcp = false;
    info.ip = QString::fromLatin1(ip);
    info.netmask = QString::fromLatin1(netmask);
    info.gateway = QString::fromLatin1(gateway);
    info.dns1 = QStringLiteral("8.8.8.8");
    info.dns2 = QStringLiteral("1.1.1.1");
    return info;
}

} // namespace

TEST_F(TimeLapse, EmptyStoreShowsZerosAndWritesNothing)
{
    BurstModeSettings dialog;
    EXPECT_EQ(dialog.findChild<QLineEdit *>("burstModeNumber_lineEdit")->text(), "0");
    EXPECT_EQ(dialog.findChild<QLineEdit *>("burstModeInterval_s_lineEdit")->text(), "0");
    EXPECT_TRUE(dialog.getBurstModeMap().isEmpty());
    EXPECT_FALSE(stored("Number").isValid());
    EXPECT_EQ(dialog.windowTitle(), "Time Lapse Settings");
}

TEST_F(TimeLapse, TypedNumbersAreStoredAsTheyBecomeAcceptable)
{
    BurstModeSettings dialog;
    auto *number = dialog.findChild<QLineEdit *>("burstModeNumber_lineEdit");
    number->clear();
    QTest::keyClicks(number, "12");
    EXPECT_EQ(stored("Number").toInt(), 12);
    EXPECT_EQ(dialog.getBurstModeMap().value(BurstModeSettings::NumberKey).toInt(), 12);
    // A cleared field is stored as 0, and so is a typed 0: a series then refuses to start.
    number->clear();
    EXPECT_EQ(stored("Number").toInt(), 0);
    EXPECT_EQ(dialog.getBurstModeMap().value(BurstModeSettings::NumberKey).toInt(), 0);
    QTest::keyClicks(number, "5");
    number->selectAll();
    QTest::keyClicks(number, "0");
    EXPECT_EQ(number->text(), "0");
    EXPECT_EQ(stored("Number").toInt(), 0);

    auto *interval = dialog.findChild<QLineEdit *>("burstModeInterval_s_lineEdit");
    interval->clear();
    QTest::keyClicks(interval, "2147483647");  // the tenth digit does not go in
    EXPECT_EQ(interval->text(), "214748364");
    EXPECT_EQ(stored("Interval").toInt(), 214748364);
    interval->clear();
    QTest::keyClicks(interval, "abc-5");
    EXPECT_EQ(interval->text(), "5");
    EXPECT_EQ(stored("Interval").toInt(), 5);
}

// Either field takes only numbers the store keeps: a digit that would take
// it past the top does not go in, so what was written at every keystroke
// reads back at the next start as itself, and the top itself does too.
TEST_F(TimeLapse, FieldsTakeOnlyNumbersTheStoreKeeps)
{
    {
        BurstModeSettings dialog;
        for (const char *name : {"burstModeNumber_lineEdit", "burstModeInterval_s_lineEdit"}) {
            auto *field = dialog.findChild<QLineEdit *>(name);
            field->clear();
            QTest::keyClicks(field, "599182736");
            EXPECT_EQ(field->text(), "59918273") << name;
        }
        EXPECT_EQ(stored("Number").toInt(), 59918273);
        EXPECT_EQ(stored("Interval").toInt(), 59918273);
        auto *interval = dialog.findChild<QLineEdit *>("burstModeInterval_s_lineEdit");
        interval->clear();
        QTest::keyClicks(interval, "214748364");
        EXPECT_EQ(interval->text(), "214748364");
    }
    EXPECT_TRUE(SettingsStore::instance().ignoredSettings().isEmpty());
    const QMap<int, QVariant> read = SettingsStore::instance().loadBurstMode();
    EXPECT_EQ(read.value(BurstModeSettings::NumberKey).toInt(), 59918273);
    EXPECT_EQ(read.value(BurstModeSettings::IntervalKey).toInt(), 214748364);
    BurstModeSettings next;
    EXPECT_EQ(next.findChild<QLineEdit *>("burstModeNumber_lineEdit")->text(), "59918273");
    EXPECT_EQ(next.findChild<QLineEdit *>("burstModeInterval_s_lineEdit")->text(), "214748364");
}

TEST_F(TimeLapse, StoredValuesComeBack)
{
    SettingsStore::instance().setBurstModeValue(0, 40);
    SettingsStore::instance().setBurstModeValue(1, 3);
    BurstModeSettings dialog;
    EXPECT_EQ(dialog.findChild<QLineEdit *>("burstModeNumber_lineEdit")->text(), "40");
    EXPECT_EQ(dialog.getBurstModeMap().value(1).toInt(), 3);
}

TEST(IpSettingChecks, StaticAddressesAreChecked)
{
    EXPECT_TRUE(IpSetting::problemOf(staticInfo("192.168.1.100", "255.255.255.0", "192.168.1.1")).isEmpty());
    EXPECT_TRUE(IpSetting::problemOf(staticInfo("10.1.2.3", "255.0.0.0", "")).isEmpty());
    const char *bad[][3] = {
        {"192.168.1", "255.255.255.0", "192.168.1.1"},      // three parts
        {"192.168.1.300", "255.255.255.0", "192.168.1.1"},  // part above 255
        {"camera", "255.255.255.0", "192.168.1.1"},
        {"192.168.1.100", "255.0.255.0", "192.168.1.1"},    // mask not contiguous
        {"192.168.1.100", "0.0.0.0", "192.168.1.1"},
        {"192.168.1.100", "255.255.255.255", "192.168.1.1"},
        {"192.168.1.0", "255.255.255.0", "192.168.1.1"},    // the subnet itself
        {"192.168.1.255", "255.255.255.0", "192.168.1.1"},  // its broadcast
        {"127.0.0.5", "255.0.0.0", ""},
        {"224.0.0.9", "255.255.255.0", ""},
        {"192.168.1.100", "255.255.255.0", "192.168.2.1"},  // gateway outside
        {"192.168.1.100", "255.255.255.0", "192.168.1.100"},
        {"192.168.1.100", "255.255.255.0", "gateway"},
    };
    for (const auto &entry : bad)
        EXPECT_FALSE(IpSetting::problemOf(staticInfo(entry[0], entry[1], entry[2])).isEmpty()) << entry[0] << " "
                                                                                                << entry[1] << " "
                                                                                                << entry[2];
    IpInfo dhcp = staticInfo("", "", "");
    dhcp.dhcp = true;
    EXPECT_TRUE(IpSetting::problemOf(dhcp).isEmpty());
}

TEST(IpSettingChecks, ChangesThatMoveTheCamera)
{
    const IpInfo current = staticInfo("192.168.1.100", "255.255.255.0", "192.168.1.1");
    EXPECT_FALSE(IpSetting::movesCamera(current, current));
    EXPECT_FALSE(IpSetting::movesCamera(current, staticInfo("192.168.1.100", "255.255.255.0", "192.168.1.254")));
    EXPECT_TRUE(IpSetting::movesCamera(current, staticInfo("192.168.1.101", "255.255.255.0", "192.168.1.1")));
    EXPECT_TRUE(IpSetting::movesCamera(current, staticInfo("192.168.1.100", "255.255.0.0", "192.168.1.1")));
    IpInfo dhcp = current;
    dhcp.dhcp = true;
    EXPECT_TRUE(IpSetting::movesCamera(current, dhcp));
}

TEST(IpSettingDialog, OkWithoutChangesSendsExactlyWhatCameIn)
{
    IpSetting dialog;
    const IpInfo info = staticInfo("192.168.1.100", "255.255.255.0", "192.168.1.1");
    dialog.setIpInfo(info);
    EXPECT_EQ(dialog.findChild<QComboBox *>("dhcp_combobox")->currentText(), "false");
    EXPECT_TRUE(dialog.findChild<QLineEdit *>("dns1_lineEdit")->isHidden());
    QSignalSpy changed(&dialog, &IpSetting::ipChanged);
    dialog.findChild<QPushButton *>("ipv4_accept")->click();
    ASSERT_EQ(changed.count(), 1);
    const IpInfo sent = changed.at(0).at(0).value<IpInfo>();
    EXPECT_FALSE(sent.dhcp);
    EXPECT_EQ(sent.ip, info.ip);
    EXPECT_EQ(sent.gateway, info.gateway);
    EXPECT_EQ(sent.netmask, info.netmask);
    EXPECT_EQ(sent.dns1, "8.8.8.8");
    EXPECT_EQ(sent.dns2, "1.1.1.1");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST(IpSettingDialog, BadAddressIsRefusedWithAMessage)
{
    IpSetting dialog;
    dialog.setIpInfo(staticInfo("192.168.1.100", "255.255.255.0", "192.168.1.1"));
    dialog.findChild<QLineEdit *>("gateway_lineEdit")->setText("10.0.0.1");
    QSignalSpy changed(&dialog, &IpSetting::ipChanged);
    MessageBoxAnswer answer;
    dialog.findChild<QPushButton *>("ipv4_accept")->click();
    EXPECT_EQ(answer.shown, 1);
    EXPECT_EQ(answer.title, "Warning");
    EXPECT_TRUE(answer.text.contains("gateway"));
    EXPECT_EQ(changed.count(), 0);
}

TEST(IpSettingDialog, NewAddressIsConfirmedFirst)
{
    IpSetting dialog;
    dialog.setIpInfo(staticInfo("192.168.1.100", "255.255.255.0", "192.168.1.1"));
    dialog.findChild<QLineEdit *>("IP_lineEdit")->setText("192.168.1.120");
    QSignalSpy changed(&dialog, &IpSetting::ipChanged);
    {
        MessageBoxAnswer answer(QMessageBox::No);
        dialog.findChild<QPushButton *>("ipv4_accept")->click();
        EXPECT_EQ(answer.shown, 1);
        EXPECT_EQ(changed.count(), 0);
    }
    {
        MessageBoxAnswer answer(QMessageBox::Yes);
        dialog.findChild<QPushButton *>("ipv4_accept")->click();
        ASSERT_EQ(changed.count(), 1);
        EXPECT_EQ(changed.at(0).at(0).value<IpInfo>().ip, "192.168.1.120");
    }
    // The dialog closes with its camera while the question is open: the
    // question goes with it, and nothing is sent.
    QTimer::singleShot(0, [&] {
        waitFor([] { return qobject_cast<QMessageBox *>(QApplication::activeModalWidget()) != nullptr; });
        dialog.reject();
        // Left open, the question is answered Yes before long.
        QTimer::singleShot(2000, &dialog, [] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
                box->done(QMessageBox::Yes);
        });
    });
    dialog.findChild<QPushButton *>("ipv4_accept")->click();
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST(IpSettingDialog, CancelSendsNothing)
{
    IpSetting dialog;
    dialog.setIpInfo(staticInfo("192.168.1.100", "255.255.255.0", "192.168.1.1"));
    QSignalSpy changed(&dialog, &IpSetting::ipChanged);
    dialog.findChild<QPushButton *>("ipv4_reject")->click();
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST(IpSettingDialog, PanelSendsTheAcceptedConfigurationToTheCamera)
{
    registerCameraMetaTypes();
    CamSettings panel;
    auto camera = QSharedPointer<RecordingCamera>::create(QStringLiteral("W710_IPC"));
    ASSERT_TRUE(bindThroughFactory(panel, camera, QStringLiteral("192.168.1.100"), true));
    QTranslator chinese;
    ASSERT_TRUE(chinese.load(QStringLiteral(":/Language/language_cn.qm")));
    QString shown;
    // The camera answers the request; the dialog opens modally, the language
    // may change while it is open, and it is accepted unchanged.
    const auto accept = [&](const IpInfo &info, bool switchLanguage) {
        camera->clearCalls();
        QTimer::singleShot(0, [&] {
            waitFor([] { return qobject_cast<IpSetting *>(QApplication::activeModalWidget()) != nullptr; });
            auto *dialog = qobject_cast<IpSetting *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            if (switchLanguage) {
                QApplication::installTranslator(&chinese);
                panel.retranslate();
            }
            shown = dialog->findChild<QComboBox *>("dhcp_combobox")->currentText();
            dialog->findChild<QPushButton *>("ipv4_accept")->click();
        });
        emit camera->sendIpInfo(info);
    };
    accept(staticInfo("192.168.1.100", "255.255.255.0", "192.168.1.1"), false);
    EXPECT_EQ(camera->calls(), QStringList({"onSetIp 192.168.1.100"}));

    // DHCP stays chosen over a language switch.
    IpInfo dhcp = staticInfo("192.168.1.100", "255.255.255.0", "192.168.1.1");
    dhcp.dhcp = true;
    accept(dhcp, true);
    QApplication::removeTranslator(&chinese);
    panel.retranslate();
    EXPECT_EQ(shown, QString::fromUtf8("是"));
    EXPECT_EQ(camera->calls(), QStringList({"onSetIp DHCP 192.168.1.100"}));
}
