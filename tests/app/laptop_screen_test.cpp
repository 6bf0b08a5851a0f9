// The main window on a laptop's 1366x768 screen without a window manager:
// it opens inside the screen, and every control a user needs shows whole,
// those of the left pages too (scrolled to where a page scrolls). It runs on
// an Xvfb of that size of its own (test_app_laptop).
#include "title_bar.h"
#include "window_test_support.h"

#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QAction>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QScrollArea>
#include <QToolButton>

namespace {

QString nameOf(const QWidget *widget)
{
    return widget->objectName().isEmpty() ? QString::fromLatin1(widget->metaObject()->className())
                                          : widget->objectName();
}

// Empty when `widget` shows whole: at least its smallest size, inside each
// of its parents and inside the screen's available area; else what cuts it.
QString notWhole(const QWidget *widget)
{
    if (!widget->isVisible())
        return nameOf(widget) + " is hidden";
    // A size the form fixes below the widget's own wish is its size.
    const QSize least = widget->minimumSizeHint().boundedTo(widget->maximumSize());
    if (least.isValid() && (widget->width() < least.width() || widget->height() < least.height()))
        return QStringLiteral("%1 is squeezed to %2x%3").arg(nameOf(widget)).arg(widget->width()).arg(widget->height());
    const QRect rect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
    for (const QWidget *parent = widget->parentWidget(); parent; parent = parent->parentWidget())
        if (!QRect(parent->mapToGlobal(QPoint(0, 0)), parent->size()).contains(rect))
            return nameOf(widget) + " is cut by " + nameOf(parent);
    if (!QGuiApplication::primaryScreen()->availableGeometry().contains(rect))
        return nameOf(widget) + " is off the screen";
    return QString();
}

QStringList notWhole(const QList<QWidget *> &widgets)
{
    QStringList cut;
    for (const QWidget *widget : widgets) {
        const QString why = notWhole(widget);
        if (!why.isEmpty())
            cut << why;
    }
    return cut;
}

// The controls of `page` that show, each scrolled into view, and are not whole.
QStringList unreachable(QWidget *page)
{
    QStringList cut;
    for (QWidget *widget : page->findChildren<QWidget *>()) {
        const bool control = qobject_cast<QAbstractButton *>(widget) || qobject_cast<QComboBox *>(widget)
                             || qobject_cast<QAbstractSpinBox *>(widget) || qobject_cast<QAbstractSlider *>(widget);
        if (!control || !widget->isVisible())
            continue;
        for (QWidget *parent = widget->parentWidget(); parent; parent = parent->parentWidget())
            if (auto *area = qobject_cast<QScrollArea *>(parent))
                area->ensureWidgetVisible(widget, 0, 0);
        // Scrolling to the next control may hide this one: each is looked at at once.
        const QString why = notWhole(widget);
        if (!why.isEmpty())
            cut << why;
    }
    return cut;
}

class LaptopScreen : public WindowTest
{
protected:
    // What a user needs whatever the page: the buttons below the pages and
    // above the views, the title bar's and the status bar's texts.
    QList<QWidget *> needed() const
    {
        QList<QWidget *> widgets;
        for (const char *name : {"photo_btn", "photoSettings_btn", "cPhotos_btn", "burstModeSettings_btn",
                                 "record_btn", "device_tBtn", "capture_tBtn", "mesure_tBtn", "label_tBtn", "comboBox"})
            widgets << childOf<QWidget>(window, name);
        for (QPushButton *button : childOf<QWidget>(window, "topMenu_wid")->findChildren<QPushButton *>())
            widgets << button;
        for (QAbstractButton *button : window->titleBar()->findChildren<QAbstractButton *>())
            widgets << button;
        for (QLabel *label : childOf<QWidget>(window, "widget_3")->findChildren<QLabel *>())
            if (!label->text().isEmpty())
                widgets << label;
        return widgets;
    }

    void SetUp() override
    {
        if (!qEnvironmentVariableIsSet("VORENTA_LAPTOP_SCREEN"))
            GTEST_SKIP() << "runs on a 1366x768 screen of its own (test_app_laptop)";
        ASSERT_EQ(QGuiApplication::platformName(), QLatin1String("xcb"));
        ASSERT_EQ(QGuiApplication::primaryScreen()->geometry().size(), QSize(1366, 768));
        WindowTest::SetUp();
    }
};

} // namespace

TEST_F(LaptopScreen, EveryControlShowsWhole)
{
    startWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    // The camera up: its pages and buttons are there.
    ASSERT_TRUE(waitForFrames(20000)) << dialogs.all();
    EXPECT_TRUE(QGuiApplication::primaryScreen()->availableGeometry().contains(window->frameGeometry()))
        << window->frameGeometry().width() << "x" << window->frameGeometry().height();

    // In both languages, each left page shown: the measuring page is the tallest.
    for (const int language : {1, 0}) {
        for (QAction *action : window->titleBar()->settingsMenu()->findChildren<QAction *>())
            if (action->property("Lan").isValid() && action->property("Lan").toInt() == language)
                action->trigger();
        for (const char *page : {"device_tBtn", "capture_tBtn", "mesure_tBtn", "label_tBtn"}) {
            SCOPED_TRACE(QStringLiteral("language %1, page %2").arg(language).arg(page).toStdString());
            childOf<QToolButton>(window, page)->click();
            auto *pages = childOf<QWidget>(window, "stackedWidget");
            QStringList cut;
            EXPECT_TRUE(waitFor([&] { return (cut = notWhole(needed()) + unreachable(pages)).isEmpty(); }, 5000))
                << cut.join("; ");
            const QString folder = qEnvironmentVariable("VORENTA_SHOT_DIR");
            if (!folder.isEmpty() && QDir().mkpath(folder)) {
                QTest::qWait(300);  // painted by then; only the picture waits for it
                QGuiApplication::primaryScreen()->grabWindow(0).save(
                    QStringLiteral("%1/laptop-%2-%3.png").arg(folder).arg(language).arg(page));
            }
        }
    }
}
