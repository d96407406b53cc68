// The accelerated drawing surface: the 8-bit picture and its colour table go to the graphics card
// as two textures, and a small shader looks every pixel up in the table. Presented with the
// display's vertical sync.
#pragma once

#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLWidget>
#include <memory>

#include "machine/display_view.h"

namespace vexalo {

class GlView : public QOpenGLWidget, protected QOpenGLFunctions, public DisplaySurface {
    Q_OBJECT
   public:
    explicit GlView(QWidget* parent = nullptr);
    ~GlView() override;
    QWidget* widget() override { return this; }
    bool Accelerated() const override { return true; }

   signals:
    // The surface could not set itself up (no shader, no textures); the window falls back to
    // plain drawing.
    void failed(const QString& why);

   protected:
    void initializeGL() override;
    void paintGL() override;
    bool CanDraw() const override { return isVisible(); }
    void Repaint() override { update(); }

   private:
    void Fail(const QString& why);
    void ReleaseGl();

    std::unique_ptr<QOpenGLShaderProgram> program_;
    GLuint frameTexture_ = 0;
    GLuint paletteTexture_ = 0;
    int positionAttribute_ = -1;
    bool ready_ = false;
};

}  // namespace vexalo
