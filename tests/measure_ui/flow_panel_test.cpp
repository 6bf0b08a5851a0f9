// The floating tool panel: tool choice, the exclusive button group and
// dragging inside the owning view.
#include "measure_flow_panel.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

namespace {

struct PanelInView
{
    QWidget view;
    MeasureFlowPanel *panel;

    PanelInView()
    {
        registerDrawTypeMetaType();
        view.resize(800, 600);
        panel = new MeasureFlowPanel(&view);
        panel->setGeometry(5, 5, 700, 70);
        panel->setViewSize(800, 600);
        view.show();
    }
    QPushButton *button(const char *name) { return panel->findChild<QPushButton *>(name); }
    QPoint handleCentre() { return button("setLocation_Btn")->geometry().center(); }
    // Synthesised events: the panel reads global positions, so they are
    // given explicitly (offscreen windows have no real screen position).
    void press(QPoint local, QPoint global)
    {
        QMouseEvent event(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(panel, &event);
    }
    void moveTo(QPoint global, Qt::MouseButtons buttons = Qt::LeftButton)
    {
        QMouseEvent event(QEvent::MouseMove, panel->mapFromGlobal(global), global, Qt::NoButton, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(panel, &event);
    }
    void release(QPoint global)
    {
        QMouseEvent event(QEvent::MouseButtonRelease, panel->mapFromGlobal(global), global, Qt::LeftButton,
                          Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(panel, &event);
    }
};

}  // namespace

TEST(FlowPanelTools, EachButtonEmitsItsDrawType)
{
    PanelInView setup;
    QSignalSpy spy(setup.panel, &MeasureFlowPanel::signalSetDrawMode);
    const std::pair<const char *, DrawType> expected[] = {
        {"drawLine_Btn", DrawType::Line},         {"drawHline_Btn", DrawType::HLine},
        {"drawVline_Btn", DrawType::VLine},       {"drawPar_Btn", DrawType::Par},
        {"drawVer_Btn", DrawType::Ver},           {"drawAng_Btn", DrawType::Ang},
        {"threeDrawAng_Btn", DrawType::ThreeAng}, {"drawRect_Btn", DrawType::Rect},
        {"drawArc_Btn", DrawType::Arc},           {"drawCircle_Btn", DrawType::Cir},
        {"drawRing_Btn", DrawType::Ring},         {"drawPoly_Btn", DrawType::Poly},
        {"drawLineCircle_Btn", DrawType::LCir},   {"drawVerCircle_Btn", DrawType::VerCircle},
        {"drawTwoCircle_Btn", DrawType::TCir},    {"drawText_Btn", DrawType::LText},
    };
    for (const auto &[name, type] : expected) {
        QPushButton *button = setup.button(name);
        ASSERT_NE(button, nullptr) << name;
        button->click();
        ASSERT_FALSE(spy.isEmpty()) << name;
        EXPECT_EQ(spy.takeLast().at(0).value<DrawType>(), type) << name;
    }
}

TEST(FlowPanelTools, StartsWithNoToolPressedAndKeepsOneChecked)
{
    PanelInView setup;
    EXPECT_TRUE(setup.button("setLocation_Btn")->isChecked());
    EXPECT_TRUE(setup.button("setLocation_Btn")->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_FALSE(setup.button("drawRing_Btn")->isVisible());
    EXPECT_FALSE(setup.button("drawVerCircle_Btn")->isVisible());
    EXPECT_FALSE(setup.button("drawText_Btn")->isVisible());
    EXPECT_TRUE(setup.button("drawPoly_Btn")->isVisible());
    EXPECT_EQ(setup.button("drawVerCircle_Btn")->toolTip(), setup.button("drawLineCircle_Btn")->toolTip());

    QSignalSpy spy(setup.panel, &MeasureFlowPanel::signalSetDrawMode);
    QTest::mouseClick(setup.button("drawPoly_Btn"), Qt::LeftButton);
    QTest::mouseClick(setup.button("drawPoly_Btn"), Qt::LeftButton);
    ASSERT_EQ(spy.size(), 2);  // a second click on a pressed tool emits again
    EXPECT_EQ(spy.at(1).at(0).value<DrawType>(), DrawType::Poly);
    EXPECT_TRUE(setup.button("drawPoly_Btn")->isChecked());
    EXPECT_FALSE(setup.button("setLocation_Btn")->isChecked());
    // What the view does when the scene clears the drawing mode.
    setup.button("setLocation_Btn")->setChecked(true);
    EXPECT_FALSE(setup.button("drawPoly_Btn")->isChecked());
}

TEST(FlowPanelDrag, FollowsTheHandleWithinTheView)
{
    PanelInView setup;
    const QPoint start = setup.handleCentre();
    const QPoint startGlobal(1000, 1000);
    setup.press(start, startGlobal);
    setup.moveTo(startGlobal + QPoint(50, 100));
    EXPECT_EQ(setup.panel->pos(), QPoint(55, 105));
    // Past the left edge: frozen at the last valid position.
    setup.moveTo(startGlobal + QPoint(-10, 100));
    EXPECT_EQ(setup.panel->pos(), QPoint(55, 105));
    setup.moveTo(startGlobal + QPoint(-100, 100));
    EXPECT_EQ(setup.panel->pos(), QPoint(55, 105));
    // Back inside: the drag resumes with the same offset.
    setup.moveTo(startGlobal + QPoint(-5, 0));
    EXPECT_EQ(setup.panel->pos(), QPoint(0, 5));
    // Touching the right and bottom edges exactly is allowed.
    setup.moveTo(startGlobal + QPoint(800 - 700 - 5, 600 - 70 - 5));
    EXPECT_EQ(setup.panel->pos(), QPoint(100, 530));
    setup.moveTo(startGlobal + QPoint(800 - 700 - 4, 0));
    EXPECT_EQ(setup.panel->pos(), QPoint(100, 530));
    setup.release(startGlobal);
    setup.moveTo(startGlobal + QPoint(20, 20));
    EXPECT_EQ(setup.panel->pos(), QPoint(100, 530));
}

TEST(FlowPanelDrag, ShrunkenViewBlocksEveryStep)
{
    PanelInView setup;
    setup.panel->setViewSize(300, 600);  // narrower than the panel
    const QPoint startGlobal(500, 500);
    setup.press(setup.handleCentre(), startGlobal);
    setup.moveTo(startGlobal + QPoint(0, 10));
    EXPECT_EQ(setup.panel->pos(), QPoint(5, 5));
    setup.panel->setViewSize(800, 600);
    setup.moveTo(startGlobal + QPoint(0, 10));
    EXPECT_EQ(setup.panel->pos(), QPoint(5, 15));
}

TEST(FlowPanelDrag, PressOutsideTheHandleStartsNothingAndStaysOnThePanel)
{
    PanelInView setup;
    bool reachedView = false;
    struct Watcher : QObject
    {
        bool *flag;
        explicit Watcher(bool *f) : flag(f) {}
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::MouseButtonPress)
                *flag = true;
            return false;
        }
    } watcher(&reachedView);
    setup.view.installEventFilter(&watcher);
    QTest::mousePress(setup.panel, Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));  // spacer area
    EXPECT_FALSE(reachedView);
    setup.moveTo(setup.panel->mapToGlobal(QPoint(40, 40)));
    EXPECT_EQ(setup.panel->pos(), QPoint(5, 5));
}
