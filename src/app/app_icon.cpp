#include "app/app_icon.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace lapquill {

namespace {

QImage PaintIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1f, 0x51, 0x30));
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 44, 44);

    QPainterPath loop;
    loop.moveTo(60, 180);
    loop.cubicTo(40, 120, 70, 60, 130, 58);
    loop.cubicTo(190, 56, 214, 96, 196, 128);
    loop.cubicTo(180, 156, 140, 140, 128, 164);
    loop.cubicTo(116, 190, 90, 206, 60, 180);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x3b, 0x3f, 0x45), 30, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(loop);
    p.setPen(QPen(QColor(0xff, 0x4a, 0x3d), 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(loop);

    QPainterPath inner;
    inner.moveTo(68, 172);
    inner.cubicTo(52, 122, 78, 72, 130, 70);
    inner.cubicTo(182, 68, 202, 100, 186, 124);
    p.setPen(QPen(QColor(0x45, 0xb5, 0xff), 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(inner);

    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(112, 42, 8, 32));
    return image;
}

}  // namespace

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(QPixmap::fromImage(PaintIcon(size)));
    return icon;
}

bool WriteAppIconPng(const QString& path, int size) { return PaintIcon(size).save(path, "PNG"); }

}  // namespace lapquill
