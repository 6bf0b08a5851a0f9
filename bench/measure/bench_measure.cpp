// Measurement scene speed: a scene with 1,000 finished shapes. Targets: a
// unit change (every label reformatted) under 16 ms, one frame at 60 Hz,
// printed beside the time the same labels take only to be laid out as text
// documents, the way labels were shown before (the whole change then took
// about 45 ms); one mouse-move step while dragging a handle under 2 ms.
#include "measure.h"

#include <QApplication>
#include <QGraphicsTextItem>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr int kShapes = 1000;

void fillScene(MainScene &scene)
{
    scene.setSceneRect(0, 0, 4000, 3000);
    scene.setCalibration(2.5);
    const int kinds[] = {DrawType::Line, DrawType::Rect, DrawType::Cir, DrawType::Ver, DrawType::Ring};
    for (int i = 0; i < kShapes; ++i) {
        const double x = 20 + (i % 40) * 95;
        const double y = 20 + (i / 40) * 110;
        scene.setDrawMode(kinds[i % 5]);
        Base *shape = scene.createShape();
        shape->addPoint({x, y}, scene.calibration());
        shape->moveLastPoint({x + 60, y + 40});
        if (shape->type() == DrawType::Cir || shape->type() == DrawType::Ver || shape->type() == DrawType::Ring) {
            shape->addPoint({x + 30, y + 80}, scene.calibration());
            shape->moveLastPoint({x + 30, y + 80});
        }
        // Loaded through the same path a picture's stored list takes.
        QByteArray json = "[{\"type\":" + QByteArray::number(shape->type()) + ",\"point\":[";
        const QVector<QPointF> points = shape->pointPositions();
        for (int p = 0; p < points.size(); ++p)
            json += (p ? "," : "") + QByteArray("{\"x\":") + QByteArray::number(points[p].x()) + ",\"y\":"
                + QByteArray::number(points[p].y()) + "}";
        json += "]}]";
        delete shape;
        scene.loadShapes(json);
    }
    scene.setDrawMode(DrawType::Hand);
}

void BM_UnitChange(benchmark::State &state)
{
    MainScene scene;
    fillScene(scene);
    int units[] = {UnitMillimetres, UnitMicrometres, UnitMils, UnitPixels};
    int i = 0;
    for (auto _ : state)
        scene.setUnit(units[i++ % 4]);
    state.counters["shapes"] = scene.shapes().size();
}
BENCHMARK(BM_UnitChange)->Unit(benchmark::kMillisecond);

// Anchor: the labels of the scene above set as text documents, one per label.
void BM_UnitChangeAsTextDocuments(benchmark::State &state)
{
    MainScene scene;
    fillScene(scene);
    QList<QGraphicsTextItem *> documents;
    QStringList texts[2];
    for (Base *shape : scene.shapes()) {
        auto *item = new QGraphicsTextItem;
        item->setFont(shape->label()->font());
        scene.addItem(item);
        documents << item;
        shape->setUnit(UnitMillimetres);
        texts[0] << shape->labelText();
        shape->setUnit(UnitMicrometres);
        texts[1] << shape->labelText();
    }
    int i = 0;
    for (auto _ : state) {
        const QStringList &shown = texts[i++ % 2];
        for (int n = 0; n < documents.size(); ++n)
            documents[n]->setPlainText(shown[n]);
    }
    state.counters["shapes"] = documents.size();
}
BENCHMARK(BM_UnitChangeAsTextDocuments)->Unit(benchmark::kMillisecond);

void BM_DragStep(benchmark::State &state)
{
    MainScene scene;
    fillScene(scene);
    scene.setUnit(UnitMicrometres);
    GraphicsPoint *handle = scene.shapes()[kShapes / 2]->points()[1];
    const QPointF start = handle->pos();
    int step = 0;
    for (auto _ : state) {
        handle->setPos(start + QPointF(step % 50, (step / 50) % 50));
        ++step;
    }
}
BENCHMARK(BM_DragStep)->Unit(benchmark::kMicrosecond);

// Opening a picture whose stored list holds one long freehand line.
void BM_LoadFreehand(benchmark::State &state)
{
    QByteArray json = "[{\"type\":7,\"point\":[";
    for (int i = 0; i < state.range(0); ++i)
        json += (i ? "," : "") + QByteArray("{\"x\":") + QByteArray::number(i % 3000) + ",\"y\":"
            + QByteArray::number(i / 3000 * 10) + "}";
    json += "]}]";
    for (auto _ : state) {
        MainScene scene;
        scene.setSceneRect(0, 0, 4000, 3000);
        scene.loadShapes(json);
        benchmark::DoNotOptimize(scene.shapes().size());
    }
}
BENCHMARK(BM_LoadFreehand)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir settings;
    SettingsStore::instance().setBaseFolderForTesting(settings.path());
    SettingsStore::instance().setDrawValue(FloatNum, 2);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
