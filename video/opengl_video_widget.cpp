#include "opengl_video_widget.h"

#include <QDebug>
#include <QOpenGLContext>
#include <QOpenGLShaderProgram>
#include <QOpenGLTexture>

namespace {

// x, y, z, u, v per corner; texture row 0 (the first picture row) at the top.
const GLfloat kQuadVertices[] = {
    -1.0f, -1.0f, 0.0f, 0.0f, 1.0f,
    1.0f, -1.0f, 0.0f, 1.0f, 1.0f,
    1.0f, 1.0f, 0.0f, 1.0f, 0.0f,
    -1.0f, 1.0f, 0.0f, 0.0f, 0.0f,
};
const GLuint kQuadIndices[] = {0, 1, 2, 0, 2, 3};
constexpr int kVertexStride = 5 * sizeof(GLfloat);  // 20 bytes

// One probe per process; -1 until a current context has been seen.
GlslVersion cachedGlsl;
int cachedGlslVersion = -1;

GlslVersion currentGlsl()
{
    if (cachedGlslVersion >= 0)
        return cachedGlsl;
    QOpenGLContext *context = QOpenGLContext::currentContext();
    if (!context) {
        qWarning("%s: current context is null", Q_FUNC_INFO);
        GlslVersion none;
        none.version = 0;
        return none;
    }
    const auto *text = reinterpret_cast<const char *>(context->functions()->glGetString(GL_SHADING_LANGUAGE_VERSION));
    GlslVersion glsl = parseGlslVersion(text);
    if (!glsl.parsed) {
        qWarning("Failed to detect glsl version using GL_SHADING_LANGUAGE_VERSION!");
        // The version string can only be missing on a broken driver; an ES
        // context still needs an ES preamble.
        glsl.es = context->isOpenGLES();
        if (glsl.es)
            glsl.version = 100;
    }
    cachedGlsl = glsl;
    cachedGlslVersion = glsl.version;
    qDebug("GLSL Version: %d", glsl.version);
    return glsl;
}

}  // namespace

OpenGLVideoWidget::OpenGLVideoWidget(QWidget *parent) : QOpenGLWidget(parent) {}

OpenGLVideoWidget::~OpenGLVideoWidget()
{
    // The context may be gone already (window destroyed first); then
    // releaseResources ran from aboutToBeDestroyed.
    if (context()) {
        // The base class destroys the context after this body has run; the
        // handler below must not reach this half-destroyed object then.
        disconnect(context(), nullptr, this, nullptr);
        makeCurrent();
        std::lock_guard<std::mutex> lock(mutex);
        releaseResources();
        frames.clear();
        doneCurrent();
    }
    std::lock_guard<std::mutex> lock(mutex);
    frames.clear();
}

int OpenGLVideoWidget::GLSLVersion()
{
    return currentGlsl().version;
}

bool OpenGLVideoWidget::isInitialized() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return initialized;
}

bool OpenGLVideoWidget::isRunning() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return running;
}

bool OpenGLVideoWidget::isDrawPending() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return drawPending;
}

int OpenGLVideoWidget::textureWidth(int plane) const
{
    std::lock_guard<std::mutex> lock(mutex);
    return plane >= 0 && plane < 3 && textures[plane] ? textures[plane]->width() : 0;
}

int OpenGLVideoWidget::textureHeight(int plane) const
{
    std::lock_guard<std::mutex> lock(mutex);
    return plane >= 0 && plane < 3 && textures[plane] ? textures[plane]->height() : 0;
}

void OpenGLVideoWidget::startDisplay()
{
    std::lock_guard<std::mutex> lock(mutex);
    setUpdateBehavior(QOpenGLWidget::PartialUpdate);
    hasFrame = false;
    running = true;
}

void OpenGLVideoWidget::stopDisplay()
{
    std::lock_guard<std::mutex> lock(mutex);
    setUpdateBehavior(QOpenGLWidget::NoPartialUpdate);
    running = false;
}

void OpenGLVideoWidget::initializeGL()
{
    std::lock_guard<std::mutex> lock(mutex);
    qDebug("InitializeGL");
    initializeOpenGLFunctions();
    qDebug("Vendor: %s\n Renderer: %s\n OpenGL Version: %s\n", reinterpret_cast<const char *>(glGetString(GL_VENDOR)),
           reinterpret_cast<const char *>(glGetString(GL_RENDERER)),
           reinterpret_cast<const char *>(glGetString(GL_VERSION)));
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    // A new context (first show, or the widget moved to another window) has
    // none of the old resources; release them with the context that owns them.
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this]() {
        makeCurrent();
        std::lock_guard<std::mutex> lock(mutex);
        releaseResources();
        doneCurrent();
    }, Qt::UniqueConnection);
    if (initResources())
        initialized = true;
    else
        qDebug("OpenGLWidget init failed");
}

void OpenGLVideoWidget::resizeGL(int width, int height)
{
    std::lock_guard<std::mutex> lock(mutex);
    glViewport(0, 0, width, height);
    drawPending = true;
}

void OpenGLVideoWidget::onFrame(const VideoFrame &frame)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!initialized || !running)
        return;
    if (drawPending || frame.type() != VideoFrameBuffer::I420)
        return;
    const int width = frame.width();
    const int height = frame.height();
    if (width <= 0 || height <= 0)
        return;
    if (width != frameWidth || height != frameHeight || format != 0) {
        frameWidth = width;
        frameHeight = height;
        format = 0;
        resourcesStale = true;
    }
    hasFrame = true;
    frames.push_back(frame);
    drawPending = true;
    update();
}

bool OpenGLVideoWidget::buildProgram(const char *vertexBody, const char *fragmentBody)
{
    if (!program) {
        program = new QOpenGLShaderProgram;
    } else if (program->isLinked()) {
        qWarning("Shader program is already linked");
        program->removeAllShaders();
        delete program;
        program = new QOpenGLShaderProgram;
    }
    program->removeAllShaders();
    const GlslVersion glsl = currentGlsl();
    program->addShaderFromSourceCode(QOpenGLShader::Vertex, shaderPreamble(ShaderKind::Vertex, glsl) + vertexBody);
    program->addShaderFromSourceCode(QOpenGLShader::Fragment,
                                     shaderPreamble(ShaderKind::Fragment, glsl) + fragmentBody);
    program->bindAttributeLocation("a_Position", positionLocation);
    program->bindAttributeLocation("a_TexCoords", texCoordLocation);
    if (!program->link()) {
        qDebug("Shader program compile failed");
        return false;
    }
    return true;
}

bool OpenGLVideoWidget::initResources()
{
    strideY = frameWidth;
    strideU = strideV = (frameWidth + 1) / 2;
    if (!buildProgram(kLiveViewVertexBody, kLiveViewI420FragmentBody))
        return false;

    // Without vertex array objects (plain GL 2.1) the attributes are set up
    // again before each draw instead.
    if (!vertexArray.isCreated())
        vertexArray.create();
    QOpenGLVertexArrayObject::Binder binder(&vertexArray);
    if (!vertexBuffer.isCreated()) {
        if (!vertexBuffer.create())
            return false;
        vertexBuffer.setUsagePattern(QOpenGLBuffer::StaticDraw);
        vertexBuffer.bind();
        vertexBuffer.allocate(kQuadVertices, sizeof(kQuadVertices));
    }
    if (!indexBuffer.isCreated()) {
        if (!indexBuffer.create())
            return false;
        indexBuffer.setUsagePattern(QOpenGLBuffer::StaticDraw);
        indexBuffer.bind();
        indexBuffer.allocate(kQuadIndices, sizeof(kQuadIndices));
    }
    vertexBuffer.bind();
    indexBuffer.bind();
    program->setAttributeBuffer(positionLocation, GL_FLOAT, 0, 3, kVertexStride);
    program->setAttributeBuffer(texCoordLocation, GL_FLOAT, 3 * sizeof(GLfloat), 2, kVertexStride);
    program->enableAttributeArray(positionLocation);
    program->enableAttributeArray(texCoordLocation);
    recreateTextures();
    return true;
}

void OpenGLVideoWidget::recreateTextures()
{
    qDebug("RecreateTextures");
    for (auto &texture : textures) {
        delete texture;
        texture = nullptr;
    }
    if (frameWidth <= 0 || frameHeight <= 0)
        return;  // built for a 0 x 0 frame: the first frame makes them
    const int widths[3] = {strideY, strideU, strideV};
    const int chromaHeight = (frameHeight + 1) / 2;
    const int heights[3] = {frameHeight, chromaHeight, chromaHeight};
    for (int plane = 0; plane < 3; ++plane) {
        auto *texture = new QOpenGLTexture(QOpenGLTexture::Target2D);
        texture->setFormat(QOpenGLTexture::R8_UNorm);
        texture->setSize(widths[plane], heights[plane]);
        // Only level 0 is ever sampled (linear filters), so no mipmap chain.
        texture->setMipLevels(1);
        texture->setMinificationFilter(QOpenGLTexture::Linear);
        texture->setMagnificationFilter(QOpenGLTexture::Linear);
        // Repeat would blend the opposite edge into the outermost pixels.
        texture->setWrapMode(QOpenGLTexture::ClampToEdge);
        texture->allocateStorage(QOpenGLTexture::Red, QOpenGLTexture::UInt8);
        textures[plane] = texture;
    }
}

void OpenGLVideoWidget::releaseResources()
{
    if (program) {
        program->removeAllShaders();
        delete program;
        program = nullptr;
    }
    for (auto &texture : textures) {
        delete texture;
        texture = nullptr;
    }
    if (indexBuffer.isCreated())
        indexBuffer.destroy();
    if (vertexBuffer.isCreated())
        vertexBuffer.destroy();
    if (vertexArray.isCreated())
        vertexArray.destroy();
    initialized = false;
    // The next context starts from a 0 x 0 build; the first frame sizes it.
    // A frame still waiting would otherwise be shown before every later one,
    // keeping the view a frame behind for good.
    frameWidth = frameHeight = 0;
    frames.clear();
    hasFrame = false;
    drawPending = false;
}

void OpenGLVideoWidget::uploadPlane(int plane, const uint8_t *data, int stride, int width, int height)
{
    QOpenGLTexture *texture = textures[plane];
    if (!texture || !data || texture->width() != width || texture->height() != height || stride < width)
        return;
    texture->bind(plane);
    if (stride == width) {
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, GL_RED, GL_UNSIGNED_BYTE, data);
    } else {
        // Padded rows: GL_UNPACK_ROW_LENGTH is missing on ES 2, so row by row.
        for (int row = 0; row < height; ++row)
            glTexSubImage2D(GL_TEXTURE_2D, 0, 0, row, width, 1, GL_RED, GL_UNSIGNED_BYTE,
                            data + size_t(row) * size_t(stride));
    }
}

void OpenGLVideoWidget::paintGL()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!drawPending)
        return;  // nothing new: the preserved framebuffer already shows it
    if (resourcesStale) {
        resourcesStale = false;
        if (!initResources()) {
            qDebug("Reinit failed!");
            frames.clear();
            hasFrame = false;
            drawPending = false;
            return;
        }
        qDebug() << "Stride Y: " << strideY << ", stride uv: " << strideU << ", width x height: " << frameWidth << "x"
                 << frameHeight << "format: " << format;
    }
    if (!initialized || !running || !hasFrame || !program || !program->isLinked() || !textures[0]) {
        drawPending = false;
        frames.clear();
        return;
    }
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);

    std::shared_ptr<I420BufferInterface> planes;
    if (!frames.empty()) {
        if (auto buffer = frames.front().buffer())
            planes = buffer->toI420();
    }
    program->bind();
    program->setUniformValue("u_Texture0", 0);
    program->setUniformValue("u_Texture1", 1);
    program->setUniformValue("u_Texture2", 2);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (planes && planes->width() == frameWidth && planes->height() == frameHeight) {
        const int chromaHeight = (frameHeight + 1) / 2;
        uploadPlane(0, planes->dataY(), planes->strideY(), strideY, frameHeight);
        uploadPlane(1, planes->dataU(), planes->strideU(), strideU, chromaHeight);
        uploadPlane(2, planes->dataV(), planes->strideV(), strideV, chromaHeight);
    }
    for (int plane = 0; plane < 3; ++plane)
        textures[plane]->bind(plane);
    glActiveTexture(GL_TEXTURE0);

    if (vertexArray.isCreated()) {
        vertexArray.bind();
    } else {
        vertexBuffer.bind();
        indexBuffer.bind();
        program->setAttributeBuffer(positionLocation, GL_FLOAT, 0, 3, kVertexStride);
        program->setAttributeBuffer(texCoordLocation, GL_FLOAT, 3 * sizeof(GLfloat), 2, kVertexStride);
        program->enableAttributeArray(positionLocation);
        program->enableAttributeArray(texCoordLocation);
    }
    glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_INT, nullptr);
    if (vertexArray.isCreated()) {
        vertexArray.release();
    } else {
        vertexBuffer.release();
        indexBuffer.release();
    }
    program->release();

    if (!frames.empty())
        frames.pop_front();
    drawPending = false;
}
