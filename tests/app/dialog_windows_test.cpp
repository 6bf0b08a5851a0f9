// The main window's dialogs and tool windows on an X server without a
// window manager, as in a kiosk session: each opens over the main window,
// gets the keyboard and closes with Esc; nothing else would close it there.
// They run on an Xvfb of their own (test_app_dialogs): an X server has one
// keyboard focus, which the other tests' windows would take.
#include "photo_settings.h"
#include "window_test_support.h"

#include <QGuiApplication>
#include <QWindow>

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
    // Shows the window and waits until the X server gives it the keyboard.
    // Shown a second time if it did not get it: on a loaded machine a focus
    // change of the window before can still be on its way (a window that
    // never gets the keyboard fails both times).
    bool showWithKeyboard(QWidget *dialog)
    {
        for (int attempt = 0; attempt < 2; ++attempt) {
            dialog->hide();
            dialog->show();
            if (QTest::qWaitForWindowExposed(dialog)
                && waitFor([dialog] { return QApplication::activeWindow() == dialog; }, 2500))
                return true;
        }
        return false;
    }
    // The window with the keyboard, for a failure's message.
    static QString activeName()
    {
        const QWidget *active = QApplication::activeWindow();
        const QWindow *focus = QGuiApplication::focusWindow();
        return QStringLiteral("active %1, focus %2, modal %3")
            .arg(QLatin1String(active ? active->metaObject()->className() : "none"),
                 focus ? focus->objectName() : QStringLiteral("none"),
                 QGuiApplication::modalWindow() ? QGuiApplication::modalWindow()->objectName() : QStringLiteral("none"));
    }
    QPoint offCentre(QWidget *dialog) const { return dialog->frameGeometry().center() - window->frameGeometry().center(); }
    void press(QWidget *dialog, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : dialog, key, modifiers);
    }
};

} // namespace

TEST_F(DialogWindowsTest, EachOpensOverTheMainWindowAndClosesWithEscape)
{
    QStringList seen;
    for (QWidget *dialog : QApplication::topLevelWidgets()) {
        const Qt::WindowType type = dialog->windowType();
        if (dialog == window || (type != Qt::Window && type != Qt::Dialog && type != Qt::Tool))
            continue;
        const QString name = QString::fromLatin1(dialog->metaObject()->className());
        seen << name;
        SCOPED_TRACE(name.toStdString());
        ASSERT_TRUE(showWithKeyboard(dialog)) << activeName().toStdString();
        EXPECT_LE(offCentre(dialog).manhattanLength(), 2) << offCentre(dialog).x() << "," << offCentre(dialog).y();
        press(dialog, Qt::Key_Escape);
        EXPECT_TRUE(waitFor([dialog] { return !dialog->isVisible(); }));
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        // The keyboard is back with the main window.
        EXPECT_TRUE(waitFor([this] { return QApplication::activeWindow() == window; }))
            << activeName().toStdString();
    }
    seen.sort();
    EXPECT_TRUE(seen.contains("PhotoSettings") && seen.contains("BurstModeSettings") && seen.contains("WaitDialog"))
        << seen.join(", ");
}

TEST_F(DialogWindowsTest, PhotoSettingsCloseWithAltF4)
{
    PhotoSettings *photo = window->photoSettingsDialog();
    QTest::mouseClick(button("photoSettings_btn"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(photo));
    ASSERT_TRUE(waitFor([photo] { return QApplication::activeWindow() == photo; }));
    press(photo, Qt::Key_F4, Qt::AltModifier);
    EXPECT_TRUE(waitFor([photo] { return !photo->isVisible(); }));
}
