// The drawing surfaces of the desktop: the picture on an OpenGL surface (converted through the
// colour table on the graphics card) or, when OpenGL cannot be used, drawn with QPainter. Both
// sit behind one small interface, chosen once when the window is made.
#pragma once

#include <QImage>
#include <QPainter>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "machine/display_mode.h"
#include "machine/frame_pacer.h"
#include "machine/picture_scale.h"

namespace vexalo {

struct Machine;

// Whether an OpenGL surface can be made here. Decided without making any GL widget: Qt's
// offscreen, minimal, VNC and framebuffer platforms have none, and elsewhere a throwaway context
// must be created and made current on an offscreen surface.
bool OpenGLAvailable();

class DisplaySurface {
   public:
    static constexpr int kSplashSteps = 66;  // i = 0, 2, ..., 130

    virtual ~DisplaySurface() = default;
    virtual QWidget* widget() = 0;
    // True for the OpenGL surface.
    virtual bool Accelerated() const = 0;

    // Line 0 of a drawn frame: takes a copy of the finished picture, and the colour table when
    // the palette changed, measures the frame rate when it is shown, and schedules a repaint.
    // Does nothing while the surface cannot be drawn (the palette then stays pending).
    void Present(Machine& m, bool showFrameRate);

    // Full screen in the virtual display `mode`, or the window (nullopt).
    void SetFullScreenMode(std::optional<DisplayMode> mode);
    std::optional<DisplayMode> FullScreenMode() const { return fullScreen_; }

    // The opening animation: kSplashSteps pictures, one per call of AdvanceSplash. Only the
    // accelerated surface shows it.
    void StartSplash();
    bool SplashActive() const { return splashStep_ >= 0; }
    void AdvanceSplash();

    // The millisecond clock of the frame-rate measurement (steady_clock unless a test sets one).
    void SetClock(std::function<uint64_t()> milliseconds) { clock_ = std::move(milliseconds); }
    // The frame-rate text of the last measurement; empty when the rate is not shown.
    const QString& FrameRateText() const { return frameRateText_; }
    // The shape of the picture's pixels in the window (full screen keeps them square).
    void SetPixelAspect(PixelAspect aspect);
    PixelAspect Aspect() const { return aspect_; }
    // Where the picture goes in a surface of this size: in the window, centred at the largest
    // whole scale that fits; in full screen, as the virtual display mode places it.
    PictureRect PictureArea(int width, int height) const;
    // The last presented picture through its colour table (what the surface shows).
    QImage PictureImage() const;

   protected:
    virtual bool CanDraw() const { return true; }
    virtual void Repaint() = 0;
    // The splash picture of step i (0-130), 256 x 240.
    static QImage SplashPicture(int i);
    // The frame-rate text in white, 6 points, transparent, at the picture's left edge with its
    // top at row 241 minus the text's height, in picture coordinates scaled with the picture.
    void DrawFrameRate(QPainter& painter, const PictureRect& picture) const;

    std::array<uint8_t, 256 * 240> frame_{};
    QList<QRgb> colours_ = QList<QRgb>(256, qRgb(0, 0, 0));
    bool coloursChanged_ = true;
    bool frameChanged_ = true;
    int splashStep_ = -1;
    QImage splash_;
    std::optional<DisplayMode> fullScreen_;
    PixelAspect aspect_ = PixelAspect::Square;
    FrameRateMeter meter_;
    QString frameRateText_;
    std::function<uint64_t()> clock_;
};

// The fallback: the picture drawn with QPainter from one persistent indexed image.
class PainterView : public QWidget, public DisplaySurface {
    Q_OBJECT
   public:
    explicit PainterView(QWidget* parent = nullptr);
    QWidget* widget() override { return this; }
    bool Accelerated() const override { return false; }

   protected:
    void paintEvent(QPaintEvent* event) override;
    void Repaint() override { update(); }

   private:
    QImage image_;
};

}  // namespace vexalo
