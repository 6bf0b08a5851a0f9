// Live view: frames displayed per second and GUI-thread time from frame
// hand-over to finished paint, at 1080p and 4K; the texture upload alone
// beside a plain memcpy of the same frame.
#include "opengl_video_widget.h"

#include <QApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QTest>
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

std::shared_ptr<I420Buffer> grey(int width, int height, uint8_t level)
{
    auto buffer = I420Buffer::create(width, height);
    std::memset(buffer->mutableDataY(), level, size_t(buffer->totalSize()));
    return buffer;
}

// Hand-over to paint: onFrame, then the GUI thread's event processing paints
// (paintGL uploads and draws, the window composes), then glFinish so the GPU
// work is inside the measured time.
void BM_DisplayFrame(benchmark::State &state)
{
    const int width = int(state.range(0));
    const int height = int(state.range(1));
    OpenGLVideoWidget widget;
    widget.resize(width / 2, height / 2);  // the view shows frames scaled down
    widget.show();
    if (!QTest::qWaitForWindowExposed(&widget)) {
        state.SkipWithError("no display (run under xvfb-run)");
        return;
    }
    widget.grabFramebuffer();
    widget.startDisplay();
    const VideoFrame frames[2] = {VideoFrame(grey(width, height, 60), 0, 0), VideoFrame(grey(width, height, 200), 0, 0)};
    int index = 0;
    for (auto _ : state) {
        widget.onFrame(frames[index ^= 1]);
        QApplication::processEvents();
        widget.makeCurrent();
        widget.context()->functions()->glFinish();
        widget.doneCurrent();
        if (widget.isDrawPending()) {
            state.SkipWithError("the frame was not painted");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());  // frames displayed
    state.SetBytesProcessed(state.iterations() * int64_t(I420Buffer::blockSize(width, height)));
}

void BM_UploadPlanes(benchmark::State &state)
{
    const int width = int(state.range(0));
    const int height = int(state.range(1));
    QOpenGLContext context;
    QOffscreenSurface surface;
    if (!context.create()) {
        state.SkipWithError("no GL context");
        return;
    }
    surface.setFormat(context.format());
    surface.create();
    context.makeCurrent(&surface);
    QOpenGLFunctions *gl = context.functions();
    auto buffer = grey(width, height, 90);
    const int chromaWidth = buffer->chromaWidth();
    const int chromaHeight = buffer->chromaHeight();
    GLuint textures[3];
    gl->glGenTextures(3, textures);
    const int widths[3] = {width, chromaWidth, chromaWidth};
    const int heights[3] = {height, chromaHeight, chromaHeight};
    const uint8_t *planes[3] = {buffer->dataY(), buffer->dataU(), buffer->dataV()};
    gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (int i = 0; i < 3; ++i) {
        gl->glBindTexture(GL_TEXTURE_2D, textures[i]);
        gl->glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, widths[i], heights[i], 0, GL_RED, GL_UNSIGNED_BYTE, nullptr);
    }
    for (auto _ : state) {
        for (int i = 0; i < 3; ++i) {
            gl->glBindTexture(GL_TEXTURE_2D, textures[i]);
            gl->glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, widths[i], heights[i], GL_RED, GL_UNSIGNED_BYTE, planes[i]);
        }
        gl->glFinish();
    }
    gl->glDeleteTextures(3, textures);
    context.doneCurrent();
    state.SetBytesProcessed(state.iterations() * int64_t(buffer->totalSize()));
}

void BM_MemcpyFrame(benchmark::State &state)
{
    const size_t bytes = size_t(I420Buffer::blockSize(int(state.range(0)), int(state.range(1))));
    std::vector<uint8_t> source(bytes, 7), target(bytes);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), bytes);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * int64_t(bytes));
}

}  // namespace

BENCHMARK(BM_DisplayFrame)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UploadPlanes)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MemcpyFrame)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
