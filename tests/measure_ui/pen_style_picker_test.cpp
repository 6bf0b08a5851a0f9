// The pen-style picker and the scroll-safe inputs.
#include "pen_style_picker.h"
#include "scroll_safe_inputs.h"

#include <QAbstractItemView>
#include <QListWidget>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

struct Picker
{
    QLineWidthCombobox box;
    Picker()
    {
        for (Qt::PenStyle style : {Qt::SolidLine, Qt::DashLine, Qt::DotLine})
            box.appendItem(style);
        box.resize(160, 30);
        box.show();
    }
    QPenWidget *row(int i) { return qobject_cast<QPenWidget *>(box.list()->itemWidget(box.list()->item(i))); }
};

}  // namespace

TEST(PenStylePicker, EverySetReportsEvenTheCurrentStyle)
{
    Picker picker;
    QSignalSpy spy(&picker.box, &QLineWidthCombobox::SelectedItemChanged);
    picker.box.setCurrentStyle(Qt::DashLine);
    picker.box.setCurrentStyle(Qt::DashLine);
    ASSERT_EQ(spy.size(), 2);
    EXPECT_EQ(spy.at(1).at(0).value<Qt::PenStyle>(), Qt::DashLine);
    EXPECT_EQ(picker.box.face()->penStyle(), Qt::DashLine);
    // A style no row offers still shows on the face.
    picker.box.setCurrentStyle(Qt::DashDotLine);
    EXPECT_EQ(picker.box.face()->sample()->penStyle(), Qt::DashDotLine);
}

TEST(PenStylePicker, PressingARowChoosesItAndClosesThePopup)
{
    Picker picker;
    ASSERT_EQ(picker.box.list()->count(), 3);
    picker.box.setCurrentStyle(Qt::SolidLine);
    picker.box.showPopup();
    ASSERT_TRUE(picker.box.view()->isVisible());
    // Setting a style keeps the popup open.
    picker.box.setCurrentStyle(Qt::SolidLine);
    EXPECT_TRUE(picker.box.view()->isVisible());

    QSignalSpy spy(&picker.box, &QLineWidthCombobox::SelectedItemChanged);
    QPenWidget *dot = picker.row(2);
    ASSERT_NE(dot, nullptr);
    // The empty label at the left of the row counts as the row.
    QTest::mousePress(dot, Qt::LeftButton, Qt::NoModifier, QPoint(8, dot->height() / 2));
    ASSERT_EQ(spy.size(), 1);
    EXPECT_EQ(spy.at(0).at(0).value<Qt::PenStyle>(), Qt::DotLine);
    EXPECT_EQ(picker.box.currentStyle(), Qt::DotLine);
    EXPECT_FALSE(picker.box.view()->isVisible());
}

TEST(PenStylePicker, APressOnTheClosedFaceChangesNothing)
{
    Picker picker;
    picker.box.setCurrentStyle(Qt::DashLine);
    QSignalSpy spy(&picker.box, &QLineWidthCombobox::SelectedItemChanged);
    QTest::mousePress(picker.box.face(), Qt::LeftButton);
    EXPECT_TRUE(spy.isEmpty());
    EXPECT_EQ(picker.box.currentStyle(), Qt::DashLine);
}

TEST(PenStylePicker, TheSamplePaintsItsStyleOnTheLeftHalf)
{
    QPenWidth sample;
    sample.setPenStyle(Qt::SolidLine);
    sample.resize(40, 10);
    sample.setStyleSheet("background: black;");
    const QImage image = sample.grab().toImage();
    const int y = 10 / 2;
    EXPECT_EQ(QColor(image.pixel(5, y)), QColor(Qt::white));
    EXPECT_NE(QColor(image.pixel(35, y)), QColor(Qt::white));
}

namespace {

// A wheel turn over the widget; true when the widget took it (an ignored
// one goes on to the parent, which scrolls).
bool wheel(QWidget *target)
{
    const QPoint at = target->rect().center();
    QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    event.setAccepted(true);
    QApplication::sendEvent(target, &event);
    return event.isAccepted();
}

}  // namespace

TEST(ScrollSafeInputs, WheelGoesToTheParentUntilTheInputHasFocus)
{
    QWidget page;
    auto *spin = new SpinBoxIgnoreScroll(&page);
    auto *slider = new SliderIgnoreScroll(&page);
    spin->setRange(0, 100);
    spin->setValue(50);
    slider->setRange(0, 100);
    slider->setValue(50);
    slider->move(0, 40);
    page.show();
    EXPECT_EQ(spin->focusPolicy(), Qt::StrongFocus);
    EXPECT_FALSE(wheel(spin));
    EXPECT_EQ(spin->value(), 50);
    EXPECT_FALSE(wheel(slider));
    EXPECT_EQ(slider->value(), 50);

    QApplication::setActiveWindow(&page);
    spin->setFocus(Qt::MouseFocusReason);
    if (!spin->hasFocus())
        GTEST_SKIP() << "the platform gives no keyboard focus";
    EXPECT_TRUE(wheel(spin));
    EXPECT_NE(spin->value(), 50);
    slider->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(wheel(slider));
    EXPECT_NE(slider->value(), 50);
}
