// The annotation panel and its property dialogs: tools, the shared
// crosshair/gridline overlay, styles that act only on acceptance.
#include "label_widget.h"
#include "panel_test_support.h"
#include "line_width_combobox.h"
#include "property_dialogs.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFontComboBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>

namespace {

class AnnotationPanel : public PanelTest
{
protected:
    template <typename T = QPushButton>
    T *child(QWidget &parent, const char *name)
    {
        T *found = parent.findChild<T *>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    struct Overlay {
        DrawType kind;
        int horizontal;
        int vertical;
        bool shown;
    };
    static QList<Overlay> overlays(const QSignalSpy &spy)
    {
        QList<Overlay> list;
        for (const QList<QVariant> &args : spy)
            list.append({args.at(0).value<DrawType>(), args.at(1).toInt(), args.at(2).toInt(), args.at(3).toBool()});
        return list;
    }
    static QList<int> ids(const QSignalSpy &spy)
    {
        QList<int> list;
        for (const QList<QVariant> &args : spy)
            list.append(args.at(0).toInt());
        return list;
    }
};

}  // namespace

TEST_F(AnnotationPanel, ToolsSendTheirModesEveryTime)
{
    LabelWidget panel;
    QSignalSpy spy(&panel, &LabelWidget::signalSetDrawMode);
    child(panel, "drawMarkRect_btn")->click();
    child(panel, "drawMarkRect_btn")->click();
    child(panel, "drawMarkCircle_btn")->click();
    child(panel, "drawText_Btn")->click();
    ASSERT_EQ(spy.size(), 4);
    EXPECT_EQ(spy.at(1).at(0).value<DrawType>(), DrawType::MarkRect);
    EXPECT_EQ(spy.at(2).at(0).value<DrawType>(), DrawType::MarkCir);
    EXPECT_EQ(spy.at(3).at(0).value<DrawType>(), DrawType::LText);
    panel.slotClearDrawType();
    EXPECT_FALSE(child(panel, "drawText_Btn")->isChecked());
}

TEST_F(AnnotationPanel, CrosshairAndGridlinesShareOneOverlay)
{
    LabelWidget panel;
    QSignalSpy spy(&panel, &LabelWidget::signalEnableGridlines);
    child<QCheckBox>(panel, "showCross_checkBox")->click();
    child<QCheckBox>(panel, "showGridlines_checkBox")->click();
    auto sent = overlays(spy);
    ASSERT_EQ(sent.size(), 2);
    EXPECT_EQ(sent[0].kind, DrawType::Cross);
    EXPECT_TRUE(sent[0].shown);
    EXPECT_EQ(sent[1].kind, DrawType::Gridlines);
    // Counts default to 1 when none is stored.
    EXPECT_EQ(sent[1].horizontal, 1);
    EXPECT_EQ(sent[1].vertical, 1);
    EXPECT_TRUE(child<QCheckBox>(panel, "hideCross_checkBox")->isChecked());
    // The overlay belongs to the gridlines: hiding the crosshair sends nothing.
    child<QCheckBox>(panel, "hideCross_checkBox")->click();
    EXPECT_EQ(spy.size(), 2);
    child<QCheckBox>(panel, "hideGridlines_checkBox")->click();
    sent = overlays(spy);
    ASSERT_EQ(sent.size(), 3);
    EXPECT_EQ(sent[2].kind, DrawType::Gridlines);
    EXPECT_FALSE(sent[2].shown);
}

// Values the dialogs do not offer are damage: the defaults apply.
TEST_F(AnnotationPanel, StoredValuesTheDialogsDoNotOfferGiveTheirDefaults)
{
    SettingsStore::instance().setDrawValue(GridlinesHLines, 40);
    SettingsStore::instance().setDrawValue(GridlinesVLines, 7);
    LabelWidget panel;
    EXPECT_EQ(panel.horizontalLineCount(), 1);
    EXPECT_EQ(panel.verticalLineCount(), 7);
    for (int size : {10, 40}) {
        SettingsStore::instance().setDrawValue(LTextWidth, size);
        TextPropertySetDialog dialog;
        EXPECT_EQ(dialog.findChild<QComboBox *>("fontSize_comboBox")->currentText(), "13") << size;
    }
}

TEST_F(AnnotationPanel, CrosshairStyleActsOnlyOnAcceptanceAndReachesAHiddenOverlayWhenShown)
{
    LabelWidget panel;
    QSignalSpy draw(&panel, &LabelWidget::drawChange);
    ModalAnswer<LinePropertySetDialog> cancel([](LinePropertySetDialog *dialog) {
        dialog->findChild<QComboBox *>("lineSize_comboBox")->setCurrentIndex(5);
        dialog->findChild<QPushButton *>("Cancel_btn")->click();
    });
    child(panel, "crossLineSet_btn")->click();
    ASSERT_TRUE(cancel.answered());
    EXPECT_TRUE(draw.isEmpty());
    QVariant stored;
    EXPECT_FALSE(SettingsStore::instance().drawValue(CrossWidth, stored));

    // Accepted while hidden: stored, not sent.
    ModalAnswer<LinePropertySetDialog> accept([](LinePropertySetDialog *dialog) {
        // Nothing stored: the colour starts as the black the views draw.
        EXPECT_EQ(dialog->color(), QColor(Qt::black));
        dialog->findChild<QComboBox *>("lineSize_comboBox")->setCurrentIndex(3);
        dialog->findChild<QLineWidthCombobox *>("lineStylePic_comboBox")->onClickPenWidget(Qt::DashLine);
        dialog->findChild<QPushButton *>("OK_btn")->click();
    });
    child(panel, "crossLineSet_btn")->click();
    ASSERT_TRUE(accept.answered());
    EXPECT_TRUE(draw.isEmpty());
    EXPECT_EQ(raw("config.ini", "draw/DrawCross_Width").toInt(), 4);
    EXPECT_EQ(raw("config.ini", "draw/DrawCross_Style").toInt(), int(Qt::DashLine));
    EXPECT_EQ(raw("config.ini", "draw/DrawCross_Color").value<QColor>(), QColor(Qt::black));

    // Shown later: the switch, then the style it missed.
    QSignalSpy overlay(&panel, &LabelWidget::signalEnableGridlines);
    child<QCheckBox>(panel, "showCross_checkBox")->click();
    ASSERT_EQ(overlay.size(), 1);
    EXPECT_EQ(ids(draw), QList<int>({CrossColor, CrossWidth, CrossStyle}));
    EXPECT_EQ(draw.at(1).at(1).toInt(), 4);
    // Only once.
    child<QCheckBox>(panel, "hideCross_checkBox")->click();
    child<QCheckBox>(panel, "showCross_checkBox")->click();
    EXPECT_EQ(draw.size(), 3);

    // Accepted while shown: sent at once, then stored.
    ModalAnswer<LinePropertySetDialog> again([](LinePropertySetDialog *dialog) {
        EXPECT_EQ(dialog->findChild<QComboBox *>("lineSize_comboBox")->currentText(), "4");
        dialog->findChild<QPushButton *>("OK_btn")->click();
    });
    child(panel, "crossLineSet_btn")->click();
    EXPECT_EQ(ids(draw).mid(3), QList<int>({CrossColor, CrossWidth, CrossStyle}));
}

TEST_F(AnnotationPanel, MarkStyleIsAlwaysSent)
{
    SettingsStore::instance().setDrawValue(MarkWidth, 3);
    LabelWidget panel;
    QSignalSpy draw(&panel, &LabelWidget::drawChange);
    ModalAnswer<LinePropertySetDialog> accept([](LinePropertySetDialog *dialog) {
        EXPECT_EQ(dialog->findChild<QComboBox *>("lineSize_comboBox")->currentText(), "3");
        EXPECT_EQ(dialog->lineSize(), 3);
        dialog->accept();
    });
    child(panel, "markSet_btn")->click();
    ASSERT_TRUE(accept.answered());
    EXPECT_EQ(ids(draw), QList<int>({MarkColor, MarkWidth, MarkStyle}));
    EXPECT_EQ(draw.at(1).at(1).toInt(), 3);
    EXPECT_EQ(raw("config.ini", "draw/DrawMark_Width").toInt(), 3);
}

TEST_F(AnnotationPanel, GridlineCountsSwitchTheShownOverlayBeforeTheStyle)
{
    LabelWidget panel;
    child<QCheckBox>(panel, "showGridlines_checkBox")->click();
    QSignalSpy draw(&panel, &LabelWidget::drawChange);
    QSignalSpy overlay(&panel, &LabelWidget::signalEnableGridlines);
    QList<QString> order;
    QObject::connect(&panel, &LabelWidget::drawChange, [&] { order << "style"; });
    QObject::connect(&panel, &LabelWidget::signalEnableGridlines, [&] { order << "switch"; });

    ModalAnswer<GridlinesSetDialog> same([](GridlinesSetDialog *dialog) { dialog->accept(); });
    child(panel, "gridlinesSet_btn")->click();
    ASSERT_TRUE(same.answered());
    EXPECT_EQ(order, QList<QString>({"style", "style", "style"}));

    order.clear();
    ModalAnswer<GridlinesSetDialog> more([](GridlinesSetDialog *dialog) {
        dialog->findChild<QComboBox *>("gridlinesHLine_comboBox")->setCurrentIndex(3);
        dialog->findChild<QComboBox *>("gridlinesVLine_comboBox")->setCurrentIndex(5);
        dialog->accept();
    });
    child(panel, "gridlinesSet_btn")->click();
    EXPECT_EQ(order, QList<QString>({"switch", "style", "style", "style"}));
    const auto last = overlays(overlay).last();
    EXPECT_EQ(last.horizontal, 4);
    EXPECT_EQ(last.vertical, 6);
    EXPECT_EQ(raw("config.ini", "draw/DrawGridlines_HLines").toInt(), 4);

    // A restart keeps the counts, and the dialog shows them.
    LabelWidget again;
    EXPECT_EQ(again.horizontalLineCount(), 4);
    ModalAnswer<GridlinesSetDialog> check([](GridlinesSetDialog *dialog) {
        EXPECT_EQ(dialog->hLines(), 4);
        EXPECT_EQ(dialog->vLines(), 6);
        dialog->reject();
    });
    child(again, "gridlinesSet_btn")->click();
    EXPECT_TRUE(check.answered());
}

TEST_F(AnnotationPanel, TextStyleIsStoredByItsDialogAndSentByThePanel)
{
    LabelWidget panel;
    QSignalSpy draw(&panel, &LabelWidget::drawChange);
    ModalAnswer<TextPropertySetDialog> cancel([](TextPropertySetDialog *dialog) {
        dialog->findChild<QComboBox *>("fontSize_comboBox")->setCurrentText("30");
        dialog->reject();
    });
    child(panel, "textSet_btn")->click();
    ASSERT_TRUE(cancel.answered());
    QVariant stored;
    EXPECT_FALSE(SettingsStore::instance().drawValue(LTextWidth, stored));
    EXPECT_TRUE(draw.isEmpty());

    ModalAnswer<TextPropertySetDialog> accept([](TextPropertySetDialog *dialog) {
        dialog->findChild<QComboBox *>("fontSize_comboBox")->setCurrentText("30");
        dialog->findChild<QComboBox *>("lineSize_comboBox")->setCurrentIndex(1);
        dialog->findChild<QPushButton *>("OK_btn")->click();
    });
    child(panel, "textSet_btn")->click();
    ASSERT_TRUE(accept.answered());
    EXPECT_EQ(ids(draw), QList<int>({LTextColor, LTextWidth, LTextFont, LLineColor, LLineWidth, LLineStyle}));
    EXPECT_EQ(draw.at(1).at(1).toInt(), 30);
    EXPECT_EQ(draw.at(2).at(1).userType(), QMetaType::QFont);
    EXPECT_EQ(draw.at(4).at(1).toInt(), 2);
    EXPECT_EQ(raw("config.ini", "draw/LText_Width").toInt(), 30);
    EXPECT_EQ(raw("config.ini", "draw/LLine_Width").toInt(), 2);
    EXPECT_EQ(raw("config.ini", "draw/LText_Font").toString(), draw.at(2).at(1).value<QFont>().family());
}

TEST(PropertyDialogs, LineDialogShowsAndReturnsWidthsWithinItsList)
{
    LinePropertySetDialog dialog;
    dialog.setSizeIndex(2);
    dialog.setLineStyle(Qt::DotLine);
    dialog.setColor(QColor(9, 8, 7));
    dialog.updateForm();
    EXPECT_EQ(dialog.lineSize(), 3);
    EXPECT_EQ(dialog.lineStyle(), Qt::DotLine);
    EXPECT_EQ(dialog.findChild<QToolButton *>("lineColor_tBtn")->styleSheet(), "background-color: rgb(9,8,7)");
    for (const auto &[index, shown] : {std::pair<int, int>{-1, 1}, {12, 9}}) {
        LinePropertySetDialog other;
        other.setSizeIndex(index);
        other.updateForm();
        EXPECT_EQ(other.lineSize(), shown) << index;
    }
}

TEST(PropertyDialogs, ACancelledColourKeepsTheOldOne)
{
    GridlinesSetDialog dialog;
    dialog.setColor(QColor(Qt::red));
    dialog.updateForm();
    ModalAnswer<QColorDialog> cancel([](QColorDialog *colour) {
        EXPECT_EQ(colour->currentColor(), QColor(Qt::white));
        colour->reject();
    });
    dialog.findChild<QToolButton *>("gridlinesColor_tBtn")->click();
    ASSERT_TRUE(cancel.answered());
    EXPECT_EQ(dialog.color(), QColor(Qt::red));
    ModalAnswer<QColorDialog> pick([](QColorDialog *colour) {
        colour->setCurrentColor(Qt::green);
        colour->accept();
    });
    dialog.findChild<QToolButton *>("gridlinesColor_tBtn")->click();
    EXPECT_EQ(dialog.color(), QColor(Qt::green));
}
