// The shape property dialog on a real scene: a measurement line and the
// lines of the gridline overlay.
#include "draw_change_dialog.h"
#include "measure_test_support.h"
#include "panel_test_support.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>

namespace {

class ShapeDialog : public PanelTest
{
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        scene.setSceneRect(0, 0, 800, 600);
        drawShape(scene, DrawType::Line, {{100, 100}, {300, 100}});
        scene.setDrawMode(DrawType::Hand);
        ASSERT_EQ(scene.shapes().size(), 1);
        item = scene.shapes()[0]->item();
        ASSERT_NE(item, nullptr);
    }
    MainScene scene;
    GraphicsConnect *item = nullptr;
};

}  // namespace

TEST_F(ShapeDialog, WidthIsTheDrawingSizeAtEveryScaleAndOpeningChangesNothing)
{
    // Size 3 drawn at two scene units a step, then over a picture 2.5 times
    // as wide as the scene: 2 * 3 / 2.5 = 2.4 scene units.
    scene.shapes()[0]->setLineWidth(3);
    EXPECT_EQ(item->pen().width(), 6);
    scene.shapes()[0]->setScale(2.5);
    ASSERT_EQ(item->pen().width(), 2);
    item->setColor(QColor(1, 2, 3));
    DrawChangeDialog dialog(item, DrawChangeDialog::MeasurementItem);
    EXPECT_EQ(dialog.findChild<QSpinBox *>("spinBox_2")->value(), 3);
    EXPECT_EQ(item->pen().width(), 2);
    EXPECT_EQ(item->pen().color(), QColor(1, 2, 3));
    EXPECT_TRUE(dialog.findChild<QPushButton *>("pushButton")->isHidden());
    EXPECT_TRUE(dialog.findChild<QCheckBox *>("Annotation_Cbox")->isChecked());
    EXPECT_FALSE(dialog.findChild<QCheckBox *>("checkBox")->isChecked());
    EXPECT_TRUE(dialog.findChild<QPushButton *>("pushButton_2")->styleSheet().endsWith("rgb(1,2,3)"));
    // A size chosen here is the shape's own and keeps following the scale.
    dialog.findChild<QSpinBox *>("spinBox_2")->setValue(9);
    EXPECT_EQ(scene.shapes()[0]->lineSize(), 9);
    EXPECT_EQ(item->pen().width(), 7);
    scene.shapes()[0]->setScale(1.0);
    EXPECT_EQ(item->pen().width(), 18);

    // The crosshair's lines likewise.
    scene.setDrawProperty(CrossWidth, 5);
    scene.setLinesVisible(true);
    scene.setHorizontalLineCount(1);
    ASSERT_EQ(scene.lines().size(), 1);
    DrawChangeDialog lineDialog(scene.lines()[0], DrawChangeDialog::OverlayLine);
    EXPECT_EQ(lineDialog.findChild<QSpinBox *>("spinBox_2")->value(), 5);
    EXPECT_EQ(scene.lines()[0]->pen().width(), 10);
    lineDialog.findChild<QSpinBox *>("spinBox_2")->setValue(2);
    EXPECT_EQ(scene.lines()[0]->pen().width(), 4);
}

TEST_F(ShapeDialog, LockAndDataActOnTheItemAndItsHandles)
{
    DrawChangeDialog dialog(item, DrawChangeDialog::MeasurementItem);
    dialog.findChild<QCheckBox *>("checkBox")->click();
    EXPECT_FALSE(item->isMovable());
    for (GraphicsPoint *handle : item->handles())
        EXPECT_FALSE(handle->flags() & QGraphicsItem::ItemIsMovable);
    dialog.findChild<QCheckBox *>("checkBox")->click();
    EXPECT_TRUE(item->isMovable());
    for (GraphicsPoint *handle : item->handles())
        EXPECT_TRUE(handle->flags() & QGraphicsItem::ItemIsMovable);
    dialog.findChild<QCheckBox *>("Annotation_Cbox")->click();
    EXPECT_FALSE(item->isLabelVisible());
}

TEST_F(ShapeDialog, ColourAppliesOnlyWhenChosen)
{
    item->setColor(Qt::red);
    DrawChangeDialog dialog(item, DrawChangeDialog::MeasurementItem);
    ModalAnswer<QColorDialog> cancel([](QColorDialog *colour) { colour->reject(); });
    dialog.findChild<QPushButton *>("pushButton_2")->click();
    ASSERT_TRUE(cancel.answered());
    EXPECT_EQ(item->pen().color(), QColor(Qt::red));
    ModalAnswer<QColorDialog> pick([](QColorDialog *colour) {
        colour->setCurrentColor(Qt::blue);
        colour->accept();
    });
    dialog.findChild<QPushButton *>("pushButton_2")->click();
    EXPECT_EQ(item->pen().color(), QColor(Qt::blue));
}

TEST_F(ShapeDialog, AGridLineIsDeletedOnlyAfterYes)
{
    scene.setGridMode(true);
    scene.setLinesVisible(true);
    scene.setHorizontalLineCount(2);
    ASSERT_EQ(scene.lines().size(), 2);
    GraphicsCross *line = scene.lines()[0];
    DrawChangeDialog dialog(line, DrawChangeDialog::OverlayLine);
    dialog.show();
    EXPECT_TRUE(dialog.findChild<QPushButton *>("pushButton")->isVisible());
    // "Data" means nothing for a line.
    dialog.findChild<QCheckBox *>("Annotation_Cbox")->click();
    EXPECT_TRUE(line->isVisible());
    dialog.findChild<QCheckBox *>("checkBox")->click();
    EXPECT_FALSE(line->flags() & QGraphicsItem::ItemIsMovable);

    ModalAnswer<QMessageBox> no([](QMessageBox *box) {
        EXPECT_EQ(box->text(), "delete ?");
        for (QAbstractButton *button : box->buttons())
            if (button->text() == "No")
                button->click();
    });
    dialog.findChild<QPushButton *>("pushButton")->click();
    ASSERT_TRUE(no.answered());
    EXPECT_EQ(scene.lines().size(), 2);
    EXPECT_TRUE(dialog.isVisible());

    ModalAnswer<QMessageBox> yes([](QMessageBox *box) { box->defaultButton()->click(); });
    dialog.findChild<QPushButton *>("pushButton")->click();
    ASSERT_TRUE(yes.answered());
    EXPECT_EQ(scene.lines().size(), 1);
    EXPECT_EQ(scene.horizontalLineCount(), 1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
}
