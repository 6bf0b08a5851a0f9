#include "measure_test_support.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

#include <cmath>

TEST(StoredGraphics, ReadsValidElements)
{
    int skipped = -1;
    const auto shapes = parseStoredGraphics(
        R"([{"type":4,"point":[{"x":10,"y":20},{"x":110,"y":20}]},
            {"type":20,"point":[{"x":1,"y":2},{"x":3}],"text":"hello"}])",
        &skipped);
    ASSERT_EQ(shapes.size(), 2);
    EXPECT_EQ(skipped, 0);
    EXPECT_EQ(shapes[0].type, DrawType::Line);
    EXPECT_EQ(shapes[0].points, QVector<QPointF>({{10, 20}, {110, 20}}));
    EXPECT_EQ(shapes[1].text, "hello");
    EXPECT_EQ(shapes[1].points[1], QPointF(3, 0));  // a missing coordinate reads as 0
}

TEST(StoredGraphics, RejectsMalformedInput)
{
    EXPECT_TRUE(parseStoredGraphics("").isEmpty());
    EXPECT_TRUE(parseStoredGraphics("not json").isEmpty());
    EXPECT_TRUE(parseStoredGraphics(R"({"type":4})").isEmpty());
    EXPECT_TRUE(parseStoredGraphics("[").isEmpty());
    EXPECT_TRUE(parseStoredGraphics(QByteArray("[\0]", 3)).isEmpty());
    int skipped = 0;
    const auto shapes = parseStoredGraphics(R"([
        1, "x", null, [],
        {"point":[{"x":1,"y":1},{"x":2,"y":2}]},
        {"type":18,"point":[{"x":1,"y":1},{"x":2,"y":2}]},
        {"type":23,"point":[{"x":1,"y":1},{"x":2,"y":2}]},
        {"type":24,"point":[{"x":1,"y":1},{"x":2,"y":2},{"x":3,"y":1}]},
        {"type":4},
        {"type":4,"point":[]},
        {"type":4,"point":{"x":1}},
        {"type":4,"point":[{"x":1,"y":1}]},
        {"type":4,"point":[{"x":1,"y":1},5]},
        {"type":4,"point":[{"x":"1","y":1},{"x":2,"y":2}]},
        {"type":4,"point":[{"x":1e300,"y":1},{"x":2,"y":2}]},
        {"type":4.5,"point":[{"x":1,"y":1},{"x":2,"y":2}]},
        {"type":"4","point":[{"x":1,"y":1},{"x":2,"y":2}]},
        {"type":1e30,"point":[{"x":1,"y":1},{"x":2,"y":2}]},
        {"type":17,"point":[{"x":1,"y":1},{"x":2,"y":2},{"x":3,"y":1}]},
        {"type":19,"point":[{"x":1,"y":1},{"x":2,"y":2},{"x":3,"y":1},{"x":4,"y":4},{"x":5,"y":5}]},
        {"type":10,"point":[{"x":1,"y":1},{"x":2,"y":2},{"x":3,"y":1}]},
        {"type":20,"point":[{"x":1,"y":1},{"x":2,"y":2}],"text":7},
        {"type":12,"point":[{"x":1,"y":1},{"x":2,"y":2}]}
    ])", &skipped);
    ASSERT_EQ(shapes.size(), 1);
    EXPECT_EQ(shapes[0].type, DrawType::Rect);
    EXPECT_EQ(skipped, 22);
}

TEST(StoredGraphics, RejectsNumbersBeyondDoubleRange)
{
    EXPECT_TRUE(parseStoredGraphics(R"([{"type":4,"point":[{"x":1e400,"y":1},{"x":2,"y":2}]}])").isEmpty());
    EXPECT_TRUE(parseStoredGraphics(R"([{"type":4,"point":[{"x":-1e400,"y":1},{"x":2,"y":2}]}])").isEmpty());
}

TEST(StoredGraphics, CapsCounts)
{
    QByteArray many = "[";
    for (int i = 0; i < stored_graphics::kMaxShapes + 5; ++i)
        many += QByteArray(i ? "," : "") + R"({"type":4,"point":[{"x":1,"y":1},{"x":2,"y":2}]})";
    many += "]";
    int skipped = 0;
    EXPECT_EQ(parseStoredGraphics(many, &skipped).size(), stored_graphics::kMaxShapes);
    EXPECT_EQ(skipped, 5);

    QByteArray longLine = R"([{"type":7,"point":[)";
    for (int i = 0; i <= stored_graphics::kMaxPointsPerShape; ++i)
        longLine += QByteArray(i ? "," : "") + R"({"x":1,"y":1})";
    longLine += "]}]";
    EXPECT_TRUE(parseStoredGraphics(longLine).isEmpty());
}

TEST(LoadShapes, RebuildsShapesAndKeepsTheMode)
{
    setDecimals(0);
    MainScene scene;
    scene.setSceneRect(0, 0, 400, 300);
    scene.setDrawMode(DrawType::Cir);
    QSignalSpy inserted(&scene, &MainScene::itemInsert);
    scene.loadShapes("[]");
    scene.loadShapes("garbage");
    EXPECT_EQ(scene.shapes().size(), 0);
    scene.loadShapes(R"([{"type":18,"point":[{"x":1,"y":1},{"x":2,"y":2}]},
        {"type":4,"point":[{"x":10,"y":20},{"x":60,"y":20},{"x":110,"y":20}]},
        {"type":20,"point":[{"x":10,"y":20},{"x":60,"y":70}],"text":"crack"},
        {"type":14,"point":[{"x":110,"y":100},{"x":100,"y":110},{"x":90,"y":100}]},
        {"type":23,"point":[{"x":1,"y":1},{"x":50,"y":1}]}])");
    EXPECT_EQ(scene.drawMode(), DrawType::Cir);
    ASSERT_EQ(scene.shapes().size(), 3);
    EXPECT_EQ(inserted.count(), 3);
    Base *line = scene.shapes()[0];
    EXPECT_EQ(line->pointCount(), 2);
    EXPECT_EQ(line->lastPointPos(), QPointF(110, 20));
    EXPECT_EQ(line->labelText(), "Len = 100pix");
    EXPECT_EQ(scene.shapes()[1]->labelText(), "crack");
    EXPECT_TRUE(scene.shapes()[2]->labelText().startsWith("R = 10pix"));
}

TEST(LoadShapes, NumbersAreRightAtAnyViewScale)
{
    // The view shows the picture at half and at twice its size: a line 100
    // scene units long covers 50 and 200 picture pixels.
    setDecimals(0);
    for (const double scale : {0.5, 2.0}) {
        SCOPED_TRACE(scale);
        MainScene scene;
        scene.setSceneRect(0, 0, 400, 300);
        scene.setViewScale(400, 400 * scale);
        scene.applyScale();
        ASSERT_EQ(scene.scale(), scale);
        scene.loadShapes(R"([{"type":4,"point":[{"x":10,"y":20},{"x":110,"y":20}]},
            {"type":14,"point":[{"x":110,"y":100},{"x":100,"y":110},{"x":90,"y":100}]},
            {"type":12,"point":[{"x":10,"y":200},{"x":50,"y":220}]}])");
        ASSERT_EQ(scene.shapes().size(), 3);
        EXPECT_EQ(scene.shapes()[0]->labelText(), QString("Len = %1pix").arg(100 * scale));
        EXPECT_TRUE(scene.shapes()[1]->labelText().startsWith(QString("R = %1pix\n").arg(10 * scale)))
            << scene.shapes()[1]->labelText().toStdString();
        EXPECT_TRUE(scene.shapes()[2]->labelText().startsWith(QString("Wid = %1pix\n").arg(40 * scale)))
            << scene.shapes()[2]->labelText().toStdString();
    }
}

TEST(LoadShapes, LongFreehandLineKeepsEveryPoint)
{
    // A freehand line never completes, so every stored point becomes a
    // handle; it is measured once, not once per point.
    setDecimals(0);
    MainScene scene;
    scene.setSceneRect(0, 0, 4000, 300);
    QByteArray json = R"([{"type":7,"point":[)";
    const int count = 3000;
    for (int i = 0; i < count; ++i)
        json += (i ? "," : "") + QByteArray(R"({"x":)") + QByteArray::number(i) + R"(,"y":)" + QByteArray::number(i % 2 * 10) + "}";
    json += "]}]";
    QSignalSpy updates(&scene, &MainScene::itemUpdate);
    scene.loadShapes(json);
    ASSERT_EQ(scene.shapes().size(), 1);
    Base *line = scene.shapes()[0];
    EXPECT_EQ(line->pointCount(), count);
    EXPECT_EQ(line->pointPositions().first(), QPointF(0, 0));
    EXPECT_EQ(line->lastPointPos(), QPointF(count - 1, 10));
    const double step = std::hypot(1.0, 10.0);
    EXPECT_EQ(line->labelText(), QString("CLen = %1pix\n").arg(qRound(step * (count - 1))));
    EXPECT_LE(updates.count(), 10);
}
