// The pen-style picker and the scroll-safe slider and spin box.
#include "line_width_combobox.h"
#include "scroll_safe_inputs.h"

#include <QApplication>
#include <QListWidget>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QtTest/qtestspontaneevent.h>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <gtest/gtest.h>

namespace {

struct Picker {
    QLineWidthCombobox combo;
    std::vector<Qt::PenStyle> reported;
    Picker()
    {
        QObject::connect(&combo, &QLineWidthCombobox::SelectedItemChanged,
                         [this](Qt::PenStyle style) { reported.push_back(style); });
        combo.appendItem(Qt::SolidLine);
        combo.appendItem(Qt::DashLine);
        combo.appendItem(Qt::DotLine);
        combo.setProperty("flag", "Combox");
        combo.resize(160, 30);
        combo.show();
    }
    QPenWidget *row(int index) { return qobject_cast<QPenWidget *>(combo.list()->itemWidget(combo.list()->item(index))); }
};

// A wheel step down over `widget`, delivered as the window system would
// (only such events travel on to the parents that did not take them).
bool wheelDown(QWidget *widget)
{
    const QPoint centre = widget->rect().center();
    QWheelEvent event(centre, widget->mapToGlobal(centre), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QSpontaneKeyEvent::setSpontaneous(&event);
    return qApp->notify(widget, &event);  // sendEvent would make it a program's event again
}

struct TallPage {
    QScrollArea area;
    QWidget *page = new QWidget;
    SpinBoxIgnoreScroll *spinBox = new SpinBoxIgnoreScroll;
    SliderIgnoreScroll *slider = new SliderIgnoreScroll;
    TallPage()
    {
        auto *layout = new QVBoxLayout(page);
        spinBox->setRange(0, 100);
        spinBox->setValue(50);
        slider->setOrientation(Qt::Horizontal);
        slider->setRange(0, 100);
        slider->setValue(50);
        layout->addWidget(spinBox);
        layout->addWidget(slider);
        layout->addSpacing(2000);
        area.setWidget(page);
        area.resize(200, 300);
        area.show();
        QApplication::processEvents();
        // Nothing has the keyboard focus yet: the window gives it to its first input.
        if (QWidget *focused = QApplication::focusWidget())
            focused->clearFocus();
    }
};

} // namespace

TEST(PenPicker, RowsShowTheirStyles)
{
    Picker picker;
    ASSERT_EQ(picker.combo.list()->count(), 3);
    EXPECT_EQ(picker.row(0)->penStyle(), Qt::SolidLine);
    EXPECT_EQ(picker.row(1)->sample()->penStyle(), Qt::DashLine);
    EXPECT_EQ(picker.row(2)->penStyle(), Qt::DotLine);
}

TEST(PenPicker, SettingTheCurrentStyleAlwaysReportsIt)
{
    Picker picker;
    picker.combo.setCurrentStyle(Qt::DashLine);
    picker.combo.setCurrentStyle(Qt::DashLine);
    EXPECT_EQ(picker.reported, std::vector<Qt::PenStyle>({Qt::DashLine, Qt::DashLine}));
    EXPECT_EQ(picker.combo.face()->sample()->penStyle(), Qt::DashLine);
    // A style no row offers is still drawn on the face.
    picker.combo.setCurrentStyle(Qt::DashDotLine);
    EXPECT_EQ(picker.combo.face()->penStyle(), Qt::DashDotLine);
}

TEST(PenPicker, PressingARowPicksItAndClosesThePopup)
{
    Picker picker;
    picker.combo.showPopup();
    QApplication::processEvents();
    picker.combo.setCurrentStyle(Qt::SolidLine);  // setting keeps the popup open
    EXPECT_TRUE(picker.combo.view()->isVisible());
    // The empty square at the left of the row counts as the row.
    QTest::mousePress(picker.row(2), Qt::LeftButton, Qt::NoModifier, QPoint(8, 8));
    EXPECT_EQ(picker.reported, std::vector<Qt::PenStyle>({Qt::SolidLine, Qt::DotLine}));
    EXPECT_EQ(picker.combo.currentStyle(), Qt::DotLine);
    QApplication::processEvents();
    EXPECT_FALSE(picker.combo.view()->isVisible());
}

TEST(PenPicker, PressingTheClosedFaceChangesNothing)
{
    Picker picker;
    picker.combo.setCurrentStyle(Qt::DashLine);
    picker.reported.clear();
    QTest::mousePress(picker.combo.face(), Qt::LeftButton);
    EXPECT_TRUE(picker.reported.empty());
    EXPECT_EQ(picker.combo.currentStyle(), Qt::DashLine);
}

TEST(ScrollSafeInputs, WheelScrollsThePageUntilTheInputHasFocus)
{
    TallPage page;
    QScrollBar *scroll = page.area.verticalScrollBar();
    ASSERT_GT(scroll->maximum(), 0);
    EXPECT_EQ(page.spinBox->focusPolicy(), Qt::StrongFocus);
    ASSERT_FALSE(page.spinBox->hasFocus());

    wheelDown(page.spinBox);
    EXPECT_EQ(page.spinBox->value(), 50);
    EXPECT_GT(scroll->value(), 0);
    scroll->setValue(0);
    wheelDown(page.slider);
    EXPECT_EQ(page.slider->value(), 50);
    EXPECT_GT(scroll->value(), 0);

    scroll->setValue(0);
    page.spinBox->setFocus(Qt::MouseFocusReason);
    QApplication::processEvents();
    ASSERT_TRUE(page.spinBox->hasFocus());
    wheelDown(page.spinBox);
    EXPECT_EQ(page.spinBox->value(), 49);
    EXPECT_EQ(scroll->value(), 0);
}
