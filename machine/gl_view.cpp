#include "machine/gl_view.h"

#include <QPainter>

namespace vexalo {

namespace {

constexpr const char* kVertexShader = R"(
attribute vec2 position;
varying vec2 where;
void main() {
    // The quad covers the viewport; picture row 0 at the top.
    where = vec2((position.x + 1.0) * 0.5, (1.0 - position.y) * 0.5);
    gl_Position = vec4(position, 0.0, 1.0);
}
)";

constexpr const char* kFragmentShader = R"(
#ifdef GL_ES
precision mediump float;
#endif
uniform sampler2D frame;
uniform sampler2D palette;
varying vec2 where;
void main() {
    float index = texture2D(frame, where).r * 255.0;
    gl_FragColor = texture2D(palette, vec2((index + 0.5) / 256.0, 0.5));
}
)";

const GLfloat kQuad[] = {-1, -1, 1, -1, -1, 1, 1, 1};

void NearestTexture(QOpenGLFunctions& gl) {
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

}  // namespace

GlView::GlView(QWidget* parent) : QOpenGLWidget(parent) {
    QSurfaceFormat format = QSurfaceFormat::defaultFormat();
    format.setSwapInterval(1);  // wait for the vertical retrace
    setFormat(format);
}

GlView::~GlView() {
    if (!ready_) return;
    makeCurrent();
    ReleaseGl();
    doneCurrent();
}

void GlView::ReleaseGl() {
    program_.reset();
    if (frameTexture_) glDeleteTextures(1, &frameTexture_);
    if (paletteTexture_) glDeleteTextures(1, &paletteTexture_);
    frameTexture_ = paletteTexture_ = 0;
    ready_ = false;
}

void GlView::Fail(const QString& why) {
    ReleaseGl();
    emit failed(why);
}

void GlView::initializeGL() {
    initializeOpenGLFunctions();
    program_ = std::make_unique<QOpenGLShaderProgram>();
    if (!program_->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader) ||
        !program_->addShaderFromSourceCode(QOpenGLShader::Fragment, kFragmentShader) ||
        !program_->link()) {
        Fail(program_->log());
        return;
    }
    positionAttribute_ = program_->attributeLocation("position");
    program_->bind();
    program_->setUniformValue("frame", 0);
    program_->setUniformValue("palette", 1);
    program_->release();
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glGenTextures(1, &frameTexture_);
    glBindTexture(GL_TEXTURE_2D, frameTexture_);
    NearestTexture(*this);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE, 256, 240, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE,
                 frame_.data());
    glGenTextures(1, &paletteTexture_);
    glBindTexture(GL_TEXTURE_2D, paletteTexture_);
    NearestTexture(*this);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 256, 1, 0, GL_BGRA, GL_UNSIGNED_BYTE, colours_.data());
    if (glGetError() != GL_NO_ERROR) {
        Fail(QStringLiteral("the picture textures could not be made"));
        return;
    }
    ready_ = true;
    frameChanged_ = coloursChanged_ = false;
}

void GlView::paintGL() {
    if (!ready_) return;
    const qreal ratio = devicePixelRatioF();
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    const PictureRect picture = PictureArea(width(), height());
    if (SplashActive()) {
        QPainter painter(this);
        painter.drawImage(QRect(picture.x, picture.y, picture.width, picture.height), splash_);
        return;
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, paletteTexture_);
    if (coloursChanged_) {
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 256, 1, GL_BGRA, GL_UNSIGNED_BYTE, colours_.data());
        coloursChanged_ = false;
    }
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, frameTexture_);
    if (frameChanged_) {
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 256, 240, GL_LUMINANCE, GL_UNSIGNED_BYTE,
                        frame_.data());
        frameChanged_ = false;
    }
    // The viewport is the picture's rectangle (in device pixels, from the bottom edge).
    glViewport(static_cast<GLint>(picture.x * ratio),
               static_cast<GLint>((height() - picture.y - picture.height) * ratio),
               static_cast<GLsizei>(picture.width * ratio),
               static_cast<GLsizei>(picture.height * ratio));
    program_->bind();
    program_->enableAttributeArray(positionAttribute_);
    program_->setAttributeArray(positionAttribute_, GL_FLOAT, kQuad, 2);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    program_->disableAttributeArray(positionAttribute_);
    program_->release();
    glViewport(0, 0, static_cast<GLsizei>(width() * ratio), static_cast<GLsizei>(height() * ratio));
    if (!FrameRateText().isEmpty()) {
        QPainter painter(this);
        DrawFrameRate(painter, picture);
    }
}

}  // namespace vexalo
