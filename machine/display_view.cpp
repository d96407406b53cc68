#include "machine/display_view.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QPaintEvent>
#include <chrono>
#include <cmath>
#include <cstring>

#include "machine/machine.h"
#include "machine/palette.h"
#include "ui/pictures.h"

namespace vexalo {

namespace {

uint64_t SteadyMilliseconds() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

QRect ToQRect(const PictureRect& r) {
    return QRect(r.x, r.y, r.width, r.height);
}

}  // namespace

bool OpenGLAvailable() {
    const QString platform = QGuiApplication::platformName();
    for (const char* none : {"offscreen", "minimal", "vnc", "linuxfb"})
        if (platform == QLatin1String(none)) return false;
    QOpenGLContext context;
    if (!context.create()) return false;
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface)) return false;
    context.doneCurrent();
    return true;
}

void DisplaySurface::Present(Machine& m, bool showFrameRate) {
    if (!CanDraw()) return;
    if (m.ppu.paletteDirty) {
        const std::array<Rgb, 32> table = BuildColourTable(m.ppu.vram);
        for (int i = 0; i < 32; ++i) colours_[i] = qRgb(table[i].r, table[i].g, table[i].b);
        m.ppu.paletteDirty = false;
        coloursChanged_ = true;
    }
    std::memcpy(frame_.data(), m.frame.data(), frame_.size());
    frameChanged_ = true;
    if (showFrameRate) {
        if (!clock_) clock_ = SteadyMilliseconds;
        const double rate = meter_.Measure(clock_());
        frameRateText_ = QString::asprintf(Accelerated() ? "FPS: %3.2f" : "%3.2f FPS", rate);
    } else {
        frameRateText_.clear();
    }
    Repaint();
}

void DisplaySurface::SetFullScreenMode(std::optional<DisplayMode> mode) {
    fullScreen_ = mode;
    Repaint();
}

void DisplaySurface::StartSplash() {
    if (!Accelerated()) return;  // the plain drawing shows no splash
    splashStep_ = 0;
    splash_ = SplashPicture(0);
    Repaint();
}

void DisplaySurface::AdvanceSplash() {
    if (splashStep_ < 0) return;
    if (++splashStep_ >= kSplashSteps) {
        splashStep_ = -1;
        splash_ = QImage();
    } else {
        splash_ = SplashPicture(splashStep_ * 2);
    }
    Repaint();
}

QImage DisplaySurface::SplashPicture(int i) {
    QImage picture(256, 240, QImage::Format_RGB32);
    picture.fill(Qt::black);
    QPainter p(&picture);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QPixmap background = Picture(QStringLiteral("Sfondo"));
    p.drawPixmap(0, 0, background);
    const QPixmap logo = Picture(QStringLiteral("Logo"));
    // Turned by i/256 of a turn about its centre, fading from opacity 253 to 1 of 255.
    const int opacity = static_cast<int>(127 + 126 * std::cos(2 * M_PI * i / 256.0));
    p.translate(128, 120);
    p.rotate(360.0 * i / 256.0);
    p.setOpacity(opacity / 255.0);
    p.drawPixmap(-logo.width() / 2, -logo.height() / 2, logo);
    return picture;
}

void DisplaySurface::SetPixelAspect(PixelAspect aspect) {
    aspect_ = aspect;
    Repaint();
}

PictureRect DisplaySurface::PictureArea(int width, int height) const {
    if (fullScreen_) return FullScreenPictureRect(*fullScreen_, width, height);
    return ScaledPictureRect(width, height, aspect_);
}

QImage DisplaySurface::PictureImage() const {
    QImage image(frame_.data(), 256, 240, 256, QImage::Format_Indexed8);
    image.setColorTable(colours_);
    return image.convertToFormat(QImage::Format_RGB32);
}

void DisplaySurface::DrawFrameRate(QPainter& painter, const PictureRect& picture) const {
    if (frameRateText_.isEmpty()) return;
    painter.save();
    painter.translate(picture.x, picture.y);
    painter.scale(picture.width / 256.0, picture.height / 240.0);
    QFont font = painter.font();
    font.setPointSize(6);
    painter.setFont(font);
    const int h = QFontMetrics(font).height();
    painter.setPen(QColor(0xFF, 0xFF, 0xFF));
    painter.drawText(QRect(0, 241 - h, 256, h), Qt::AlignLeft | Qt::AlignTop, frameRateText_);
    painter.restore();
}

PainterView::PainterView(QWidget* parent)
    : QWidget(parent), image_(frame_.data(), 256, 240, 256, QImage::Format_Indexed8) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
}

void PainterView::paintEvent(QPaintEvent*) {
    if (coloursChanged_) {
        image_.setColorTable(colours_);
        coloursChanged_ = false;
    }
    frameChanged_ = false;
    QPainter painter(this);
    // Scaled by repeating pixels (nearest neighbour), never blurred.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.fillRect(rect(), Qt::black);
    const PictureRect picture = PictureArea(width(), height());
    painter.drawImage(ToQRect(picture), image_);
    DrawFrameRate(painter, picture);
}

}  // namespace vexalo
