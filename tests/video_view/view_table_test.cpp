// The per-camera view with its real scene: the table kept in step with the
// scene, pictures saved and reopened, CSV export, scale guards.
#include "measure.h"
#include "measure_export.h"
#include "measure_flow_panel.h"
#include "picture_file.h"
#include "test_support.h"
#include "video_widget.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGraphicsSceneMouseEvent>
#include <QMenu>
#include <QTimer>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTest>
#include <QTranslator>
#include <QtEndian>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

namespace {

void sceneMouse(MainScene *scene, QEvent::Type type, QPointF at, Qt::MouseButtons buttons)
{
    QGraphicsSceneMouseEvent event(type);
    event.setScenePos(at);
    event.setButton(type == QEvent::GraphicsSceneMouseMove ? Qt::NoButton : Qt::LeftButton);
    event.setButtons(buttons);
    QApplication::sendEvent(scene, &event);
}

void click(MainScene *scene, QPointF at)
{
    sceneMouse(scene, QEvent::GraphicsSceneMouseMove, at, Qt::NoButton);
    sceneMouse(scene, QEvent::GraphicsSceneMousePress, at, Qt::LeftButton);
    sceneMouse(scene, QEvent::GraphicsSceneMouseRelease, at, Qt::NoButton);
}

// Draws a shape by clicking its points, the way a user does.
void draw(VideoWidget &view, DrawType type, const QVector<QPointF> &points)
{
    view.setDrawMode(type);
    for (const QPointF &p : points)
        click(view.measureScene(), p);
    view.setDrawMode(DrawType::Hand);
}

struct LiveSetup
{
    std::unique_ptr<VideoWidget> view;
    LiveSetup()
    {
        view = std::make_unique<VideoWidget>(nullptr, true);
        view->resize(900, 700);
        view->connectToPlayThread(nullptr);  // tracks modifications from here
        view->setCalibration(1.0);
        view->measureScene()->setSceneRect(0, 0, 800, 600);
    }
    QTableWidget *table() { return view->table(); }
    QString cell(int row, int column)
    {
        const QTableWidgetItem *item = table()->item(row, column);
        return item ? item->text() : QString();
    }
    void drawFour()
    {
        draw(*view, DrawType::Line, {{10, 10}, {110, 10}});
        draw(*view, DrawType::Rect, {{200, 200}, {300, 260}});
        draw(*view, DrawType::MarkRect, {{400, 400}, {450, 450}});
        draw(*view, DrawType::Cir, {{500, 100}, {600, 200}, {500, 300}});
    }
};

QByteArray bigEndian32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, reinterpret_cast<uchar *>(bytes.data()));
    return bytes;
}

}  // namespace

TEST(ViewTable, RowsFollowInsertedShapesWithTheirOwnNumbers)
{
    LiveSetup setup;
    QSignalSpy modified(setup.view.get(), &VideoWidget::modified);
    setup.drawFour();
    MainScene *scene = setup.view->measureScene();
    ASSERT_EQ(scene->shapes().size(), 4);
    ASSERT_EQ(setup.table()->rowCount(), 4);
    for (int row = 0; row < 4; ++row)
        EXPECT_EQ(setup.cell(row, 1), scene->shapes()[row]->name()) << row;
    EXPECT_EQ(setup.cell(0, 0), "1");
    EXPECT_EQ(setup.cell(1, 0), "2");
    EXPECT_EQ(setup.cell(2, 0), "");  // marks carry no number
    EXPECT_EQ(setup.cell(3, 0), "3");
    // Rectangle: width, height, perimeter and area; nothing else.
    for (int column : {8, 9, 4, 5})
        EXPECT_FALSE(setup.cell(1, column).isEmpty()) << column;
    for (int column : {2, 3, 6, 7, 10})
        EXPECT_TRUE(setup.cell(1, column).isEmpty()) << column;
    EXPECT_FALSE(setup.cell(3, 10).isEmpty());  // circle radius
    EXPECT_EQ(modified.size(), 1);
    EXPECT_TRUE(setup.view->hasMeasurements());
}

TEST(ViewTable, UpdatesChangeCellsOnlyWhenTextsChange)
{
    LiveSetup setup;
    setup.drawFour();
    setup.view->setModified(false);
    Base *line = setup.view->measureScene()->shapes()[0];
    const QString before = setup.cell(0, 2);
    setup.view->itemUpdate(line);
    EXPECT_EQ(setup.cell(0, 2), before);
    EXPECT_FALSE(setup.view->isModified());
    setup.view->setUnit(4);  // micrometres: every label changes
    setup.view->setCalibration(2.0);
    EXPECT_NE(setup.cell(0, 2), before);
    EXPECT_TRUE(setup.cell(0, 2).contains("um")) << setup.cell(0, 2).toStdString();
    EXPECT_TRUE(setup.view->isModified());
    // A shape still being drawn has no row.
    setup.view->setDrawMode(DrawType::Line);
    click(setup.view->measureScene(), {20, 500});
    Base *drawing = setup.view->measureScene()->currentShape();
    ASSERT_NE(drawing, nullptr);
    setup.view->itemUpdate(drawing);
    EXPECT_EQ(setup.table()->rowCount(), 4);
}

TEST(ViewTable, SelectionTravelsBothWays)
{
    LiveSetup setup;
    setup.drawFour();
    draw(*setup.view, DrawType::Line, {{10, 500}, {60, 500}});
    QTableWidget *table = setup.table();
    table->selectRow(4);
    setup.view->itemSelectedChange({1, 3});
    EXPECT_FALSE(table->selectionModel()->isRowSelected(0, {}));
    EXPECT_TRUE(table->selectionModel()->isRowSelected(1, {}));
    EXPECT_FALSE(table->selectionModel()->isRowSelected(2, {}));
    EXPECT_TRUE(table->selectionModel()->isRowSelected(3, {}));
    EXPECT_TRUE(table->selectionModel()->isRowSelected(4, {}));  // after the list: untouched
    // The scene's own report ends with the shape count, which matches no row.
    setup.view->itemSelectedChange({0, 5});
    EXPECT_TRUE(table->selectionModel()->isRowSelected(0, {}));
    EXPECT_FALSE(table->selectionModel()->isRowSelected(4, {}));
    // Table to scene: selected rows highlight their shapes.
    table->clearSelection();
    table->selectRow(1);
    const QList<Base *> shapes = setup.view->measureScene()->shapes();
    EXPECT_TRUE(shapes[1]->item()->isHighlighted());
    EXPECT_FALSE(shapes[0]->item()->isHighlighted());
}

TEST(ViewTable, DeleteOneAndDeleteAllKeepRowsAndShapesAligned)
{
    LiveSetup setup;
    setup.drawFour();
    MainScene *scene = setup.view->measureScene();
    setup.view->setModified(false);
    QSignalSpy modified(setup.view.get(), &VideoWidget::modified);
    setup.table()->setCurrentCell(-1, -1);
    setup.view->delItem();  // no current row: nothing
    EXPECT_EQ(scene->shapes().size(), 4);
    EXPECT_FALSE(setup.view->isModified());

    setup.table()->setCurrentCell(1, 0);
    setup.view->delItem();
    ASSERT_EQ(scene->shapes().size(), 3);
    ASSERT_EQ(setup.table()->rowCount(), 3);
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(setup.cell(row, 1), scene->shapes()[row]->name()) << row;
    EXPECT_EQ(modified.size(), 1);

    // Numbers run on after a single deletion, as drawn on the picture.
    draw(*setup.view, DrawType::Line, {{10, 550}, {60, 550}});
    EXPECT_EQ(setup.cell(3, 0), "4");

    setup.view->delAllItem();
    EXPECT_EQ(scene->shapes().size(), 0);
    EXPECT_EQ(setup.table()->rowCount(), 0);
    EXPECT_EQ(modified.size(), 1);  // already modified: no second signal
    EXPECT_FALSE(setup.view->hasMeasurements());
}

TEST(ViewTable, DeleteRemovesEverySelectedRow)
{
    LiveSetup setup;
    setup.drawFour();
    MainScene *scene = setup.view->measureScene();
    Base *kept = scene->shapes()[1];
    Base *keptToo = scene->shapes()[3];
    QItemSelectionModel *selection = setup.table()->selectionModel();
    selection->select(setup.table()->model()->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    selection->select(setup.table()->model()->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    setup.table()->selectionModel()->setCurrentIndex(setup.table()->model()->index(2, 0), QItemSelectionModel::NoUpdate);
    setup.view->delItem();
    ASSERT_EQ(scene->shapes().size(), 2);
    EXPECT_EQ(scene->shapes()[0], kept);
    EXPECT_EQ(scene->shapes()[1], keptToo);
    ASSERT_EQ(setup.table()->rowCount(), 2);
    for (int row = 0; row < 2; ++row)
        EXPECT_EQ(setup.cell(row, 1), scene->shapes()[row]->name()) << row;
}

TEST(ViewTable, MenuOnlyWithSelection)
{
    LiveSetup setup;
    setup.drawFour();
    setup.table()->clearSelection();
    bool shown = false;
    QObject::connect(setup.view->tableMenu(), &QMenu::aboutToShow, [&]() {
        shown = true;
        QTimer::singleShot(0, setup.view->tableMenu(), &QMenu::close);
    });
    setup.view->menuRequest(QPoint(5, 5));
    EXPECT_FALSE(shown);
}

TEST(ViewExport, CsvListsMeasuringShapesWithTheirNumbers)
{
    LiveSetup setup;
    draw(*setup.view, DrawType::Line, {{10, 10}, {110, 10}});
    draw(*setup.view, DrawType::MarkRect, {{400, 400}, {450, 450}});
    draw(*setup.view, DrawType::Cir, {{500, 100}, {600, 200}, {500, 300}});
    const QString path = testHomeFolder() + "/measure.csv";
    ASSERT_TRUE(setup.view->exportTable(path)) << setup.view->errorString().toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray csv = file.readAll();
    ASSERT_TRUE(csv.startsWith("\xEF\xBB\xBF"));
    EXPECT_TRUE(csv.mid(3).startsWith("1,\"Line\",\"")) << csv.toStdString();
    EXPECT_TRUE(csv.contains("\r\n2,\"Cir\",\"")) << csv.toStdString();
    EXPECT_FALSE(csv.contains("MarkRect"));
    EXPECT_FALSE(setup.view->exportTable(testHomeFolder() + "/missing/dir/x.csv"));
    EXPECT_FALSE(setup.view->errorString().isEmpty());
}

namespace {

// The program's Chinese translation, installed for the life of the object.
struct ChineseInterface
{
    QTranslator translator;
    bool loaded = false;
    ChineseInterface()
    {
        loaded = translator.load(":/Language/language_cn.qm");
        QCoreApplication::installTranslator(&translator);
    }
    ~ChineseInterface() { QCoreApplication::removeTranslator(&translator); }
};

}  // namespace

TEST(ViewTable, ShapeNamesAreChineseInTableAndCsv)
{
    ChineseInterface chinese;
    ASSERT_TRUE(chinese.loaded);
    // Every shape name has its own translation and is replaced whole.
    int names = 0;
    for (int type = 0; type <= 30; ++type) {
        const QString name = Base::nameFor(type);
        if (name.isEmpty())
            continue;
        ++names;
        const QString translated = QCoreApplication::translate("QObject", name.toUtf8().constData());
        EXPECT_NE(translated, name) << name.toStdString();
        EXPECT_EQ(translateShapeNames(name), translated) << name.toStdString();
    }
    EXPECT_EQ(names, 20);

    LiveSetup setup;
    draw(*setup.view, DrawType::Line, {{10, 10}, {110, 10}});
    draw(*setup.view, DrawType::Cir, {{500, 100}, {600, 200}, {500, 300}});
    EXPECT_EQ(setup.cell(0, 1), QString::fromUtf8("直线"));
    EXPECT_EQ(setup.cell(1, 1), QString::fromUtf8("圆"));
    const QString path = testHomeFolder() + "/measure_cn.csv";
    ASSERT_TRUE(setup.view->exportTable(path)) << setup.view->errorString().toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray csv = file.readAll();
    EXPECT_TRUE(csv.contains("1,\"" + QString::fromUtf8("直线").toUtf8() + "\",")) << csv.toStdString();
    EXPECT_TRUE(csv.contains("2,\"" + QString::fromUtf8("圆").toUtf8() + "\",")) << csv.toStdString();
}

// A picture file with a stored list of every kind of shape that can be stored.
TEST(ViewPictures, ReopenedShapesKeepTheirPositionsAndSaveBurnsThemIn)
{
    QImage image(640, 480, QImage::Format_RGB32);
    image.fill(Qt::white);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(image.save(&buffer, "PNG"));

    struct Kind { int type; QVector<QPointF> points; };
    const QVector<Kind> kinds = {
        {4, {{10, 10}, {100, 10}}}, {5, {{10, 30}, {100, 30}}}, {6, {{20, 40}, {20, 140}}},
        {7, {{30, 50}, {40, 55}, {50, 58}}},
        {8, {{60, 60}, {160, 60}, {100, 90}}}, {9, {{60, 100}, {160, 100}, {100, 140}}},
        {10, {{200, 10}, {300, 20}, {200, 60}, {300, 40}}}, {11, {{200, 100}, {250, 150}, {300, 100}}},
        {12, {{320, 10}, {400, 70}}}, {13, {{320, 100}, {360, 140}, {400, 100}}},
        {14, {{420, 100}, {460, 140}, {500, 100}}}, {15, {{420, 200}, {480, 260}, {540, 200}}},
        {16, {{20, 300}, {80, 300}, {80, 360}, {20, 360}}},
        {17, {{120, 300}, {160, 340}, {200, 300}, {250, 400}}},
        {19, {{300, 300}, {340, 340}, {380, 300}, {400, 300}, {440, 340}, {480, 300}}},
        {20, {{500, 400}, {560, 440}}}, {25, {{10, 420}, {60, 460}}}, {26, {{100, 420}, {130, 450}, {160, 420}}},
    };
    QByteArray json = "[";
    for (const Kind &kind : kinds) {
        if (json.size() > 1)
            json += ',';
        json += "{\"type\":" + QByteArray::number(kind.type) + ",\"point\":[";
        for (int i = 0; i < kind.points.size(); ++i)
            json += (i ? "," : "") + QByteArray("{\"x\":") + QByteArray::number(kind.points[i].x()) + ",\"y\":"
                + QByteArray::number(kind.points[i].y()) + "}";
        json += "]";
        if (kind.type == 20)
            json += ",\"text\":\"note\"";
        json += "}";
    }
    json += "]";
    bytes += bigEndian32(json.size()) + json + bigEndian32(json.size()) + bigEndian32(kGraphicsTrailerMagic);
    const QString source = testHomeFolder() + "/with_shapes.png";
    {
        QFile file(source);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    VideoWidget view(nullptr, false);
    view.resize(900, 700);
    view.setCalibration(1.0);
    QSignalSpy modified(&view, &VideoWidget::modified);
    view.openPicture(source);
    EXPECT_FALSE(view.isLive());
    EXPECT_EQ(view.picture().size(), QSize(640, 480));
    QTest::qWait(80);  // the list is rebuilt after the current event; tracking starts 50 ms later
    const QList<Base *> shapes = view.measureScene()->shapes();
    ASSERT_EQ(shapes.size(), kinds.size());
    for (int i = 0; i < kinds.size(); ++i) {
        EXPECT_EQ(shapes[i]->type(), kinds[i].type) << i;
        const QVector<QPointF> positions = shapes[i]->pointPositions();
        ASSERT_EQ(positions.size(), kinds[i].points.size()) << "type " << kinds[i].type;
        for (int p = 0; p < positions.size(); ++p)
            EXPECT_EQ(positions[p], kinds[i].points[p]) << "type " << kinds[i].type << " point " << p;
    }
    EXPECT_EQ(view.table()->rowCount(), kinds.size());
    EXPECT_EQ(modified.size(), 0);  // rebuilding from the file is no edit

    // A save that fails keeps shapes, rows and picture.
    const QImage before = view.picture().toImage();
    QFile(testHomeFolder() + "/blocker").open(QIODevice::WriteOnly);
    EXPECT_FALSE(view.savePicture(testHomeFolder() + "/blocker/out.png"));
    EXPECT_FALSE(view.errorString().isEmpty());
    EXPECT_EQ(view.measureScene()->shapes().size(), kinds.size());
    EXPECT_EQ(view.table()->rowCount(), kinds.size());
    EXPECT_EQ(view.picture().toImage(), before);

    // A save that works burns the graphics into the pixels; shapes and rows go together.
    const QString target = testHomeFolder() + "/saved/out.png";
    ASSERT_TRUE(view.savePicture(target)) << view.errorString().toStdString();
    const QImage saved(target);
    ASSERT_EQ(saved.size(), QSize(640, 480));
    EXPECT_NE(saved.convertToFormat(QImage::Format_RGB32), before.convertToFormat(QImage::Format_RGB32));
    EXPECT_NE(saved.pixel(50, 10), qRgb(255, 255, 255));  // on the first line
    EXPECT_TRUE(view.measureScene()->shapes().isEmpty());
    EXPECT_EQ(view.table()->rowCount(), 0);
}

TEST(ViewPictures, LiveViewDoesNotSaveAndEmptyPathPicksCaptureName)
{
    LiveSetup setup;
    EXPECT_FALSE(setup.view->savePicture(testHomeFolder() + "/live.png"));
    EXPECT_FALSE(QFile::exists(testHomeFolder() + "/live.png"));

    VideoWidget still(nullptr, false);
    still.resize(400, 300);
    QPixmap picture(64, 48);
    picture.fill(Qt::blue);
    still.setPicture(picture);
    ASSERT_TRUE(still.savePicture(QString())) << still.errorString().toStdString();
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation) + "/"
        + QGuiApplication::applicationDisplayName();
    EXPECT_EQ(still.savePathValue(), folder + "/capture00000.jpg");
    EXPECT_TRUE(QFile::exists(folder + "/capture00000.jpg"));
}

TEST(ViewPictures, BrokenFileOpensEmptyWithoutCrash)
{
    const QString path = testHomeFolder() + "/broken.jpg";
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(20, 'x') + bigEndian32(0x7fffffff) + bigEndian32(kGraphicsTrailerMagic));
    }
    VideoWidget view(nullptr, false);
    view.resize(400, 300);
    view.openPicture(path);
    QTest::qWait(10);
    EXPECT_TRUE(view.picture().isNull());
    EXPECT_FALSE(view.errorString().isEmpty());
    EXPECT_TRUE(view.measureScene()->shapes().isEmpty());
}

TEST(ViewScale, NonsenseNeverReachesTheScene)
{
    LiveSetup setup;
    setup.view->show();
    QSignalSpy scaled(setup.view.get(), &VideoWidget::videoWidgetScaleChanged);
    // Frames without size are ignored.
    setup.view->showFrame(VideoFrame());
    EXPECT_EQ(scaled.size(), 0);
    for (double bad : {-1.0, 0.0, std::numeric_limits<double>::infinity(), std::nan("")})
        setup.view->setScale(bad);
    EXPECT_TRUE(std::isfinite(setup.view->measureScene()->scale()));
    EXPECT_EQ(setup.view->liveScaleValue(), -1.0);

    auto buffer = I420Buffer::create(1920, 1080);
    setup.view->showFrame(VideoFrame(buffer, 0, 0));
    ASSERT_EQ(scaled.size(), 1);
    const QSize container = setup.view->videoContainer()->size();
    const double expected = std::trunc(std::min({container.width() / 1920.0, container.height() / 1080.0, 1.0}) * 10000) / 10000;
    EXPECT_DOUBLE_EQ(scaled.at(0).at(0).toDouble(), expected * 100);
    EXPECT_EQ(displayedVideoWidth.load(), int(1920 * expected));
    EXPECT_NEAR(setup.view->measureScene()->scale(), 1920.0 / int(1920 * expected), 1e-9);
    EXPECT_EQ(setup.view->graphicsView()->size(), QSize(int(1920 * expected), int(1080 * expected)));

    // A container with no room (minimised): the scale is kept.
    setup.view->videoContainer()->resize(0, 0);
    setup.view->refitScale();
    EXPECT_EQ(scaled.size(), 1);
    EXPECT_DOUBLE_EQ(setup.view->liveScaleValue(), expected);
}

TEST(ViewWheel, OnlyOverTheLiveVideoAndNeverForZeroDelta)
{
    LiveSetup setup;
    setup.view->show();
    QSignalSpy wheel(setup.view.get(), &VideoWidget::wheelAdd);
    const QPoint inside = setup.view->videoContainer()->geometry().center();
    auto send = [&](QPoint at, int delta) {
        QWheelEvent event(at, setup.view->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(setup.view.get(), &event);
    };
    send(inside, 120);
    send(inside, 0);
    send(inside, -120);
    ASSERT_EQ(wheel.size(), 2);
    EXPECT_TRUE(wheel.at(0).at(0).toBool());
    EXPECT_FALSE(wheel.at(1).at(0).toBool());
    setup.view->table()->show();
    send(QPoint(5, setup.view->height() - 3), 120);  // over the table
    EXPECT_EQ(wheel.size(), 2);
}

TEST(ViewPanel, ToolsRelayedAndClearedModeUnpressesThem)
{
    LiveSetup setup;
    QSignalSpy modes(setup.view.get(), &VideoWidget::signalSetDrawMode);
    QSignalSpy cleared(setup.view.get(), &VideoWidget::clearDrawType);
    auto *poly = setup.view->flowPanelWidget()->findChild<QPushButton *>("drawPoly_Btn");
    poly->click();
    ASSERT_EQ(modes.size(), 1);
    EXPECT_EQ(modes.at(0).at(0).value<DrawType>(), DrawType::Poly);
    EXPECT_TRUE(poly->isChecked());
    setup.view->slotclearDrawType();
    EXPECT_EQ(cleared.size(), 1);
    EXPECT_FALSE(poly->isChecked());
    // The first position change moves the panel to the bottom edge.
    setup.view->slotChangePos();
    const QWidget *view = setup.view->graphicsView();
    EXPECT_EQ(setup.view->flowPanelWidget()->geometry(), QRect(5, view->height() - 75, view->width() - 10, 70));
}
