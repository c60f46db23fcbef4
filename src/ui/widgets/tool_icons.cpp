#include "ui/widgets/tool_icons.h"

#include <QPainter>
#include <QPalette>
#include <QPainterPath>
#include <QPixmap>
#include <functional>

namespace toka {

namespace {

// The outline of every picture: dark on a light palette, light on a dark
// one, so that the pictures stay visible in either.
QColor s_outline(40, 40, 40);
const QColor kFolder(240, 200, 60);
const QColor kFolderDark(190, 140, 20);
const QColor kPaper(255, 255, 255);
const QColor kMetal(170, 170, 180);

// Each picture at 1, 2 and 3 times its 16 x 16 size, drawn anew at each, so
// that it is crisp on screens scaled by 2 or 3.
QIcon drawIcon(const std::function<void(QPainter&)>& paint) {
    QIcon icon;
    for (const int scale : {1, 2, 3}) {
        QPixmap pixmap(16 * scale, 16 * scale);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        paint(p);
        p.end();
        icon.addPixmap(pixmap, QIcon::Normal); // QIcon::Disabled is generated greyed by the style
    }
    return icon;
}

bool isDark(const QPalette& palette) { return palette.color(QPalette::Window).lightness() < 128; }

void useOutlineFor(const QPalette& palette) {
    s_outline = isDark(palette) ? QColor(215, 215, 215) : QColor(40, 40, 40);
}

void folder(QPainter& p, QRect r, bool open) {
    p.setPen(s_outline);
    p.setBrush(kFolderDark);
    p.drawRect(r.left(), r.top(), r.width() / 2, 2); // the tab
    p.drawRect(r.adjusted(0, 2, 0, 0));
    p.setBrush(kFolder);
    if (open) {
        const QPoint flap[] = {{r.left() + 3, r.top() + 5},
                               {r.right() + 1, r.top() + 5},
                               {r.right() - 2, r.bottom()},
                               {r.left(), r.bottom()}};
        p.drawPolygon(flap, 4);
    } else {
        p.drawRect(r.adjusted(0, 4, 0, 0));
    }
}

void document(QPainter& p, QRect r) {
    p.setPen(s_outline);
    p.setBrush(kPaper);
    p.drawRect(r);
    p.setPen(QColor(120, 120, 140));
    for (int y = r.top() + 2; y < r.bottom() - 1; y += 2) p.drawLine(r.left() + 2, y, r.right() - 2, y);
}

void binoculars(QPainter& p, int x, int y) {
    p.setPen(s_outline);
    p.setBrush(QColor(30, 30, 60));
    p.drawRect(x, y, 3, 6);
    p.drawRect(x + 5, y, 3, 6);
    p.drawRect(x + 3, y + 1, 2, 2);
    p.setBrush(QColor(120, 180, 255));
    p.drawEllipse(x, y + 5, 3, 3);
    p.drawEllipse(x + 5, y + 5, 3, 3);
}

void diskDrive(QPainter& p, QRect r) {
    p.setPen(s_outline);
    p.setBrush(kMetal);
    p.drawRect(r);
    p.setPen(QColor(80, 80, 90));
    p.drawLine(r.left() + 2, r.center().y(), r.right() - 5, r.center().y());
    p.setPen(QColor(0, 200, 0));
    p.drawPoint(r.right() - 2, r.center().y());
}

} // namespace

QIcon toolIcon(ToolPicture picture, const QPalette& palette) {
    useOutlineFor(palette);
    switch (picture) {
    case ToolPicture::SearchDirectory:
        return drawIcon([](QPainter& p) {
            folder(p, QRect(0, 6, 13, 9), false);
            binoculars(p, 6, 0);
        });
    case ToolPicture::SearchDisks:
        return drawIcon([](QPainter& p) {
            diskDrive(p, QRect(0, 9, 15, 6));
            binoculars(p, 6, 0);
        });
    case ToolPicture::Stop:
        return drawIcon([](QPainter& p) {
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(QPen(QColor(210, 0, 0), 2.4));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
            p.drawLine(QPointF(3.8, 3.8), QPointF(12.2, 12.2));
        });
    case ToolPicture::RecurseDirs:
        return drawIcon([](QPainter& p) {
            folder(p, QRect(0, 0, 7, 5), false);
            p.setPen(s_outline);
            p.drawLine(2, 6, 2, 13);
            p.drawLine(2, 8, 6, 8);
            p.drawLine(2, 13, 6, 13);
            folder(p, QRect(7, 5, 7, 5), false);
            folder(p, QRect(7, 10, 7, 5), false);
        });
    case ToolPicture::Copy:
        return drawIcon([](QPainter& p) {
            document(p, QRect(1, 1, 8, 10));
            document(p, QRect(6, 5, 8, 10));
        });
    case ToolPicture::Move:
        return drawIcon([](QPainter& p) {
            folder(p, QRect(0, 6, 15, 9), false);
            document(p, QRect(4, 0, 7, 9));
        });
    case ToolPicture::Delete:
        return drawIcon([](QPainter& p) {
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(QPen(s_outline, 3, Qt::SolidLine, Qt::FlatCap));
            p.drawLine(QPointF(3, 3), QPointF(13, 13));
            p.drawLine(QPointF(13, 3), QPointF(3, 13));
        });
    case ToolPicture::Invert:
        return drawIcon([](QPainter& p) {
            p.setPen(s_outline);
            for (int i = 0; i < 4; ++i) {
                const bool markedLeft = i % 2 == 0;
                p.setBrush(markedLeft ? QColor(0, 0, 160) : kPaper);
                p.drawRect(0, 1 + i * 4, 4, 2);
                p.setBrush(markedLeft ? kPaper : QColor(0, 0, 160));
                p.drawRect(11, 1 + i * 4, 4, 2);
            }
            p.setPen(QColor(200, 0, 0));
            p.drawLine(5, 8, 9, 8);
            p.drawLine(8, 6, 9, 8);
            p.drawLine(8, 10, 9, 8);
        });
    case ToolPicture::FileViewer:
        return drawIcon([](QPainter& p) {
            document(p, QRect(0, 0, 10, 13));
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(QPen(s_outline, 1.5));
            p.setBrush(QColor(190, 230, 255, 200));
            p.drawEllipse(QRectF(5.5, 4.5, 7, 7));
            p.setPen(QPen(QColor(100, 60, 20), 2.5, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(11.5, 10.5), QPointF(14.5, 14.5));
        });
    }
    return {};
}

QList<QIcon> explorerImages(const QPalette& palette) {
    useOutlineFor(palette);
    QList<QIcon> images;
    images << drawIcon([](QPainter& p) { folder(p, QRect(0, 2, 15, 12), false); });
    images << drawIcon([](QPainter& p) { diskDrive(p, QRect(0, 5, 15, 7)); });
    images << drawIcon([](QPainter& p) {
        diskDrive(p, QRect(0, 8, 15, 6));
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(s_outline);
        p.setBrush(QColor(220, 220, 240));
        p.drawEllipse(QRectF(3, 0.5, 9, 9));
        p.drawEllipse(QRectF(6.5, 4, 2, 2));
    });
    images << drawIcon([](QPainter& p) {
        diskDrive(p, QRect(0, 2, 15, 6));
        p.setPen(s_outline);
        p.drawLine(7, 9, 7, 12);
        p.drawLine(1, 13, 14, 13);
        p.setBrush(QColor(60, 120, 200));
        p.drawRect(5, 11, 4, 3);
    });
    images << drawIcon([](QPainter& p) {
        p.setPen(s_outline);
        p.setBrush(QColor(50, 50, 60));
        p.drawRect(1, 1, 13, 13);
        p.setBrush(kPaper);
        p.drawRect(4, 8, 7, 6);
        p.setBrush(kMetal);
        p.drawRect(4, 1, 7, 4);
    });
    images << drawIcon([](QPainter& p) { folder(p, QRect(0, 2, 15, 12), true); });
    return images;
}

} // namespace toka
