// The advanced-settings lock: which texts unlock, what each outcome shows,
// and that the typed text never outlives the dialog.
#include "unlock_advanced_settings.h"
#include "upgrade_test_support.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QToolButton>
#include <QTranslator>
#include <gtest/gtest.h>

namespace {

class UnlockTest : public ::testing::Test
{
protected:
    QLineEdit *field() { return dialog.findChild<QLineEdit *>(QStringLiteral("password_lineEdit")); }
    QToolButton *button() { return dialog.findChild<QToolButton *>(QStringLiteral("unlock_tBtn")); }
    // Runs the dialog modally, types `text` and presses the button (or Enter).
    int tryText(const QString &text, bool enter = false)
    {
        QTimer::singleShot(0, &dialog, [=] {
            field()->setText(text);
            if (enter)
                QTest::keyClick(field(), Qt::Key_Return);
            else
                button()->click();
            // Still open after a failed try: close it with its close button.
            QTimer::singleShot(0, &dialog, [this] {
                if (dialog.isVisible()) {
                    typedAtClose = field()->text();
                    dialog.close();
                }
            });
        });
        return dialog.exec();
    }

    UnlockAdvancedSettings dialog;
    MessageBoxAnswer boxes{QMessageBox::NoButton, 60000};
    QString typedAtClose;
};

} // namespace

TEST(UnlockCodes, ExactCaseSensitiveWholeText)
{
    EXPECT_EQ(unlockCodeOf(QStringLiteral("quintar")), UnlockCode::Administrator);
    EXPECT_EQ(unlockCodeOf(QStringLiteral("marbleguide")), UnlockCode::Factory);
    EXPECT_EQ(unlockCodeOf(QStringLiteral("Quintar")), UnlockCode::None);
    EXPECT_EQ(unlockCodeOf(QStringLiteral("quintar ")), UnlockCode::None);
    EXPECT_EQ(unlockCodeOf(QStringLiteral("quinta")), UnlockCode::None);
    EXPECT_EQ(unlockCodeOf(QStringLiteral("MARBLEGUIDE")), UnlockCode::None);
    EXPECT_EQ(unlockCodeOf(QString()), UnlockCode::None);
}

TEST_F(UnlockTest, AdministratorPasswordUnlocks)
{
    QSignalSpy productionTest(&dialog, &UnlockAdvancedSettings::showProduceTestDialog);
    EXPECT_EQ(tryText(QStringLiteral("quintar")), QDialog::Accepted);
    EXPECT_EQ(boxes.texts, QStringList{QStringLiteral("Unlock successfully!")});
    EXPECT_EQ(boxes.titles, QStringList{QStringLiteral("Info")});
    EXPECT_TRUE(field()->text().isEmpty());
    EXPECT_FALSE(field()->isUndoAvailable()) << "undo must not bring the password back";
    EXPECT_TRUE(productionTest.isEmpty());
}

TEST_F(UnlockTest, WrongPasswordKeepsTheDialogOpen)
{
    EXPECT_EQ(tryText(QStringLiteral("Quintar")), QDialog::Rejected);
    EXPECT_EQ(boxes.texts, QStringList{QStringLiteral("Failed to unlock, wrong password!")});
    EXPECT_EQ(boxes.titles, QStringList{QStringLiteral("Warning")});
    EXPECT_EQ(typedAtClose, QStringLiteral("Quintar")) << "the text stays for another try";
    EXPECT_TRUE(field()->text().isEmpty()) << "closing clears the field";
    EXPECT_FALSE(field()->isUndoAvailable());
}

TEST_F(UnlockTest, EmptyPasswordIsRefused)
{
    EXPECT_EQ(tryText(QString()), QDialog::Rejected);
    EXPECT_EQ(boxes.texts, QStringList{QStringLiteral("Failed to unlock, password is empty!")});
}

TEST_F(UnlockTest, FactoryCodeAsksForTheProductionTestAndStaysLocked)
{
    QSignalSpy productionTest(&dialog, &UnlockAdvancedSettings::showProduceTestDialog);
    EXPECT_EQ(tryText(QStringLiteral("marbleguide")), QDialog::Rejected);
    EXPECT_EQ(productionTest.size(), 1);
    EXPECT_TRUE(boxes.texts.isEmpty());
    EXPECT_TRUE(field()->text().isEmpty());
}

TEST_F(UnlockTest, EnterActsLikeTheButton)
{
    EXPECT_EQ(tryText(QStringLiteral("quintar"), true), QDialog::Accepted);
    EXPECT_EQ(boxes.texts, QStringList{QStringLiteral("Unlock successfully!")});
}

TEST_F(UnlockTest, FieldIsMasked)
{
    EXPECT_EQ(field()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("AdvancedSettings"));
    EXPECT_EQ(button()->text(), QStringLiteral("Unlock"));
    EXPECT_FALSE(button()->icon().isNull());
}

TEST(UnlockTranslations, DialogSpeaksChinese)
{
    QTranslator translator;
    ASSERT_TRUE(translator.load(QStringLiteral(":/Language/language_cn.qm")));
    QCoreApplication::installTranslator(&translator);
    UnlockAdvancedSettings dialog;
    dialog.retranslate();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("高级设置"));
    EXPECT_EQ(dialog.findChild<QToolButton *>(QStringLiteral("unlock_tBtn"))->text(), QStringLiteral("解锁"));
    QCoreApplication::removeTranslator(&translator);
}
