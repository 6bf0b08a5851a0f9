// The live camera picture: I420 frames uploaded into three single-channel
// textures and converted to RGB by a fragment shader (BT.601, limited range).
// At most one frame waits for the screen; a faster camera loses the frames that
// arrive while one is pending, so latency never builds up.
#pragma once

#include "gl_shader_source.h"
#include "video_frame.h"

#include <QOpenGLBuffer>
#include <QOpenGLFunctions>
#include <QOpenGLVertexArrayObject>
#include <QOpenGLWidget>

#include <deque>
#include <mutex>

class QOpenGLShaderProgram;
class QOpenGLTexture;

class OpenGLVideoWidget : public QOpenGLWidget, protected QOpenGLFunctions
{
    Q_OBJECT
public:
    explicit OpenGLVideoWidget(QWidget *parent = nullptr);
    ~OpenGLVideoWidget() override;

    // Display on: frames are accepted; the framebuffer keeps its content
    // between paints so a repaint without a new frame costs nothing.
    void startDisplay();
    void stopDisplay();

    // GLSL version of the current context times 100; 0 without a current
    // context (not cached then). Probed once per process.
    static int GLSLVersion();

    // Read-only state, for the view and for tests.
    bool isInitialized() const;
    bool isRunning() const;
    bool isDrawPending() const;
    int textureWidth(int plane) const;   // 0 when the texture does not exist
    int textureHeight(int plane) const;

public slots:
    // Frame hand-over, GUI thread.
    void onFrame(const VideoFrame &frame);

protected:
    void initializeGL() override;
    void resizeGL(int width, int height) override;
    void paintGL() override;

private:
    bool buildProgram(const char *vertexBody, const char *fragmentBody);
    bool initResources();  // context must be current
    void recreateTextures();
    void releaseResources();
    void uploadPlane(int plane, const uint8_t *data, int stride, int width, int height);

    bool initialized = false;
    bool running = false;
    int32_t frameWidth = 0;
    int32_t frameHeight = 0;
    int32_t strideY = 0;
    int32_t strideU = 0;
    int32_t strideV = 0;
    std::deque<VideoFrame> frames;
    mutable std::mutex mutex;
    int32_t format = 0;  // 0 = I420, the only format shown
    bool drawPending = false;
    bool hasFrame = false;
    // A frame of a new size or format arrived; the textures and the program are
    // rebuilt by the next paint, where the context is current.
    bool resourcesStale = false;
    QOpenGLVertexArrayObject vertexArray;
    QOpenGLBuffer vertexBuffer{QOpenGLBuffer::VertexBuffer};
    QOpenGLBuffer indexBuffer{QOpenGLBuffer::IndexBuffer};
    int32_t positionLocation = 0;
    int32_t texCoordLocation = 1;
    QOpenGLTexture *textures[3] = {nullptr, nullptr, nullptr};
    QOpenGLShaderProgram *program = nullptr;
};
