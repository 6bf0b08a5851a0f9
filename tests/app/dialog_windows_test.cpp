// The main window's dialogs and tool windows on an X server without a
// window manager, as in a kiosk session: each, shown once, opens over the
// main window, gets the keyboard and closes with Esc typed on the keyboard
// (nothing else would close it there), and a window left open gets the
// keyboard back when one opened over it closes. They run on an Xvfb of their
// own (test_app_dialogs): an X server has one keyboard focus, which the other
// tests' windows would take.
#include "burst_mode_settings.h"
#include "photo_settings.h"
#include "window_test_support.h"
#include "x_keyboard.h"

#include <QGuiApplication>

namespace {

class DialogWindowsTest : public WindowTest
{
protected:
    void SetUp() override
    {
        if (!qEnvironmentVariableIsSet("VORENTA_OWN_X_SERVER"))
            GTEST_SKIP() << "runs on an X server of its own (test_app_dialogs)";
        ASSERT_EQ(QGuiApplication::platformName(), QLatin1String("xcb"));
        WindowTest::SetUp();
        startWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        // The camera up first: while it opens, its wait dialog comes and
        // goes and takes the keyboard with it.
        ASSERT_TRUE(waitForFrames(20000)) << dialogs.all();
    }
    // Keys typed now go to `target`: the X server gives them to its window,
    // and Qt counts it active.
    bool hasKeyboard(const QWidget *target, int timeoutMs = 10000)
    {
        return waitFor(
            [target] { return XKeyboard::focusWindow() == target->winId() && QApplication::activeWindow() == target; },
            timeoutMs);
    }
    // Who has the keyboard, for a failure's message.
    static std::string keyboardName()
    {
        const WId focus = XKeyboard::focusWindow();
        QString xFocus = QStringLiteral("0x%1").arg(focus, 0, 16);
        for (const QWidget *widget : QApplication::topLevelWidgets())
            if (widget->testAttribute(Qt::WA_WState_Created) && widget->internalWinId() == focus)
                xFocus = QString::fromLatin1(widget->metaObject()->className());
        const QWidget *active = QApplication::activeWindow();
        return QStringLiteral("X focus %1, Qt active %2")
            .arg(xFocus, QLatin1String(active ? active->metaObject()->className() : "none"))
            .toStdString();
    }
    QPoint offCentre(QWidget *dialog) const
    {
        return dialog->frameGeometry().center() - window->frameGeometry().center();
    }
};

} // namespace

TEST_F(DialogWindowsTest, EachOpensOverTheMainWindowWithTheKeyboardAndClosesWithEscape)
{
    QStringList seen;
    for (QWidget *dialog : QApplication::topLevelWidgets()) {
        const Qt::WindowType type = dialog->windowType();
        if (dialog == window || (type != Qt::Window && type != Qt::Dialog && type != Qt::Tool))
            continue;
        const QString name = QString::fromLatin1(dialog->metaObject()->className());
        seen << name;
        SCOPED_TRACE(name.toStdString());
        // Closed by the keyboard here: the test's own dialog answers would
        // close a modal one, maybe before it had the keyboard.
        dialog->setProperty("answered", true);
        dialog->show();
        ASSERT_TRUE(hasKeyboard(dialog)) << keyboardName();
        EXPECT_LE(offCentre(dialog).manhattanLength(), 2) << offCentre(dialog).x() << "," << offCentre(dialog).y();
        ASSERT_TRUE(XKeyboard::press(Qt::Key_Escape));
        EXPECT_TRUE(waitFor([dialog] { return !dialog->isVisible(); }));
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        // The keyboard is back with the main window.
        EXPECT_TRUE(hasKeyboard(window)) << keyboardName();
    }
    seen.sort();
    EXPECT_TRUE(seen.contains("PhotoSettings") && seen.contains("BurstModeSettings") && seen.contains("WaitDialog")
                && seen.contains("QProgressDialog"))
        << seen.join(", ");
}

TEST_F(DialogWindowsTest, AWindowLeftOpenGetsTheKeyboardBackWhenTheOneOpenedOverItClosesWithAltF4)
{
    // The main window has the keyboard first, as a window manager would
    // give it at start: the oldest of the windows that had it.
    window->activateWindow();
    ASSERT_TRUE(hasKeyboard(window)) << keyboardName();
    QWidget *below = window->burstModeDialog();
    below->show();
    ASSERT_TRUE(hasKeyboard(below)) << keyboardName();
    PhotoSettings *photo = window->photoSettingsDialog();
    photo->setProperty("answered", true);  // modal: left to the keyboard
    QTest::mouseClick(button("photoSettings_btn"), Qt::LeftButton);
    ASSERT_TRUE(hasKeyboard(photo)) << keyboardName();
    ASSERT_TRUE(XKeyboard::press(Qt::Key_F4, Qt::AltModifier));
    EXPECT_TRUE(waitFor([photo] { return !photo->isVisible(); }));
    EXPECT_TRUE(hasKeyboard(below)) << keyboardName();
    ASSERT_TRUE(XKeyboard::press(Qt::Key_Escape));
    EXPECT_TRUE(waitFor([below] { return !below->isVisible(); }));
    EXPECT_TRUE(hasKeyboard(window)) << keyboardName();
}
