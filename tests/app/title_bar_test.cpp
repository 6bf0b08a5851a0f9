#include "shell_test_support.h"
#include "title_bar.h"
#include "title_bar_button.h"

#include <QAction>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QSettings>
#include <QSignalSpy>

namespace {

class TitleBarMenu : public ShellTest
{
protected:
    void storeDraw(int id, const QVariant &value) { SettingsStore::instance().setDrawValue(id, value); }
    void storeWheel(const QVariant &value) { SettingsStore::instance().setKeyBindValue(0, value); }

    // Actions of the settings menu: the two submenus, then their entries.
    static QMenu *languageMenu(TitleBar &bar) { return bar.settingsMenu()->actions().at(0)->menu(); }
    static QMenu *wheelMenu(TitleBar &bar) { return bar.settingsMenu()->actions().at(1)->menu(); }
    static QAction *entry(QMenu *menu, const QString &text)
    {
        for (QAction *action : menu->actions())
            if (action->text() == text)
                return action;
        return nullptr;
    }
    static QStringList texts(QMenu *menu)
    {
        QStringList list;
        for (QAction *action : menu->actions())
            list << action->text();
        return list;
    }
    QVariant storedDraw(int id)
    {
        QVariant value;
        SettingsStore::instance().drawValue(id, value);
        return value;
    }
    QVariant storedWheel()
    {
        QVariant value;
        SettingsStore::instance().keyBindValue(0, value);
        return value;
    }

    QWidget window;
};

QColor pixel(QWidget *widget, int x, int y)
{
    return widget->grab().toImage().pixelColor(x, y);
}

void enter(QWidget *widget)
{
    QEvent event(QEvent::Enter);
    QCoreApplication::sendEvent(widget, &event);
}

void leave(QWidget *widget)
{
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(widget, &event);
}

void press(QWidget *widget, Qt::MouseButton button)
{
    QMouseEvent event(QEvent::MouseButtonPress, QPointF(10, 10), widget->mapToGlobal(QPoint(10, 10)), button,
                      button, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

int distance(const QColor &a, const QColor &b)
{
    return qAbs(a.red() - b.red()) + qAbs(a.green() - b.green()) + qAbs(a.blue() - b.blue());
}

// Pixels of the glyph area nearer to the glyph colour than to the background
// (antialiased 1-pixel strokes seldom cover a pixel whole).
int glyphPixels(TitleBarButton *button, const QColor &glyph)
{
    const QImage image = button->grab().toImage();
    const QColor background = image.pixelColor(1, 1);
    int count = 0;
    for (int y = 8; y < 24; ++y)
        for (int x = 15; x < 31; ++x) {
            const QColor c = image.pixelColor(x, y);
            if (distance(c, glyph) < distance(c, background))
                ++count;
        }
    return count;
}

}  // namespace

TEST_F(TitleBarMenu, NothingStoredMeansEnglishAndZoomWindow)
{
    TitleBar bar(&window);
    EXPECT_TRUE(entry(languageMenu(bar), "English")->isChecked());
    EXPECT_FALSE(entry(languageMenu(bar), QStringLiteral("中文"))->isChecked());
    EXPECT_TRUE(entry(wheelMenu(bar), "Zoom video window")->isChecked());

    QSignalSpy changed(&bar, &TitleBar::signalChangeLanguage);
    bar.applyLanguage();
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(0).value<MyLanguage>(), MyLanguage::English);
    EXPECT_EQ(QCoreApplication::translate("TitleBar", "Language"), "Language");
    EXPECT_EQ(texts(bar.settingsMenu()), QStringList({"Language", "Mouse Wheel Func"}));
    EXPECT_EQ(texts(languageMenu(bar)), QStringList({QStringLiteral("中文"), "English"}));
    EXPECT_EQ(texts(wheelMenu(bar)), QStringList({"Zoom video window", "Focus", "Zoom"}));
}

TEST_F(TitleBarMenu, UnknownStoredLanguageMeansEnglishAndInstallsNothing)
{
    storeDraw(Language, 5);
    TitleBar bar(&window);
    EXPECT_EQ(bar.language(), 0);
    EXPECT_TRUE(entry(languageMenu(bar), "English")->isChecked());
    EXPECT_FALSE(entry(languageMenu(bar), QStringLiteral("中文"))->isChecked());

    QSignalSpy changed(&bar, &TitleBar::signalChangeLanguage);
    bar.applyLanguage();
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(0).value<MyLanguage>(), MyLanguage::English);
    EXPECT_EQ(QCoreApplication::translate("WaitDialog", "Loading"), "Loading");
}

TEST_F(TitleBarMenu, ChoosingChineseStoresItAndTranslatesTheProgramAndQt)
{
    TitleBar bar(&window);
    bar.applyLanguage();
    QSignalSpy changed(&bar, &TitleBar::signalChangeLanguage);

    entry(languageMenu(bar), QStringLiteral("中文"))->trigger();
    EXPECT_EQ(storedDraw(Language).toInt(), 1);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(0).value<MyLanguage>(), MyLanguage::Chinese);
    EXPECT_EQ(texts(bar.settingsMenu()), QStringList({QStringLiteral("语言"), QStringLiteral("鼠标滚轮功能")}));
    EXPECT_EQ(texts(languageMenu(bar)), QStringList({QStringLiteral("中文"), "English"}));
    EXPECT_EQ(texts(wheelMenu(bar)),
              QStringList({QStringLiteral("缩放视频窗口"), QStringLiteral("对焦"), QStringLiteral("变焦")}));
    EXPECT_EQ(QCoreApplication::translate("WaitDialog", "Loading"), QStringLiteral("加载中"));
    // Qt's own texts (standard buttons) come from the built-in Qt catalogue.
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "OK"), QStringLiteral("确定"));

    entry(languageMenu(bar), "English")->trigger();
    EXPECT_EQ(storedDraw(Language).toInt(), 0);
    ASSERT_EQ(changed.count(), 2);
    EXPECT_EQ(changed.at(1).at(0).value<MyLanguage>(), MyLanguage::English);
    EXPECT_EQ(texts(bar.settingsMenu()), QStringList({"Language", "Mouse Wheel Func"}));
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "OK"), "OK");
}

TEST_F(TitleBarMenu, StoredChineseTakesEffectWhenApplied)
{
    storeDraw(Language, 1);
    {
        TitleBar bar(&window);
        EXPECT_TRUE(entry(languageMenu(bar), QStringLiteral("中文"))->isChecked());
        bar.applyLanguage();
        EXPECT_EQ(texts(bar.settingsMenu()).first(), QStringLiteral("语言"));
    }
    // The bar's translators leave with it.
    EXPECT_EQ(QCoreApplication::translate("TitleBar", "Language"), "Language");
}

TEST_F(TitleBarMenu, WheelChoiceIsStoredAndReportedEachTime)
{
    TitleBar bar(&window);
    QSignalSpy changed(&bar, &TitleBar::MousewheelFuncChanged);
    QAction *focus = entry(wheelMenu(bar), "Focus");
    focus->trigger();
    EXPECT_EQ(storedWheel().toInt(), 1);
    QSettings config(SettingsStore::instance().configPath(), QSettings::IniFormat);
    EXPECT_EQ(config.value("key_bind/MouseWheel").toInt(), 1);
    focus->trigger();
    ASSERT_EQ(changed.count(), 2);
    EXPECT_EQ(changed.at(0).at(0).value<KeyFunction>(), KeyFunction::Focus);
    EXPECT_EQ(changed.at(1).at(0).value<KeyFunction>(), KeyFunction::Focus);

    entry(wheelMenu(bar), "Zoom")->trigger();
    EXPECT_EQ(storedWheel().toInt(), 2);
    EXPECT_EQ(changed.at(2).at(0).value<KeyFunction>(), KeyFunction::Zoom);
}

TEST_F(TitleBarMenu, StoredWheelValuesMarkTheirEntry)
{
    storeWheel(2);
    {
        TitleBar bar(&window);
        EXPECT_TRUE(entry(wheelMenu(bar), "Zoom")->isChecked());
    }
    storeWheel("not a number");
    {
        TitleBar bar(&window);
        EXPECT_TRUE(entry(wheelMenu(bar), "Zoom video window")->isChecked());
    }
    storeWheel(7);
    {
        TitleBar bar(&window);
        for (QAction *action : wheelMenu(bar)->actions())
            EXPECT_EQ(action->isChecked(), action->text() == "Zoom video window")
                << action->text().toStdString();
    }
}

TEST_F(TitleBarMenu, TitleAndIconFollowTheWindow)
{
    TitleBar bar(&window);
    window.setWindowTitle("5.1.0");
    auto *title = bar.findChildren<QLabel *>().at(1);
    EXPECT_EQ(title->text(), "5.1.0");
    QPixmap picture(64, 64);
    picture.fill(Qt::green);
    window.setWindowIcon(QIcon(picture));
    EXPECT_EQ(bar.findChildren<QLabel *>().at(0)->pixmap(Qt::ReturnByValue).size(), QSize(20, 20));
}

TEST(TitleBarButtons, StatesFollowThePointerAndTheLeftButton)
{
    QWidget host;
    CloseButton button(&host);
    EXPECT_EQ(button.size(), QSize(46, 32));
    EXPECT_EQ(button.state(), TitleBarButton::Normal);
    enter(&button);
    EXPECT_EQ(button.state(), TitleBarButton::Hovered);
    press(&button, Qt::RightButton);
    EXPECT_EQ(button.state(), TitleBarButton::Hovered);
    press(&button, Qt::LeftButton);
    EXPECT_EQ(button.state(), TitleBarButton::Pressed);
    leave(&button);
    EXPECT_EQ(button.state(), TitleBarButton::Normal);
}

TEST(TitleBarButtons, CloseIsPaintedRedWithAWhiteCross)
{
    QWidget host;
    CloseButton button(&host);
    enter(&button);
    EXPECT_EQ(pixel(&button, 1, 1), QColor(232, 17, 35));
    EXPECT_GT(glyphPixels(&button, Qt::white), 10);
    press(&button, Qt::LeftButton);
    EXPECT_EQ(pixel(&button, 1, 1), QColor(241, 112, 122));
    EXPECT_GT(glyphPixels(&button, Qt::white), 10);
}

TEST(TitleBarButtons, TheBarGivesSettingsMinimiseAndMaximiseTheBlueScheme)
{
    QWidget window;
    TitleBar bar(&window);
    for (TitleBarButton *button : {static_cast<TitleBarButton *>(bar.setButton()),
                                   static_cast<TitleBarButton *>(bar.minimizeButton()),
                                   static_cast<TitleBarButton *>(bar.maximizeButton())}) {
        enter(button);
        EXPECT_EQ(pixel(button, 1, 1), QColor(0, 100, 182));
        EXPECT_GT(glyphPixels(button, Qt::white), 8);
        press(button, Qt::LeftButton);
        EXPECT_EQ(pixel(button, 1, 1), QColor(54, 57, 65));
        leave(button);
    }
    enter(bar.closeButton());
    EXPECT_EQ(pixel(bar.closeButton(), 1, 1), QColor(232, 17, 35));
}

TEST(TitleBarButtons, GlyphsTakeTheForegroundColour)
{
    QWidget host;
    SetButton button(&host);
    button.setHoverForeground(QColor(0, 255, 0));
    button.setHoverBackground(QColor(0, 0, 0));
    enter(&button);
    EXPECT_GT(glyphPixels(&button, QColor(0, 255, 0)), 10);
    EXPECT_EQ(glyphPixels(&button, Qt::white), 0);
}

TEST(TitleBarButtons, UnreadableIconShowsOnlyTheBackground)
{
    QWidget host;
    SvgTitleBarButton button(":/pic/no_such_icon.svg", &host);
    button.setHoverBackground(QColor(10, 20, 30));
    enter(&button);
    const QImage image = button.grab().toImage();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ASSERT_EQ(image.pixelColor(x, y), QColor(10, 20, 30)) << x << "," << y;
}

TEST(TitleBarButtons, SwitchingTheMaximiseGlyphDropsTheHoverLook)
{
    QWidget host;
    MaximizeButton button(&host);
    enter(&button);
    button.setMaximized(true);
    EXPECT_TRUE(button.isMaximized());
    EXPECT_EQ(button.state(), TitleBarButton::Normal);
}
