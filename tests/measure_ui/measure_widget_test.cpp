// The measuring tool panel: tool buttons, shortcut buttons and their
// dialog, edge snapping, and the drawing properties (each stored before it
// is sent, and restored at the next start).
#include "common_tool_set_dialog.h"
#include "measure_widget.h"
#include "panel_test_support.h"
#include "line_width_combobox.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QFontComboBox>
#include <QFile>
#include <QFontDatabase>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QToolButton>

#include <algorithm>

namespace {

class MeasurePanel : public PanelTest
{
protected:
    template <typename T = QPushButton>
    T *child(MeasureWidget &panel, const char *name)
    {
        T *found = panel.findChild<T *>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    // Each drawChange with what the store held for that id when it was sent.
    struct Sent {
        DrawProperty id;
        QVariant value;
        QVariant storedThen;
    };
    void record(MeasureWidget &panel, QList<Sent> &sent)
    {
        QObject::connect(&panel, &MeasureWidget::drawChange, [&sent](DrawProperty id, const QVariant &value) {
            QVariant stored;
            SettingsStore::instance().drawValue(id, stored);
            sent.append({id, value, stored});
        });
    }
};

}  // namespace

TEST_F(MeasurePanel, EachToolButtonSendsItsDrawType)
{
    MeasureWidget panel;
    QSignalSpy spy(&panel, &MeasureWidget::signalSetDrawMode);
    const std::pair<const char *, DrawType> tools[] = {
        {"drawLine_btn", DrawType::Line},     {"drawHLine_btn", DrawType::HLine},
        {"drawVLine_btn", DrawType::VLine},   {"drawPar_btn", DrawType::Par},
        {"drawVer_btn", DrawType::Ver},       {"drawTwoCircle_btn", DrawType::TCir},
        {"drawLineCircle_btn", DrawType::LCir}, {"drawRect_btn", DrawType::Rect},
        {"drawPoly_btn", DrawType::Poly},     {"drawCircle_btn", DrawType::Cir},
        {"drawArc_btn", DrawType::Arc},       {"drawAng_btn", DrawType::Ang},
        {"drawThreeAng_btn", DrawType::ThreeAng},
    };
    for (const auto &[name, type] : tools) {
        child(panel, name)->click();
        ASSERT_FALSE(spy.isEmpty()) << name;
        EXPECT_EQ(spy.takeLast().at(0).value<DrawType>(), type) << name;
    }
    // Calibration tools send only when they end up pressed.
    child(panel, "drawCircleCalibrate_btn")->click();
    ASSERT_EQ(spy.size(), 1);
    EXPECT_EQ(spy.takeLast().at(0).value<DrawType>(), DrawType::CCali);
    QSignalSpy exportSpy(&panel, &MeasureWidget::signalExportData);
    child(panel, "exportCSV_btn")->click();
    EXPECT_EQ(exportSpy.size(), 1);
}

TEST_F(MeasurePanel, ClearingLeavesNoDrawButtonPressedButEdgeKeepsItsState)
{
    MeasureWidget panel;
    QSignalSpy edge(&panel, &MeasureWidget::signalEdgeEnable);
    child(panel, "edge_btn")->click();
    ASSERT_EQ(edge.size(), 1);
    EXPECT_TRUE(edge.at(0).at(0).toBool());
    child(panel, "drawRect_btn")->click();
    EXPECT_TRUE(child(panel, "drawRect_btn")->isChecked());
    EXPECT_TRUE(child(panel, "edge_btn")->isChecked());
    panel.slotClearDrawType();
    for (QPushButton *button : panel.findChildren<QPushButton *>()) {
        if (!button->isHidden() && button->objectName() != "edge_btn") {
            EXPECT_FALSE(button->isChecked()) << button->objectName().toStdString();
        }
    }
    EXPECT_TRUE(child(panel, "edge_btn")->isChecked());
    child(panel, "edge_btn")->click();
    EXPECT_FALSE(edge.last().at(0).toBool());
}

TEST_F(MeasurePanel, ShortcutButtonsUseTheirToolsWithDefaultsAtFirstStart)
{
    MeasureWidget panel;
    panel.show();
    QSignalSpy spy(&panel, &MeasureWidget::signalSetDrawMode);
    child(panel, "drawCommonBtn3_btn")->click();  // default: circle
    ASSERT_EQ(spy.size(), 1);
    EXPECT_EQ(spy.at(0).at(0).value<DrawType>(), DrawType::Cir);
    EXPECT_TRUE(child(panel, "drawCommonBtn3_btn")->isChecked());
    EXPECT_FALSE(child(panel, "drawCircle_btn")->isChecked());
    // Button 1 cannot stay pressed: its tool's own button shows instead.
    child(panel, "drawCommonBtn1_btn")->click();
    EXPECT_EQ(spy.last().at(0).value<DrawType>(), DrawType::Rect);
    EXPECT_TRUE(child(panel, "drawRect_btn")->isChecked());
    EXPECT_EQ(child(panel, "drawCommonBtn7_btn")->toolTip(), "Angle");
    // Nothing is stored until the tool dialog has been used.
    EXPECT_TRUE(SettingsStore::instance().loadCommonTools().isEmpty());
}

TEST_F(MeasurePanel, ChosenToolsFillTheShortcutsInFormOrderAndAreStored)
{
    {
        MeasureWidget panel;
        panel.show();
        ModalAnswer<CommonToolSetDialog> choose([](CommonToolSetDialog *dialog) {
            for (QCheckBox *box : dialog->findChildren<QCheckBox *>())
                if (box->isChecked())
                    box->click();
            // Checked in another order than the form's.
            for (const char *name : {"drawArc_checkBox", "drawLine_checkBox", "drawVLine_checkBox", "drawAng_checkBox"})
                dialog->findChild<QCheckBox *>(name)->click();
            dialog->reject();
        });
        panel.findChild<QPushButton *>("commonSetBtn_btn")->click();
        ASSERT_TRUE(choose.answered());
        const QStringList expected = {"drawLine", "drawVLine", "drawArc", "drawAng"};
        for (int i = 0; i < 7; ++i) {
            QPushButton *button = child(panel, QStringLiteral("drawCommonBtn%1_btn").arg(i + 1).toLatin1());
            EXPECT_EQ(button->isVisible(), i < 4) << i;
            EXPECT_EQ(panel.commonTools().value(button), i < 4 ? expected[i] : QString()) << i;
        }
        EXPECT_EQ(child(panel, "drawCommonBtn3_btn")->toolTip(), "Arc");
        const QVariantMap stored = SettingsStore::instance().loadCommonTools();
        EXPECT_EQ(stored.value("drawCommonBtn1_btn").toString(), "drawLine");
        EXPECT_EQ(stored.value("drawCommonBtn5_btn").toString(), "");
        EXPECT_TRUE(stored.contains("drawCommonBtn7_btn"));
    }
    MeasureWidget again;
    again.show();
    EXPECT_FALSE(child(again, "drawCommonBtn5_btn")->isVisible());
    QSignalSpy spy(&again, &MeasureWidget::signalSetDrawMode);
    child(again, "drawCommonBtn2_btn")->click();
    EXPECT_EQ(spy.last().at(0).value<DrawType>(), DrawType::VLine);
}

TEST(CommonToolDialog, SevenToolsAtMostInFormOrder)
{
    CommonToolSetDialog dialog;
    QPushButton a, b;
    dialog.setCommonTools({{&a, "drawCircle"}, {&b, ""}});
    EXPECT_EQ(dialog.commonTools(), QStringList({"drawCircle"}));
    EXPECT_TRUE(dialog.findChild<QCheckBox *>("drawCircle_checkBox")->isChecked());
    QSignalSpy spy(&dialog, &CommonToolSetDialog::sendCommonBtn);
    const char *more[] = {"drawVer_checkBox", "drawLine_checkBox", "drawTwoCircle_checkBox", "drawPar_checkBox",
                          "drawLineCircle_checkBox", "drawRect_checkBox"};
    for (const char *name : more)
        dialog.findChild<QCheckBox *>(name)->click();
    ASSERT_EQ(spy.size(), 6);
    EXPECT_EQ(spy.last().at(0).toStringList(),
              QStringList({"drawLine", "drawRect", "drawPar", "drawVer", "drawCircle", "drawTwoCircle",
                           "drawLineCircle"}));
    // An eighth is refused and nothing is sent.
    dialog.findChild<QCheckBox *>("drawArc_checkBox")->click();
    EXPECT_FALSE(dialog.findChild<QCheckBox *>("drawArc_checkBox")->isChecked());
    EXPECT_EQ(spy.size(), 6);
    dialog.findChild<QCheckBox *>("drawRect_checkBox")->click();
    ASSERT_EQ(spy.size(), 7);
    EXPECT_EQ(spy.last().at(0).toStringList().size(), 6);
}

TEST(CommonToolDialog, AnUnknownStoredNameStaysUntilTheFirstClick)
{
    CommonToolSetDialog dialog;
    QPushButton a, b;
    dialog.setCommonTools({{&a, "drawSpiral"}, {&b, "drawArc"}});
    EXPECT_EQ(dialog.commonTools().size(), 2);
    QSignalSpy spy(&dialog, &CommonToolSetDialog::sendCommonBtn);
    dialog.findChild<QCheckBox *>("drawArc_checkBox")->click();
    ASSERT_EQ(spy.size(), 1);
    EXPECT_TRUE(spy.at(0).at(0).toStringList().isEmpty());
}

TEST_F(MeasurePanel, PropertiesAreStoredBeforeTheyAreSent)
{
    MeasureWidget panel;
    panel.loadSettings();
    QList<Sent> sent;
    record(panel, sent);

    child<QComboBox>(panel, "lineSize_comboBox")->setCurrentIndex(8);
    child<QComboBox>(panel, "fontSize_comboBox")->setCurrentText("20");
    child<QCheckBox>(panel, "antialiasing_checkBox")->click();
    child<QLineWidthCombobox>(panel, "lineStylePic_comboBox")->onClickPenWidget(Qt::DotLine);
    QFont font = child<QFontComboBox>(panel, "font_comboBox")->currentFont();
    const QStringList families = QFontDatabase().families();
    ASSERT_FALSE(families.isEmpty());
    const QString other = families.last() == font.family() ? families.first() : families.last();
    child<QFontComboBox>(panel, "font_comboBox")->setCurrentFont(QFont(other));

    ASSERT_GE(sent.size(), 5);
    for (const Sent &s : qAsConst(sent)) {
        if (s.id == TextFont) {
            EXPECT_EQ(s.storedThen.toString(), s.value.value<QFont>().family());
            EXPECT_EQ(s.value.userType(), QMetaType::QFont);
        } else {
            EXPECT_EQ(s.storedThen, s.value) << s.id;
        }
    }
    EXPECT_EQ(sent[0].id, LineWidth);
    EXPECT_EQ(sent[0].value.toInt(), 9);
    EXPECT_EQ(sent[1].id, TextSize);
    EXPECT_EQ(sent[1].value.toInt(), 20);
    EXPECT_EQ(sent[2].id, Antialiasing);
    EXPECT_TRUE(sent[2].value.toBool());
    EXPECT_EQ(sent[3].id, LineStyle);
    EXPECT_EQ(sent[3].value.toInt(), int(Qt::DotLine));
    EXPECT_EQ(raw("config.ini", "draw/Line_Width").toInt(), 9);

    sent.clear();
    child<QSpinBox>(panel, "floatNum_spbox")->setValue(3);
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent[0].id, FloatNum);
    EXPECT_EQ(sent[0].value.toInt(), 3);
    EXPECT_EQ(raw("config.ini", "draw/FloatNum").toInt(), 3);
}

TEST_F(MeasurePanel, LineColourIsStoredAndSentWithThePointColour)
{
    MeasureWidget panel;
    QList<Sent> sent;
    record(panel, sent);
    ModalAnswer<QColorDialog> pick([](QColorDialog *dialog) {
        EXPECT_EQ(dialog->currentColor(), QColor(Qt::white));
        dialog->setCurrentColor(QColor(10, 200, 30));
        dialog->accept();
    });
    child<QToolButton>(panel, "lineColor_tBtn")->click();
    ASSERT_TRUE(pick.answered());
    ASSERT_EQ(sent.size(), 2);
    EXPECT_EQ(sent[0].id, LineColor);
    EXPECT_EQ(sent[0].storedThen.value<QColor>(), QColor(10, 200, 30));
    EXPECT_EQ(sent[1].id, PointColor);
    EXPECT_EQ(sent[1].value.value<QColor>(), QColor(10, 200, 30));
    QVariant point;
    EXPECT_FALSE(SettingsStore::instance().drawValue(PointColor, point));
    EXPECT_EQ(child<QToolButton>(panel, "lineColor_tBtn")->styleSheet(), "background-color: rgb(10,200,30)");

    // A cancelled colour changes nothing.
    sent.clear();
    ModalAnswer<QColorDialog> cancel([](QColorDialog *dialog) { dialog->reject(); });
    child<QToolButton>(panel, "fontColor_tBtn")->click();
    ASSERT_TRUE(cancel.answered());
    EXPECT_TRUE(sent.isEmpty());
}

TEST_F(MeasurePanel, StoredPropertiesComeBackAtTheNextStart)
{
    const SettingsStore &store = SettingsStore::instance();
    store.setDrawValue(LineWidth, 4);
    store.setDrawValue(LineStyle, int(Qt::DashLine));
    store.setDrawValue(LineColor, QColor(1, 2, 3));
    store.setDrawValue(TextSize, 18);
    store.setDrawValue(Antialiasing, true);
    store.setDrawValue(FloatNum, 3);
    MeasureWidget panel;
    QList<Sent> sent;
    record(panel, sent);
    panel.loadSettings();
    EXPECT_EQ(child<QComboBox>(panel, "lineSize_comboBox")->currentText(), "4");
    EXPECT_EQ(child<QComboBox>(panel, "fontSize_comboBox")->currentText(), "18");
    EXPECT_TRUE(child<QCheckBox>(panel, "antialiasing_checkBox")->isChecked());
    EXPECT_EQ(child<QSpinBox>(panel, "floatNum_spbox")->value(), 3);
    EXPECT_EQ(child<QLineWidthCombobox>(panel, "lineStylePic_comboBox")->currentStyle(), Qt::DashLine);
    EXPECT_EQ(child<QToolButton>(panel, "lineColor_tBtn")->styleSheet(), "background-color: rgb(1,2,3)");
    // The style is sent at every start; antialiasing is not (no click).
    int styles = 0;
    for (const Sent &s : qAsConst(sent)) {
        styles += s.id == LineStyle ? 1 : 0;
        EXPECT_NE(s.id, Antialiasing);
    }
    EXPECT_EQ(styles, 1);
}

// A stored value the panel's lists do not offer (a hand edit, a line cut
// short: "TextSize=13" ending as "TextSize=1") is damage: the panel shows
// and sends the default, the file keeps it, and the store names it.
TEST_F(MeasurePanel, StoredValuesItsListsDoNotOfferGiveTheirDefaults)
{
    {
        QFile file(ini("config.ini"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[draw]\nLine_Width=14\nLine_Style=5\nTextSize=1\nFloatNum=6\n");
        QFile calibration(ini("calibration.ini"));
        ASSERT_TRUE(calibration.open(QIODevice::WriteOnly));
        calibration.write("[settings]\nUnit=4\n");
    }
    MeasureWidget panel;
    QList<Sent> sent;
    record(panel, sent);
    panel.loadSettings();
    EXPECT_EQ(child<QComboBox>(panel, "lineSize_comboBox")->currentText(), "1");
    EXPECT_EQ(child<QComboBox>(panel, "fontSize_comboBox")->currentText(), "13");
    EXPECT_EQ(child<QLineWidthCombobox>(panel, "lineStylePic_comboBox")->currentStyle(), Qt::SolidLine);
    EXPECT_EQ(child<QSpinBox>(panel, "floatNum_spbox")->value(), 0);
    EXPECT_EQ(child<QComboBox>(panel, "unit_comboBox")->currentText(), "pix");
    const QMap<int, int> defaults = {{LineWidth, 1}, {LineStyle, int(Qt::SolidLine)}, {TextSize, 13}, {FloatNum, 0}};
    for (const Sent &s : qAsConst(sent)) {
        if (defaults.contains(s.id)) {
            EXPECT_EQ(s.value.toInt(), defaults.value(s.id)) << s.id;
        }
    }
    EXPECT_EQ(raw("config.ini", "draw/TextSize").toInt(), 1);
    EXPECT_EQ(raw("config.ini", "draw/Line_Width").toInt(), 14);
    QStringList named;
    for (const IgnoredSettings &ignored : SettingsStore::instance().ignoredSettings())
        named << ignored.keys;
    named.sort();
    EXPECT_EQ(named, QStringList({"FloatNum", "Line_Style", "Line_Width", "TextSize", "Unit"}));
}
