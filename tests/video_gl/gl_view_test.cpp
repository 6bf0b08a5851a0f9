// The live view on a real GL driver: frames drawn and read back from the
// framebuffer, compared with a CPU BT.601 conversion.
#include "gl_shader_source.h"
#include "opengl_video_widget.h"

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLShaderProgram>
#include <QSurfaceFormat>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

// Mesa unloads its driver at exit; the leak checker could then not name the
// library that holds the driver's one-time allocations, nor suppress them.
const bool kDriverPinned = [] {
    for (const char *path : {"/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", "/usr/lib/dri/swrast_dri.so"}) {
        if (dlopen(path, RTLD_LAZY | RTLD_NODELETE))
            return true;
    }
    return false;
}();

bool haveDisplay()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

#define REQUIRE_DISPLAY()                                                          \
    do {                                                                           \
        if (!haveDisplay())                                                        \
            GTEST_SKIP() << "no X display (run under xvfb-run); GL cases skipped"; \
    } while (0)

// Deterministic noise, so a failure reproduces.
uint8_t noise(uint32_t &state)
{
    state = state * 1664525u + 1013904223u;
    return uint8_t(state >> 24);
}

std::shared_ptr<I420Buffer> patternFrame(int width, int height, uint32_t seed)
{
    auto buffer = I420Buffer::create(width, height);
    uint32_t state = seed;
    for (int i = 0; i < width * height; ++i)
        buffer->mutableDataY()[i] = noise(state);
    const int chroma = buffer->chromaWidth() * buffer->chromaHeight();
    for (int i = 0; i < chroma; ++i) {
        buffer->mutableDataU()[i] = noise(state);
        buffer->mutableDataV()[i] = noise(state);
    }
    return buffer;
}

std::shared_ptr<I420Buffer> flatFrame(int width, int height, uint8_t y, uint8_t u, uint8_t v)
{
    auto buffer = I420Buffer::create(width, height);
    std::fill_n(buffer->mutableDataY(), width * height, y);
    std::fill_n(buffer->mutableDataU(), buffer->chromaWidth() * buffer->chromaHeight(), u);
    std::fill_n(buffer->mutableDataV(), buffer->chromaWidth() * buffer->chromaHeight(), v);
    return buffer;
}

// Linear texture sampling with clamp-to-edge, as GL does it: coordinate of the
// pixel centre in the plane's texels, minus half a texel.
double samplePlane(const uint8_t *plane, int planeWidth, int planeHeight, double s, double t)
{
    const double x = s * planeWidth - 0.5;
    const double y = t * planeHeight - 0.5;
    const int x0 = int(std::floor(x));
    const int y0 = int(std::floor(y));
    const double fx = x - x0;
    const double fy = y - y0;
    auto at = [&](int px, int py) {
        px = std::clamp(px, 0, planeWidth - 1);
        py = std::clamp(py, 0, planeHeight - 1);
        return plane[py * planeWidth + px] / 255.0;
    };
    const double top = at(x0, y0) * (1 - fx) + at(x0 + 1, y0) * fx;
    const double bottom = at(x0, y0 + 1) * (1 - fx) + at(x0 + 1, y0 + 1) * fx;
    return top * (1 - fy) + bottom * fy;
}

// BT.601 limited range with the live view's three-decimal constants.
QRgb expectedPixel(const I420Buffer &frame, int x, int y)
{
    const double s = (x + 0.5) / frame.width();
    const double t = (y + 0.5) / frame.height();
    const double luma = samplePlane(frame.dataY(), frame.width(), frame.height(), s, t) - 0.063;
    const double u = samplePlane(frame.dataU(), frame.chromaWidth(), frame.chromaHeight(), s, t) - 0.5;
    const double v = samplePlane(frame.dataV(), frame.chromaWidth(), frame.chromaHeight(), s, t) - 0.5;
    auto channel = [](double value) { return int(std::lround(std::clamp(value, 0.0, 1.0) * 255.0)); };
    return qRgb(channel(1.164 * luma + 1.596 * v), channel(1.164 * luma - 0.392 * u - 0.813 * v),
                channel(1.164 * luma + 2.017 * u));
}

struct LiveView
{
    std::unique_ptr<OpenGLVideoWidget> widget;

    LiveView(int width, int height)
    {
        widget = std::make_unique<OpenGLVideoWidget>();
        widget->resize(width, height);
        widget->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(widget.get()));
        widget->grabFramebuffer();  // forces initializeGL
    }
    QImage show(const std::shared_ptr<I420Buffer> &buffer)
    {
        widget->onFrame(VideoFrame(buffer, 0, 0));
        return widget->grabFramebuffer();
    }
};

int maxDifference(const QImage &image, const I420Buffer &frame, QPoint *worst)
{
    int largest = 0;
    for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x) {
            const QRgb got = image.pixel(x, y);
            const QRgb want = expectedPixel(frame, x, y);
            const int difference = std::max({std::abs(qRed(got) - qRed(want)), std::abs(qGreen(got) - qGreen(want)),
                                             std::abs(qBlue(got) - qBlue(want))});
            if (difference > largest) {
                largest = difference;
                *worst = QPoint(x, y);
            }
        }
    }
    return largest;
}

}  // namespace

TEST(LiveViewDrawing, MatchesCpuConversionAtOddAndEvenSizes)
{
    REQUIRE_DISPLAY();
    for (const QSize size : {QSize(320, 240), QSize(161, 97)}) {
        LiveView view(size.width(), size.height());
        ASSERT_TRUE(view.widget->isInitialized());
        view.widget->startDisplay();
        auto frame = patternFrame(size.width(), size.height(), 7u + uint32_t(size.width()));
        const QImage image = view.show(frame);
        ASSERT_EQ(image.size(), size) << "device pixel ratio must be 1 under Xvfb";
        QPoint worst;
        // Texture filtering and 8-bit framebuffer rounding: a few levels at most.
        EXPECT_LE(maxDifference(image, *frame, &worst), 4)
            << size.width() << "x" << size.height() << " worst at " << worst.x() << "," << worst.y();
    }
}

TEST(LiveViewDrawing, LimitedRangeBlackAndWhite)
{
    REQUIRE_DISPLAY();
    LiveView view(64, 48);
    view.widget->startDisplay();
    QImage image = view.show(flatFrame(64, 48, 16, 128, 128));
    EXPECT_LE(qRed(image.pixel(10, 10)), 2);
    EXPECT_LE(qGreen(image.pixel(63, 47)), 2);
    image = view.show(flatFrame(64, 48, 255, 128, 128));
    EXPECT_EQ(image.pixel(0, 0), qRgb(255, 255, 255));  // 1.164 * 0.937 clamps to white
}

TEST(LiveViewDrawing, EdgesDoNotBleedFromTheOppositeSide)
{
    REQUIRE_DISPLAY();
    // Left half of the chroma red, right half blue: with repeat wrapping the
    // outermost columns would mix in the other side's colour.
    const int width = 64, height = 32;
    auto frame = flatFrame(width, height, 128, 128, 128);
    for (int row = 0; row < frame->chromaHeight(); ++row) {
        for (int col = 0; col < frame->chromaWidth(); ++col) {
            const bool left = col < frame->chromaWidth() / 2;
            frame->mutableDataU()[row * frame->chromaWidth() + col] = left ? 90 : 240;
            frame->mutableDataV()[row * frame->chromaWidth() + col] = left ? 240 : 90;
        }
    }
    LiveView view(width, height);
    view.widget->startDisplay();
    const QImage image = view.show(frame);
    QPoint worst;
    EXPECT_LE(maxDifference(image, *frame, &worst), 4) << worst.x() << "," << worst.y();
    EXPECT_EQ(image.pixel(0, 5), image.pixel(3, 5));
    EXPECT_EQ(image.pixel(width - 1, 5), image.pixel(width - 4, 5));
}

TEST(LiveViewFrames, TexturesFollowTheFrameSize)
{
    REQUIRE_DISPLAY();
    LiveView view(200, 100);
    view.widget->startDisplay();
    view.show(flatFrame(1920, 1080, 100, 128, 128));
    EXPECT_EQ(view.widget->textureWidth(0), 1920);
    EXPECT_EQ(view.widget->textureHeight(0), 1080);
    EXPECT_EQ(view.widget->textureWidth(1), 960);
    EXPECT_EQ(view.widget->textureHeight(2), 540);
    view.show(flatFrame(1919, 1081, 100, 128, 128));
    EXPECT_EQ(view.widget->textureWidth(0), 1919);
    EXPECT_EQ(view.widget->textureWidth(1), 960);
    EXPECT_EQ(view.widget->textureHeight(1), 541);
    EXPECT_EQ(view.widget->textureHeight(2), 541);
}

TEST(LiveViewFrames, OneFrameWaitsAndLaterOnesAreDropped)
{
    REQUIRE_DISPLAY();
    LiveView view(32, 32);
    view.widget->startDisplay();
    view.widget->onFrame(VideoFrame(flatFrame(32, 32, 16, 128, 128), 0, 0));  // black
    EXPECT_TRUE(view.widget->isDrawPending());
    view.widget->onFrame(VideoFrame(flatFrame(32, 32, 235, 128, 128), 0, 0));  // white, dropped
    const QImage image = view.widget->grabFramebuffer();
    EXPECT_LE(qRed(image.pixel(5, 5)), 2);
    EXPECT_FALSE(view.widget->isDrawPending());
}

TEST(LiveViewFrames, IgnoredWhenStoppedOrNotStarted)
{
    REQUIRE_DISPLAY();
    LiveView view(32, 32);
    view.widget->onFrame(VideoFrame(flatFrame(32, 32, 235, 128, 128), 0, 0));
    EXPECT_FALSE(view.widget->isDrawPending());
    view.widget->startDisplay();
    view.widget->stopDisplay();
    view.widget->onFrame(VideoFrame(flatFrame(32, 32, 235, 128, 128), 0, 0));
    EXPECT_FALSE(view.widget->isDrawPending());
    EXPECT_FALSE(view.widget->isRunning());
    // An empty frame (no buffer) is never queued.
    view.widget->startDisplay();
    view.widget->onFrame(VideoFrame());
    EXPECT_FALSE(view.widget->isDrawPending());
}

TEST(LiveViewFrames, ResizeRedrawsTheLastPicture)
{
    REQUIRE_DISPLAY();
    LiveView view(40, 30);
    view.widget->startDisplay();
    // Top half white, bottom half black.
    auto frame = flatFrame(40, 30, 16, 128, 128);
    std::fill_n(frame->mutableDataY(), 40 * 15, uint8_t(235));
    view.show(frame);
    view.widget->resize(80, 60);
    const QImage image = view.widget->grabFramebuffer();
    ASSERT_EQ(image.size(), QSize(80, 60));
    EXPECT_GE(qRed(image.pixel(40, 5)), 250);
    EXPECT_GE(qGreen(image.pixel(79, 25)), 250);
    EXPECT_LE(qRed(image.pixel(40, 55)), 2);
    EXPECT_LE(qBlue(image.pixel(0, 35)), 2);
}

TEST(LiveViewFrames, NewContextDropsTheFrameThatWasWaiting)
{
    REQUIRE_DISPLAY();
    LiveView view(32, 32);
    view.widget->startDisplay();
    view.widget->onFrame(VideoFrame(flatFrame(32, 32, 16, 128, 128), 0, 0));  // black, never painted
    ASSERT_TRUE(view.widget->isDrawPending());
    // Moving into another window gives the widget a new context; the old one
    // takes the resources with it.
    QWidget host;
    host.resize(64, 64);
    view.widget->setParent(&host);
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    view.widget->show();
    view.widget->grabFramebuffer();
    ASSERT_TRUE(view.widget->isInitialized());
    // The first frame after the change is the one shown, not the stale one.
    const QImage image = view.show(flatFrame(32, 32, 235, 128, 128));
    EXPECT_GE(qRed(image.pixel(5, 5)), 250);
    EXPECT_FALSE(view.widget->isDrawPending());
    view.widget->setParent(nullptr);
}

// The preamble must compile where the driver speaks OpenGL ES.
TEST(ShaderPreamble, CompilesOnOpenGlEs3)
{
    REQUIRE_DISPLAY();
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGLES);
    format.setVersion(3, 0);
    QOpenGLContext context;
    context.setFormat(format);
    if (!context.create() || !context.isOpenGLES())
        GTEST_SKIP() << "the GL driver offers no OpenGL ES context here";
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    ASSERT_TRUE(context.makeCurrent(&surface));
    const GlslVersion glsl = parseGlslVersion(
        reinterpret_cast<const char *>(context.functions()->glGetString(GL_SHADING_LANGUAGE_VERSION)));
    ASSERT_TRUE(glsl.es);
    ASSERT_TRUE(glsl.parsed);
    QOpenGLShaderProgram program;
    ASSERT_TRUE(program.addShaderFromSourceCode(QOpenGLShader::Vertex,
                                                shaderPreamble(ShaderKind::Vertex, glsl) + kLiveViewVertexBody))
        << program.log().toStdString();
    ASSERT_TRUE(program.addShaderFromSourceCode(
        QOpenGLShader::Fragment, shaderPreamble(ShaderKind::Fragment, glsl) + kLiveViewI420FragmentBody))
        << program.log().toStdString();
    EXPECT_TRUE(program.link()) << program.log().toStdString();
    context.doneCurrent();
}

TEST(ShaderPreamble, CompilesOnDesktopGl)
{
    REQUIRE_DISPLAY();
    QOpenGLContext context;
    ASSERT_TRUE(context.create());
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    ASSERT_TRUE(context.makeCurrent(&surface));
    const int version = OpenGLVideoWidget::GLSLVersion();
    EXPECT_GE(version, 110);
    EXPECT_EQ(OpenGLVideoWidget::GLSLVersion(), version);  // cached
    // Every generation the preamble claims to handle, on this driver.
    for (int probe : {110, 120, 130, 140, 150, 330}) {
        if (probe > version)
            continue;
        GlslVersion glsl;
        glsl.version = probe;
        glsl.parsed = true;
        QOpenGLShaderProgram program;
        EXPECT_TRUE(program.addShaderFromSourceCode(QOpenGLShader::Vertex,
                                                    shaderPreamble(ShaderKind::Vertex, glsl) + kLiveViewVertexBody));
        EXPECT_TRUE(program.addShaderFromSourceCode(
            QOpenGLShader::Fragment, shaderPreamble(ShaderKind::Fragment, glsl) + kLiveViewI420FragmentBody));
        EXPECT_TRUE(program.link()) << "GLSL " << probe << ": " << program.log().toStdString();
    }
    context.doneCurrent();
}
