#include "ui/pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace vexalo {

namespace {

const QColor kAccent(255, 200, 40);
const QColor kDeep(20, 24, 60);

// A rounded cartridge with a V on its label: the program's mark.
void DrawEmblem(QPainter& p, const QRectF& box) {
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = box.width();
    QRectF body = box.adjusted(s * 0.08, s * 0.04, -s * 0.08, -s * 0.04);
    QLinearGradient shade(body.topLeft(), body.bottomRight());
    shade.setColorAt(0, QColor(90, 96, 120));
    shade.setColorAt(1, QColor(40, 44, 64));
    p.setPen(QPen(QColor(16, 16, 24), qMax<qreal>(1, s / 32)));
    p.setBrush(shade);
    p.drawRoundedRect(body, s * 0.1, s * 0.1);
    QRectF label = body.adjusted(s * 0.1, s * 0.12, -s * 0.1, -s * 0.3);
    p.setBrush(kAccent);
    p.drawRoundedRect(label, s * 0.05, s * 0.05);
    QPainterPath v;
    v.moveTo(label.left() + label.width() * 0.22, label.top() + label.height() * 0.18);
    v.lineTo(label.center().x(), label.bottom() - label.height() * 0.16);
    v.lineTo(label.right() - label.width() * 0.22, label.top() + label.height() * 0.18);
    p.setPen(QPen(kDeep, qMax<qreal>(1.5, s * 0.09), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(v);
    // The contacts at the bottom edge.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 170, 60));
    const qreal pitch = body.width() / 9;
    for (int i = 1; i < 8; ++i)
        p.drawRect(
            QRectF(body.left() + i * pitch, body.bottom() - s * 0.12, pitch * 0.5, s * 0.08));
}

QPixmap Blank(int w, int h) {
    QPixmap pixmap(w, h);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

QPixmap DrawSfondo() {
    QPixmap pixmap(256, 240);
    QPainter p(&pixmap);
    QLinearGradient sky(0, 0, 0, 240);
    sky.setColorAt(0, QColor(8, 10, 40));
    sky.setColorAt(1, QColor(70, 20, 90));
    p.fillRect(pixmap.rect(), sky);
    // A floor of perspective lines, as on an old title screen.
    p.setPen(QPen(QColor(255, 80, 200, 140), 1));
    for (int i = 0; i <= 16; ++i) p.drawLine(128, 150, i * 32 - 128, 240);
    for (int y = 150, step = 4; y < 240; y += step, step += 3) p.drawLine(0, y, 256, y);
    p.setPen(QColor(230, 230, 255));
    QFont font = p.font();
    font.setPixelSize(10);
    p.setFont(font);
    p.drawText(QRect(0, 214, 256, 20), Qt::AlignCenter, QStringLiteral("Vexalo Emulator"));
    return pixmap;
}

QPixmap DrawLogo() {
    QPixmap pixmap = Blank(96, 96);
    QPainter p(&pixmap);
    DrawEmblem(p, QRectF(0, 0, 96, 96));
    return pixmap;
}

// A 16 x 16 status icon: a monitor (picture) or a speaker (sound), crossed out when unavailable.
QPixmap DrawStatus(bool sound, bool available) {
    QPixmap pixmap = Blank(16, 16);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink = available ? QColor(60, 200, 90) : QColor(150, 150, 150);
    p.setPen(QPen(ink.darker(160), 1));
    p.setBrush(ink);
    if (sound) {
        QPolygonF speaker;
        speaker << QPointF(2, 6) << QPointF(5, 6) << QPointF(9, 2.5) << QPointF(9, 13.5)
                << QPointF(5, 10) << QPointF(2, 10);
        p.drawPolygon(speaker);
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(8, 5, 4, 6), -60 * 16, 120 * 16);
        p.drawArc(QRectF(8, 3, 7, 10), -60 * 16, 120 * 16);
    } else {
        p.drawRoundedRect(QRectF(1.5, 2.5, 13, 9), 1.5, 1.5);
        p.setBrush(QColor(20, 30, 60));
        p.drawRect(QRectF(3.5, 4.5, 9, 5));
        p.setBrush(ink);
        p.drawRect(QRectF(6, 12, 4, 2));
    }
    if (!available) {
        p.setPen(QPen(QColor(220, 40, 40), 2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(2.5, 13.5), QPointF(13.5, 2.5));
    }
    return pixmap;
}

QPixmap DrawAbout() {
    QPixmap pixmap(216, 144);
    QPainter p(&pixmap);
    p.drawPixmap(pixmap.rect(), DrawSfondo(), QRect(0, 40, 256, 171));
    DrawEmblem(p, QRectF(68, 12, 80, 80));
    return pixmap;
}

}  // namespace

QPixmap Emblem(int size) {
    QPixmap pixmap = Blank(size, size);
    QPainter p(&pixmap);
    DrawEmblem(p, QRectF(0, 0, size, size));
    return pixmap;
}

QPixmap Picture(const QString& name) {
    if (name == QLatin1String("Sfondo")) return DrawSfondo();
    if (name == QLatin1String("Logo")) return DrawLogo();
    if (name == QLatin1String("DirectX")) return DrawStatus(false, true);
    if (name == QLatin1String("NoDirectX")) return DrawStatus(false, false);
    if (name == QLatin1String("Audio")) return DrawStatus(true, true);
    if (name == QLatin1String("NoAudio")) return DrawStatus(true, false);
    if (name == QLatin1String("About")) return DrawAbout();
    if (name == QLatin1String("Emblem")) return Emblem(32);
    return {};
}

}  // namespace vexalo
