// The panels wired to a per-camera view the way the main window wires them:
// a calibration drawn, named and chosen, a line measured with it in two
// units, and the calibration found again after a restart.
#include "calibration_combo_box.h"
#include "calibration_widget.h"
#include "label_widget.h"
#include "measure_test_support.h"
#include "measure_widget.h"
#include "panel_test_support.h"
#include "video_widget.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

#include <memory>

namespace {

// What the main window does with the panels' signals, for one view.
void wire(MeasureWidget &panel, VideoWidget &view)
{
    QObject::connect(&panel, &MeasureWidget::calibrateChange, &view, &VideoWidget::setCalibration);
    QObject::connect(&panel, &MeasureWidget::signalUnitChange, &view, [&view](const QString &unit) {
        const QMap<QString, int> codes = {{"pix", UnitPixels}, {"um", UnitMicrometres}, {"mm", UnitMillimetres},
                                          {"mil", UnitMils}};
        if (codes.contains(unit))
            view.setUnit(codes.value(unit));
    });
    QObject::connect(&panel, &MeasureWidget::signalSetDrawMode, &view, &VideoWidget::setDrawMode);
    QObject::connect(&panel, &MeasureWidget::drawChange, &view, &VideoWidget::setDrawProperty);
    QObject::connect(&view, &VideoWidget::caliOver, &panel, &MeasureWidget::onCaliOver);
}

struct ViewWithPanel
{
    std::unique_ptr<VideoWidget> view;
    std::unique_ptr<MeasureWidget> panel;
    ViewWithPanel()
    {
        view = std::make_unique<VideoWidget>(nullptr, true);
        view->resize(900, 700);
        view->measureScene()->setSceneRect(0, 0, 800, 600);
        panel = std::make_unique<MeasureWidget>();
        wire(*panel, *view);
        panel->loadSettings();
    }
    void drawLine(DrawType type, QPointF from, QPointF to)
    {
        view->setDrawMode(type);
        clickAt(*view->measureScene(), from);
        clickAt(*view->measureScene(), to);
        view->setDrawMode(DrawType::Hand);
    }
    QString cells(int row)
    {
        QStringList texts;
        for (int column = 0; column < view->table()->columnCount(); ++column)
            if (const QTableWidgetItem *item = view->table()->item(row, column))
                texts << item->text();
        return texts.join(' ');
    }
};

class UserFlow : public PanelTest
{
};

}  // namespace

TEST_F(UserFlow, CalibrateMeasureChangeUnitAndFindItAgainAfterARestart)
{
    {
        ViewWithPanel setup;
        setup.panel->findChild<QSpinBox *>("floatNum_spbox")->setValue(2);
        setup.panel->findChild<QPushButton *>("drawLineCalibrate_btn")->click();
        EXPECT_EQ(setup.view->measureScene()->drawMode(), DrawType::LCali);
        ModalAnswer<CalibrationWidget> answer([](CalibrationWidget *dialog) {
            EXPECT_EQ(dialog->findChild<QLabel *>("label_6")->text(), "200 pixel");
            dialog->findChild<QLineEdit *>("lineEdit")->setText("stage");
            dialog->findChild<QLineEdit *>("lineEdit_2")->setText("0.5");
            dialog->findChild<QComboBox *>("comboBox")->setCurrentText("mm");
            dialog->findChild<QPushButton *>("pushButton")->click();
        });
        clickAt(*setup.view->measureScene(), {100, 300});
        clickAt(*setup.view->measureScene(), {300, 300});
        ASSERT_TRUE(answer.answered());
        EXPECT_EQ(setup.view->measureScene()->drawMode(), DrawType::Hand);
        EXPECT_DOUBLE_EQ(setup.view->measureScene()->calibration(), 2.5);
        EXPECT_EQ(setup.panel->findChild<ComboBox *>("calibrate_comboBox")->currentText(), "stage, 0.5mm");

        setup.panel->findChild<QComboBox *>("unit_comboBox")->setCurrentText("mm");
        setup.drawLine(DrawType::Line, {100, 100}, {200, 100});
        ASSERT_EQ(setup.view->measureScene()->shapes().size(), 1);
        Base *line = setup.view->measureScene()->shapes()[0];
        EXPECT_EQ(line->labelText(), "[1] Len = 0.25mm");
        EXPECT_TRUE(setup.cells(0).contains("0.25")) << setup.cells(0).toStdString();

        setup.panel->findChild<QComboBox *>("unit_comboBox")->setCurrentText("um");
        EXPECT_EQ(line->labelText(), "[1] Len = 250.00um");
        EXPECT_TRUE(setup.cells(0).contains("250.00")) << setup.cells(0).toStdString();
    }
    ViewWithPanel again;
    EXPECT_EQ(again.panel->findChild<ComboBox *>("calibrate_comboBox")->currentText(), "stage, 0.5mm");
    EXPECT_DOUBLE_EQ(again.view->measureScene()->calibration(), 2.5);
    EXPECT_EQ(again.view->measureScene()->unit(), int(UnitMicrometres));
    again.drawLine(DrawType::Line, {100, 100}, {200, 100});
    EXPECT_EQ(again.view->measureScene()->shapes()[0]->labelText(), "[1] Len = 250.00um");
}

TEST_F(UserFlow, EdgeSnappingLeavesTheDrawingModeAlone)
{
    ViewWithPanel setup;
    QObject::connect(setup.panel.get(), &MeasureWidget::signalEdgeEnable, setup.view.get(), &VideoWidget::setEdgeEnable);
    setup.panel->findChild<QPushButton *>("drawRect_btn")->click();
    setup.panel->findChild<QPushButton *>("edge_btn")->click();
    EXPECT_TRUE(setup.view->measureScene()->edgeSnap());
    EXPECT_EQ(setup.view->measureScene()->drawMode(), DrawType::Rect);
}
