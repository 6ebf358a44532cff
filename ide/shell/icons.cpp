#include "icons.h"

#include "commands.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>
#include <functional>
#include <numbers>

// The toolbar and menu images, drawn here on a 16-unit grid so they stay sharp
// at any scale and carry no third-party artwork.

namespace oxbrin {

namespace {

const QColor kInk(40, 40, 40);
const QColor kPaper(255, 255, 255);
const QColor kBlue(30, 90, 200);
const QColor kGreen(30, 140, 60);
const QColor kRed(200, 40, 40);
const QColor kYellow(240, 200, 60);
const QColor kGrey(150, 150, 150);

void Page(QPainter& p, QRectF r) {
    QPainterPath path;
    const qreal fold = 3;
    path.moveTo(r.left(), r.top());
    path.lineTo(r.right() - fold, r.top());
    path.lineTo(r.right(), r.top() + fold);
    path.lineTo(r.right(), r.bottom());
    path.lineTo(r.left(), r.bottom());
    path.closeSubpath();
    p.setBrush(kPaper);
    p.setPen(QPen(kInk, 1));
    p.drawPath(path);
    p.drawLine(QPointF(r.right() - fold, r.top()), QPointF(r.right() - fold, r.top() + fold));
    p.drawLine(QPointF(r.right() - fold, r.top() + fold), QPointF(r.right(), r.top() + fold));
}

void Lines(QPainter& p, QRectF r, int count) {
    p.setPen(QPen(kGrey, 1));
    for (int i = 0; i < count; ++i) {
        const qreal y = r.top() + 4 + i * 2.5;
        p.drawLine(QPointF(r.left() + 2, y), QPointF(r.right() - 2, y));
    }
}

void Floppy(QPainter& p, QRectF r) {
    p.setPen(QPen(kInk, 1));
    p.setBrush(kBlue);
    p.drawRect(r);
    p.setBrush(kPaper);
    p.drawRect(QRectF(r.left() + 2, r.top(), r.width() - 4, r.height() * 0.45));
    p.setBrush(kGrey);
    p.drawRect(QRectF(r.left() + 3, r.bottom() - r.height() * 0.35, r.width() - 6, r.height() * 0.35));
}

void Arrow(QPainter& p, QPointF from, QPointF to, const QColor& c) {
    p.setPen(QPen(c, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(from, to);
    QLineF l(to, from);
    QLineF a = l;
    a.setLength(3.5);
    a.setAngle(l.angle() + 35);
    QLineF b = l;
    b.setLength(3.5);
    b.setAngle(l.angle() - 35);
    p.drawLine(a);
    p.drawLine(b);
}

void CurvedArrow(QPainter& p, bool left) {
    QPainterPath path;
    p.setPen(QPen(kBlue, 1.8, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    if (left) {
        path.moveTo(12.5, 12);
        path.cubicTo(13.5, 5, 6, 3.5, 3.5, 7.5);
        p.drawPath(path);
        Arrow(p, QPointF(4.5, 6.5), QPointF(3.5, 7.5), kBlue);
        p.drawLine(QPointF(3.5, 7.5), QPointF(3, 3.5));
        p.drawLine(QPointF(3.5, 7.5), QPointF(7.5, 7.5));
    } else {
        path.moveTo(3.5, 12);
        path.cubicTo(2.5, 5, 10, 3.5, 12.5, 7.5);
        p.drawPath(path);
        p.drawLine(QPointF(12.5, 7.5), QPointF(13, 3.5));
        p.drawLine(QPointF(12.5, 7.5), QPointF(8.5, 7.5));
    }
}

// A closed outline of `points` tips at radius `r` around `c`, with corners
// at radius r * `inner` between them; the first tip at angle `start`.
QPainterPath Spikes(QPointF c, int points, qreal r, qreal inner, qreal start) {
    QPainterPath path;
    for (int i = 0; i < points * 2; ++i) {
        const qreal angle = start + i * std::numbers::pi / points;
        const qreal rr = (i % 2) ? r * inner : r;
        QPointF pt(c.x() + rr * std::cos(angle), c.y() + rr * std::sin(angle));
        if (i == 0)
            path.moveTo(pt);
        else
            path.lineTo(pt);
    }
    path.closeSubpath();
    return path;
}

void Gear(QPainter& p, QPointF c, qreal r, const QColor& fill) {
    const QPainterPath path = Spikes(c, 8, r, 0.72, 0);
    p.setPen(QPen(kInk, 0.8));
    p.setBrush(fill);
    p.drawPath(path);
    p.setBrush(kPaper);
    p.drawEllipse(c, r * 0.3, r * 0.3);
}

void Monitor(QPainter& p) {
    p.setPen(QPen(kInk, 1));
    p.setBrush(QColor(30, 30, 30));
    p.drawRoundedRect(QRectF(1.5, 2.5, 13, 9), 1, 1);
    p.setBrush(kGrey);
    p.drawRect(QRectF(5.5, 12, 5, 1.5));
    p.setPen(QPen(kGreen.lighter(160), 1.2));
    p.drawLine(QPointF(3.5, 5), QPointF(5.5, 7));
    p.drawLine(QPointF(5.5, 7), QPointF(3.5, 9));
    p.drawLine(QPointF(7, 9), QPointF(10, 9));
}

void Chip(QPainter& p, QRectF r) {
    p.setPen(QPen(kInk, 1));
    p.setBrush(QColor(70, 70, 70));
    p.drawRect(r);
    p.setPen(QPen(kInk, 1));
    for (qreal x = r.left() + 1.5; x < r.right(); x += 2.5) {
        p.drawLine(QPointF(x, r.top()), QPointF(x, r.top() - 1.5));
        p.drawLine(QPointF(x, r.bottom()), QPointF(x, r.bottom() + 1.5));
    }
}

void Star(QPainter& p, QPointF c, qreal r) {
    const QPainterPath path = Spikes(c, 5, r, 0.45, -std::numbers::pi / 2);
    p.setPen(QPen(kInk, 0.6));
    p.setBrush(kYellow);
    p.drawPath(path);
}

void PaneWindow(QPainter& p, bool bottom) {
    p.setPen(QPen(kInk, 1));
    p.setBrush(kPaper);
    p.drawRect(QRectF(1.5, 2.5, 13, 11));
    p.setBrush(kBlue);
    p.drawRect(QRectF(1.5, 2.5, 13, 2));
    p.setBrush(QColor(220, 230, 245));
    if (bottom)
        p.drawRect(QRectF(1.5, 9.5, 13, 4));
    else
        p.drawRect(QRectF(10.5, 4.5, 4, 9));
}

// The images of the File and Edit commands; false for any other id.
bool DrawFileOrEdit(int id, QPainter& p) {
    switch (id) {
    case ID_FILE_NEW:
        Page(p, QRectF(3.5, 1.5, 9, 13));
        Star(p, QPointF(12, 4), 3);
        break;
    case ID_FILE_OPEN:
        p.setPen(QPen(kInk, 1));
        p.setBrush(kYellow.darker(115));
        p.drawRect(QRectF(1.5, 4.5, 12, 9));
        p.setBrush(kYellow);
        p.drawPolygon(
            QPolygonF({QPointF(3.5, 7.5), QPointF(15, 7.5), QPointF(12.5, 13.5), QPointF(1.5, 13.5)}));
        Arrow(p, QPointF(9, 5.5), QPointF(12, 2), kGreen);
        break;
    case ID_FILE_SAVE: Floppy(p, QRectF(2.5, 2.5, 11, 11)); break;
    case ID_FILE_SAVE_ALL:
        Floppy(p, QRectF(4.5, 1.5, 10, 10));
        Floppy(p, QRectF(1.5, 4.5, 10, 10));
        break;
    case ID_FILE_PRINT:
        p.setPen(QPen(kInk, 1));
        p.setBrush(kPaper);
        p.drawRect(QRectF(4.5, 1.5, 7, 5));
        p.setBrush(kGrey);
        p.drawRoundedRect(QRectF(1.5, 6.5, 13, 5), 1, 1);
        p.setBrush(kPaper);
        p.drawRect(QRectF(4.5, 9.5, 7, 5));
        p.setPen(QPen(kGreen, 1));
        p.drawPoint(QPointF(12.5, 8));
        break;
    case ID_EDIT_CUT:
        p.setPen(QPen(kInk, 1.2));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(4.5, 12), 2.2, 2.2);
        p.drawEllipse(QPointF(11.5, 12), 2.2, 2.2);
        p.setPen(QPen(kGrey.darker(130), 1.4));
        p.drawLine(QPointF(6, 10.5), QPointF(11, 2));
        p.drawLine(QPointF(10, 10.5), QPointF(5, 2));
        break;
    case ID_EDIT_COPY:
        Page(p, QRectF(1.5, 1.5, 8, 10));
        Page(p, QRectF(6.5, 4.5, 8, 10));
        Lines(p, QRectF(6.5, 4.5, 8, 10), 3);
        break;
    case ID_EDIT_PASTE:
        p.setPen(QPen(kInk, 1));
        p.setBrush(QColor(180, 130, 70));
        p.drawRoundedRect(QRectF(1.5, 2.5, 10, 12), 1, 1);
        p.setBrush(kGrey);
        p.drawRect(QRectF(4, 1.5, 5, 2.5));
        Page(p, QRectF(7.5, 6.5, 7, 8.5));
        break;
    case ID_EDIT_UNDO: CurvedArrow(p, true); break;
    case ID_EDIT_REDO: CurvedArrow(p, false); break;
    case ID_EDIT_FIND:
        p.setPen(QPen(kInk, 1.4));
        p.setBrush(QColor(200, 225, 250));
        p.drawEllipse(QPointF(6.5, 6.5), 4.5, 4.5);
        p.setPen(QPen(kInk, 2.4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(10, 10), QPointF(14, 14));
        break;
    case ID_EDIT_GOTO:
        Page(p, QRectF(2.5, 1.5, 10, 13));
        Lines(p, QRectF(2.5, 1.5, 10, 13), 4);
        Arrow(p, QPointF(15, 9), QPointF(9, 9), kRed);
        break;
    default: return false;
    }
    return true;
}

// The images of the Build and Terminal commands and the options; false for any other id.
bool DrawBuildOrTerminal(int id, QPainter& p) {
    switch (id) {
    case ID_BUILD_CURRENT:
        Page(p, QRectF(1.5, 1.5, 9, 12));
        Gear(p, QPointF(11, 11), 4.5, kYellow);
        break;
    case ID_BUILD_PROJECT:
        Gear(p, QPointF(5.5, 5.5), 4.5, kGrey);
        Gear(p, QPointF(11, 11), 4.5, kYellow);
        break;
    case ID_BUILD_OPTIONS:
    case ID_VIEW_OPTIONS:
    case ID_TERMINAL_OPTIONS: Gear(p, QPointF(8, 8), 6.5, kGrey); break;
    case ID_TERMINAL_CONNECT:
        p.setPen(QPen(kInk, 1));
        p.setBrush(kGrey);
        p.drawRect(QRectF(1.5, 5.5, 5, 5));
        p.drawRect(QRectF(9.5, 5.5, 5, 5));
        p.setPen(QPen(kInk, 1.2));
        p.drawLine(QPointF(6.5, 7), QPointF(9.5, 7));
        p.drawLine(QPointF(6.5, 9), QPointF(9.5, 9));
        p.setPen(QPen(kGreen, 1.4));
        p.drawLine(QPointF(0, 8), QPointF(1.5, 8));
        p.drawLine(QPointF(14.5, 8), QPointF(16, 8));
        break;
    case ID_TERMINAL_DOWNLOAD:
        Chip(p, QRectF(3.5, 10, 9, 4));
        Arrow(p, QPointF(8, 1), QPointF(8, 8.5), kGreen);
        break;
    case ID_TERMINAL_DOWNLOAD_EEPROM:
        Chip(p, QRectF(3.5, 10, 9, 4));
        Arrow(p, QPointF(6, 1), QPointF(6, 8.5), kGreen);
        Star(p, QPointF(12, 4.5), 3.5);
        break;
    case ID_TERMINAL_STOP:
        p.setPen(QPen(kRed.darker(140), 1));
        p.setBrush(kRed);
        p.drawRoundedRect(QRectF(3, 3, 10, 10), 1.5, 1.5);
        break;
    case ID_TERMINAL_CLEAR:
        Monitor(p);
        p.setPen(QPen(kRed, 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(9, 8), QPointF(15, 14));
        p.drawLine(QPointF(15, 8), QPointF(9, 14));
        break;
    default: return false;
    }
    return true;
}

// The images of the panes, Help and Window commands; false for any other id.
bool DrawViewHelpOrWindow(int id, QPainter& p) {
    switch (id) {
    case ID_VIEW_TERMINAL: Monitor(p); break;
    case ID_VIEW_OUTPUT: PaneWindow(p, true); break;
    case ID_VIEW_VARNEL: PaneWindow(p, false); break;
    case ID_HELP_FINDER:
    case ID_CONTEXT_HELP:
        p.setPen(QPen(kBlue.darker(130), 1));
        p.setBrush(kBlue);
        p.drawEllipse(QPointF(8, 8), 6.5, 6.5);
        p.setPen(QPen(kPaper, 1.8, Qt::SolidLine, Qt::RoundCap));
        {
            QPainterPath q;
            q.moveTo(5.8, 6.2);
            q.cubicTo(5.8, 3.2, 10.5, 3.2, 10.3, 6.2);
            q.cubicTo(10.1, 7.8, 8, 7.8, 8, 9.8);
            p.setBrush(Qt::NoBrush);
            p.drawPath(q);
            p.drawPoint(QPointF(8, 12));
        }
        break;
    case ID_APP_ABOUT:
        p.setPen(QPen(kBlue.darker(130), 1));
        p.setBrush(kBlue);
        p.drawEllipse(QPointF(8, 8), 6.5, 6.5);
        p.setPen(QPen(kPaper, 2, Qt::SolidLine, Qt::RoundCap));
        p.drawPoint(QPointF(8, 4.8));
        p.drawLine(QPointF(8, 7.5), QPointF(8, 11.5));
        break;
    case ID_WINDOW_CASCADE:
        for (int i = 0; i < 3; ++i) {
            p.setPen(QPen(kInk, 1));
            p.setBrush(kPaper);
            p.drawRect(QRectF(1.5 + i * 2.5, 1.5 + i * 2.5, 8, 7));
            p.setBrush(kBlue);
            p.drawRect(QRectF(1.5 + i * 2.5, 1.5 + i * 2.5, 8, 1.5));
        }
        break;
    default: return false;
    }
    return true;
}

// The images of the Debug commands; false for any other id.
bool DrawDebug(int id, QPainter& p) {
    auto play = [&p](qreal left, qreal right) {
        QPainterPath tri;
        tri.moveTo(left, 2.5);
        tri.lineTo(right, 8);
        tri.lineTo(left, 13.5);
        tri.closeSubpath();
        p.setPen(QPen(kGreen.darker(140), 1));
        p.setBrush(kGreen);
        p.drawPath(tri);
    };
    // The line the program is on: a dot.
    auto dot = [&p](QPointF at) {
        p.setPen(Qt::NoPen);
        p.setBrush(kInk);
        p.drawEllipse(at, 1.6, 1.6);
    };
    switch (id) {
    case ID_DEBUG_START: play(3.5, 13.5); break;
    case ID_DEBUG_PAUSE:
        p.setPen(QPen(kBlue.darker(140), 1));
        p.setBrush(kBlue);
        p.drawRect(QRectF(3.5, 2.5, 3, 11));
        p.drawRect(QRectF(9.5, 2.5, 3, 11));
        break;
    case ID_DEBUG_STOP:
        p.setPen(QPen(kRed.darker(140), 1));
        p.setBrush(kRed);
        p.drawRect(QRectF(3, 3, 10, 10));
        break;
    case ID_DEBUG_STEP_INTO:
        Arrow(p, QPointF(8, 1), QPointF(8, 10), kBlue);
        dot(QPointF(8, 14));
        break;
    case ID_DEBUG_STEP_OVER: {
        QPainterPath arc;
        arc.moveTo(2.5, 10);
        arc.cubicTo(2.5, 2, 13.5, 2, 13.5, 9);
        p.setPen(QPen(kBlue, 1.6, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawPath(arc);
        Arrow(p, QPointF(13.5, 6), QPointF(13.5, 10), kBlue);
        dot(QPointF(8, 13.5));
        break;
    }
    case ID_DEBUG_STEP_OUT:
        Arrow(p, QPointF(8, 11), QPointF(8, 1.5), kBlue);
        dot(QPointF(8, 14));
        break;
    case ID_DEBUG_RUN_TO_CURSOR:
        play(1.5, 10);
        p.setPen(QPen(kInk, 1.6));
        p.drawLine(QPointF(13.5, 2), QPointF(13.5, 14));
        break;
    case ID_DEBUG_TOGGLE_BREAKPOINT:
        p.setPen(QPen(kRed.darker(140), 1));
        p.setBrush(kRed);
        p.drawEllipse(QPointF(8, 8), 5.5, 5.5);
        break;
    default: return false;
    }
    return true;
}

void Draw(int id, QPainter& p) {
    if (!DrawFileOrEdit(id, p) && !DrawBuildOrTerminal(id, p) && !DrawDebug(id, p))
        DrawViewHelpOrWindow(id, p);
}

// Pseudo ids of the two images that are no command's.
constexpr int kAppImage = -1;
constexpr int kDocumentImage = -2;

void DrawSpecial(int id, QPainter& p) {
    if (id == kDocumentImage) {
        Page(p, QRectF(3.5, 1.5, 9, 13));
        Lines(p, QRectF(3.5, 1.5, 9, 13), 4);
        return;
    }
    // The program: a microcontroller with a source page on it.
    Chip(p, QRectF(1.5, 5.5, 13, 8));
    Page(p, QRectF(5.5, 0.5, 7, 9));
    p.setPen(QPen(kBlue, 1));
    p.drawLine(QPointF(7, 3.5), QPointF(11, 3.5));
    p.setPen(QPen(kGreen, 1));
    p.drawLine(QPointF(7, 5.5), QPointF(10, 5.5));
}

QPixmap Render(int id, int px) {
    QPixmap pm(px, px);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(px / 16.0, px / 16.0);
    if (id < 0)
        DrawSpecial(id, p);
    else
        Draw(id, p);
    return pm;
}

QIcon Build(int id) {
    QIcon icon;
    for (int px : {16, 24, 32, 48, 64}) icon.addPixmap(Render(id, px));
    return icon;
}

} // namespace

bool HasCommandIcon(int id) {
    switch (id) {
    case ID_FILE_NEW:
    case ID_FILE_OPEN:
    case ID_FILE_SAVE:
    case ID_FILE_SAVE_ALL:
    case ID_FILE_PRINT:
    case ID_EDIT_CUT:
    case ID_EDIT_COPY:
    case ID_EDIT_PASTE:
    case ID_EDIT_UNDO:
    case ID_EDIT_REDO:
    case ID_EDIT_FIND:
    case ID_EDIT_GOTO:
    case ID_BUILD_CURRENT:
    case ID_BUILD_PROJECT:
    case ID_BUILD_OPTIONS:
    case ID_VIEW_OPTIONS:
    case ID_TERMINAL_OPTIONS:
    case ID_TERMINAL_CONNECT:
    case ID_TERMINAL_DOWNLOAD:
    case ID_TERMINAL_DOWNLOAD_EEPROM:
    case ID_TERMINAL_STOP:
    case ID_TERMINAL_CLEAR:
    case ID_VIEW_TERMINAL:
    case ID_VIEW_OUTPUT:
    case ID_VIEW_VARNEL:
    case ID_HELP_FINDER:
    case ID_CONTEXT_HELP:
    case ID_APP_ABOUT:
    case ID_WINDOW_CASCADE:
    case ID_DEBUG_START:
    case ID_DEBUG_PAUSE:
    case ID_DEBUG_STOP:
    case ID_DEBUG_STEP_INTO:
    case ID_DEBUG_STEP_OVER:
    case ID_DEBUG_STEP_OUT:
    case ID_DEBUG_RUN_TO_CURSOR:
    case ID_DEBUG_TOGGLE_BREAKPOINT: return true;
    default: return false;
    }
}

QIcon CommandIcon(int id) {
    if (!HasCommandIcon(id)) return {};
    return Build(id);
}

QIcon AppIcon() { return Build(kAppImage); }

QIcon DocumentIcon() { return Build(kDocumentImage); }

} // namespace oxbrin
