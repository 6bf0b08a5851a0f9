// Measurement scene speed: 1,000 shapes styled as the program styles them,
// all in view in a full-HD view of the scene.
//
// Targets, each printed beside its figure ("target_ms"):
// - a unit change with the repaint of the 1,000 labels under 16 ms, one
//   frame at 60 Hz (UnitChangeRepainted). Anchors in the same run: the
//   reformatting alone (UnitChange), the frame repainted without a change
//   (RepaintOnly: each label blends the image of its lines, where the frame
//   after a unit change draws their glyphs), and the labels laid out as text
//   documents, the way labels were shown before (UnitChangeAsTextDocuments);
// - dragging a shape, from the mouse event to the repainted frame, under
//   2 ms (DragRepainted); anchor: the shape's move alone (DragStep).
#include "measure.h"
#include "measure_test_support.h"

#include <QApplication>
#include <QGraphicsTextItem>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr int kShapes = 1000;
constexpr int kColumns = 40;
constexpr int kRows = kShapes / kColumns;
const QSize kViewSize(1920, 1080);

// Counts the paints of a widget.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// A 4K camera shown at 50 % in a full-HD view: the live view's scene has the
// view's size, a scene unit is two picture pixels, and the program hands the
// stored sizes (the defaults: line width 1, text size 13), which the scene
// draws at two picture pixels a step.
constexpr double kPictureWidth = 3840;

QMap<int, QVariant> programProperties()
{
    return {{PointWidth, 1},
            {LineWidth, 1},
            {LineStyle, int(Qt::SolidLine)},
            {LineColor, QColor(Qt::red)},
            {TextSize, 13},
            {TextFont, QStringLiteral("Arial")},
            {TextColor, QColor(Qt::green)}};
}

// 1,000 shapes of five kinds on a grid over `area`, drawn with the mouse as
// a user draws them: finished and numbered.
void fillScene(MainScene &scene, const QSizeF &area)
{
    scene.setViewScale(area.width(), kPictureWidth);
    scene.setSceneRect(QRectF(QPointF(0, 0), area));
    scene.applyScale();
    scene.setPropertyMap(programProperties());
    scene.setCalibration(2.5);
    const double dx = area.width() / kColumns;
    const double dy = area.height() / kRows;
    const int kinds[] = {DrawType::Line, DrawType::Rect, DrawType::Cir, DrawType::Ver, DrawType::Ring};
    for (int i = 0; i < kShapes; ++i) {
        const double x = 2 + (i % kColumns) * dx;
        const double y = 2 + (i / kColumns) * dy;
        const int type = kinds[i % 5];
        QVector<QPointF> points{{x, y}, {x + 0.6 * dx, y + 0.4 * dy}};
        if (type == DrawType::Cir || type == DrawType::Ver || type == DrawType::Ring)
            points.append({x + 0.3 * dx, y + 0.8 * dy});
        drawShape(scene, type, points);
    }
    scene.setDrawMode(DrawType::Hand);
}

// The scene in a shown view of full-HD size, as the live view shows it.
struct ShownScene {
    MainScene scene;
    GraphicsView view;
    PaintCounter paints{view.viewport()};
    ShownScene()
    {
        fillScene(scene, kViewSize);
        view.setScene(&scene);
        view.setFrameShape(QFrame::NoFrame);
        view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.resize(kViewSize);
        view.show();
        waitForPaint();
    }
    // Runs the event loop until the view has painted once more.
    bool waitForPaint()
    {
        const int before = paints.paints;
        for (int i = 0; i < 1000 && paints.paints == before; ++i)
            QCoreApplication::processEvents();
        return paints.paints != before;
    }
};

void BM_UnitChange(benchmark::State &state)
{
    MainScene scene;
    fillScene(scene, kViewSize);
    int units[] = {UnitMillimetres, UnitMicrometres, UnitMils, UnitPixels};
    int i = 0;
    for (auto _ : state)
        scene.setUnit(units[i++ % 4]);
    state.counters["shapes"] = scene.shapes().size();
}
BENCHMARK(BM_UnitChange)->Unit(benchmark::kMillisecond);

void BM_UnitChangeRepainted(benchmark::State &state)
{
    ShownScene shown;
    int units[] = {UnitMillimetres, UnitMicrometres, UnitMils, UnitPixels};
    int i = 0;
    for (auto _ : state) {
        shown.scene.setUnit(units[i++ % 4]);
        if (!shown.waitForPaint()) {
            state.SkipWithError("the view did not repaint");
            break;
        }
    }
    state.counters["shapes"] = shown.scene.shapes().size();
    state.counters["target_ms"] = 16;
}
BENCHMARK(BM_UnitChangeRepainted)->Unit(benchmark::kMillisecond);

// Anchor: the same frame repainted without a change.
void BM_RepaintOnly(benchmark::State &state)
{
    ShownScene shown;
    for (auto _ : state) {
        shown.view.viewport()->update();
        if (!shown.waitForPaint()) {
            state.SkipWithError("the view did not repaint");
            break;
        }
    }
}
BENCHMARK(BM_RepaintOnly)->Unit(benchmark::kMillisecond);


// Anchor: the labels of the scene above set as text documents, one per label.
void BM_UnitChangeAsTextDocuments(benchmark::State &state)
{
    MainScene scene;
    fillScene(scene, kViewSize);
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

// A line in the middle of the grid; the point on it that a drag takes.
Base *draggedLine(MainScene &scene)
{
    Base *line = scene.shapes()[kShapes / 2];
    Q_ASSERT(line->type() == DrawType::Line);
    return line;
}

QPointF middleOf(const Base *line)
{
    const QList<GraphicsPoint *> points = line->points();
    return (points[0]->scenePos() + points[1]->scenePos()) / 2;
}

// Anchor: one move of a shape, without event or paint.
void BM_DragStep(benchmark::State &state)
{
    MainScene scene;
    fillScene(scene, kViewSize);
    scene.setUnit(UnitMicrometres);
    GraphicsConnect *item = draggedLine(scene)->item();
    const QPointF start = item->pos();
    int step = 1;
    for (auto _ : state) {
        item->setPos(start + QPointF(step % 20, (step / 20) % 20 + 1));
        ++step;
    }
}
BENCHMARK(BM_DragStep)->Unit(benchmark::kMicrosecond);

// A finished line dragged in the selection mode, as a user moves it.
void BM_DragRepainted(benchmark::State &state)
{
    ShownScene shown;
    shown.scene.setUnit(UnitMicrometres);
    QWidget *viewport = shown.view.viewport();
    const Base *line = draggedLine(shown.scene);
    const QPointF firstPoint = line->points()[0]->scenePos();
    const QPoint grip = shown.view.mapFromScene(middleOf(line));
    auto send = [viewport](QEvent::Type type, const QPoint &at, Qt::MouseButtons buttons) {
        QMouseEvent event(type, at, viewport->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(viewport, &event);
    };
    send(QEvent::MouseButtonPress, grip, Qt::LeftButton);
    shown.waitForPaint();
    int step = 1;
    for (auto _ : state) {
        send(QEvent::MouseMove, grip + QPoint(step % 20, (step / 20) % 20 + 1), Qt::LeftButton);
        ++step;
        if (!shown.waitForPaint()) {
            state.SkipWithError("the view did not repaint");
            break;
        }
    }
    send(QEvent::MouseButtonRelease, grip, Qt::NoButton);
    if (line->points()[0]->scenePos() == firstPoint)
        state.SkipWithError("the line did not follow the mouse");
    state.counters["target_ms"] = 2;
}
BENCHMARK(BM_DragRepainted)->Unit(benchmark::kMicrosecond);

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
