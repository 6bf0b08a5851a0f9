// The upgrade dialog: the remembered package path, choosing a file, and the
// confirmation before the path is handed on.
#include "settings_store.h"
#include "upgrade_dialog.h"
#include "upgrade_test_support.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

constexpr int kUpgradeFilePath = 0;

class UpgradeDialogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        SettingsStore::instance().setBaseFolderForTesting(folder.path());
    }
    static QLineEdit *pathEdit(UpgradeDialog &dialog)
    {
        return dialog.findChild<QLineEdit *>(QStringLiteral("upgradeFilePath_lineEdit"));
    }
    static void click(UpgradeDialog &dialog, const char *button)
    {
        dialog.findChild<QPushButton *>(QString::fromLatin1(button))->click();
    }
    QTemporaryDir folder;
};

} // namespace

TEST_F(UpgradeDialogTest, ShowsTheStoredPathAndKeepsTheNextChoice)
{
    SettingsStore::instance().setBaseValue(kUpgradeFilePath, QStringLiteral("/firmware/update_w710.qpk"));
    UpgradeDialog dialog;
    EXPECT_EQ(dialog.filePath(), QStringLiteral("/firmware/update_w710.qpk"));
    EXPECT_FALSE(pathEdit(dialog)->isEnabled()) << "the path is only chosen through the file dialog";

    QString askedFolder, askedFilter;
    dialog.setFileChooser([&](QWidget *, const QString &, const QString &folder, const QString &filter) {
        askedFolder = folder;
        askedFilter = filter;
        return QStringLiteral("/firmware/board_update.bin");
    });
    click(dialog, "openUpgradeFile_btn");
    EXPECT_EQ(askedFolder, QStringLiteral("/firmware/update_w710.qpk"));
    EXPECT_EQ(askedFilter, QStringLiteral("Upgrade File (*.qpk *.bin)"));
    EXPECT_EQ(dialog.filePath(), QStringLiteral("/firmware/board_update.bin"));
    QVariant stored;
    ASSERT_TRUE(SettingsStore::instance().baseValue(kUpgradeFilePath, stored));
    EXPECT_EQ(stored.toString(), QStringLiteral("/firmware/board_update.bin"));

    dialog.setFileChooser([](QWidget *, const QString &, const QString &, const QString &) { return QString(); });
    click(dialog, "openUpgradeFile_btn");  // cancelled
    EXPECT_EQ(dialog.filePath(), QStringLiteral("/firmware/board_update.bin"));
}

TEST_F(UpgradeDialogTest, StartsInTheProgramFolderWithoutAPath)
{
    UpgradeDialog dialog;
    EXPECT_TRUE(dialog.filePath().isEmpty());
    QString askedFolder;
    dialog.setFileChooser([&](QWidget *, const QString &, const QString &folder, const QString &) {
        askedFolder = folder;
        return QString();
    });
    click(dialog, "openUpgradeFile_btn");
    EXPECT_EQ(askedFolder, QCoreApplication::applicationDirPath());
}

TEST_F(UpgradeDialogTest, LongPathBecomesTheTooltip)
{
    UpgradeDialog dialog;
    dialog.show();
    const QString shortPath = QStringLiteral("/a.bin");
    const QString longPath = QStringLiteral("/firmware/") + QString(200, QLatin1Char('x')) + QStringLiteral("/update.bin");
    dialog.setFileChooser([&](QWidget *, const QString &, const QString &, const QString &) { return longPath; });
    click(dialog, "openUpgradeFile_btn");
    EXPECT_EQ(pathEdit(dialog)->toolTip(), longPath);
    EXPECT_EQ(pathEdit(dialog)->cursorPosition(), 0);
    dialog.setFileChooser([&](QWidget *, const QString &, const QString &, const QString &) { return shortPath; });
    click(dialog, "openUpgradeFile_btn");
    EXPECT_TRUE(pathEdit(dialog)->toolTip().isEmpty());
}

TEST_F(UpgradeDialogTest, EmptyPathIsRefused)
{
    UpgradeDialog dialog;
    QSignalSpy upgrade(&dialog, &UpgradeDialog::upgrade);
    MessageBoxAnswer boxes{QMessageBox::NoButton, 60000};
    QTimer::singleShot(0, &dialog, [&] { click(dialog, "upgrade_btn"); });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_EQ(boxes.texts, QStringList{QStringLiteral("Please select upgrade file first!")});
    EXPECT_EQ(boxes.titles, QStringList{QStringLiteral("Info")});
    EXPECT_TRUE(upgrade.isEmpty());
}

TEST_F(UpgradeDialogTest, UpgradeOnlyAfterConfirmation)
{
    SettingsStore::instance().setBaseValue(kUpgradeFilePath, QStringLiteral("/firmware/update.bin"));
    UpgradeDialog dialog;
    QSignalSpy upgrade(&dialog, &UpgradeDialog::upgrade);
    MessageBoxAnswer boxes(QStringLiteral("Cancel"));
    int result = -1;
    QTimer::singleShot(0, &dialog, [&] {
        click(dialog, "upgrade_btn");  // answered with Cancel: the dialog stays
        EXPECT_TRUE(dialog.isVisible());
        boxes.setButtonText(QStringLiteral("OK"));
        click(dialog, "upgrade_btn");
    });
    result = dialog.exec();
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(boxes.texts, (QStringList{QStringLiteral("Are you sure to upgrade?"), QStringLiteral("Are you sure to upgrade?")}));
    EXPECT_EQ(boxes.titles.value(0), QStringLiteral("Notice"));
    ASSERT_EQ(upgrade.size(), 1);
    EXPECT_EQ(upgrade.first().first().toString(), QStringLiteral("/firmware/update.bin"));
}
