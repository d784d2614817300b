// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/OutcomeIcon.h"

#include "ui/Theme.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <cmath>
#include <variant>

namespace corvane {
namespace {

// Shapes are drawn on a 24 x 24 grid and scaled to the icon's size.
constexpr double grid = 24;

enum class Shape { checkFilled, info, questionFolder, noSign, questionCircle, phoneSlash, exclamationFilled, xOctagonFilled, check };

Shape shapeFor(size_t caseIndex) {
    using R = ProcessingResult;
    constexpr size_t updated = 0, withinTolerance = 1, fileNotFound = 2, unsupported = 3, skippedMissing = 4,
                     skippedNonApple = 5, skippedDifferentGPS = 6, failed = 7;
    static_assert(std::is_same_v<std::variant_alternative_t<updated, R>, outcome::Updated>);
    static_assert(std::is_same_v<std::variant_alternative_t<withinTolerance, R>, outcome::WithinTolerance>);
    static_assert(std::is_same_v<std::variant_alternative_t<fileNotFound, R>, outcome::FileNotFound>);
    static_assert(std::is_same_v<std::variant_alternative_t<unsupported, R>, outcome::UnsupportedFile>);
    static_assert(std::is_same_v<std::variant_alternative_t<skippedMissing, R>, outcome::SkippedMissing>);
    static_assert(std::is_same_v<std::variant_alternative_t<skippedNonApple, R>, outcome::SkippedNonApple>);
    static_assert(std::is_same_v<std::variant_alternative_t<skippedDifferentGPS, R>, outcome::SkippedDifferentGPS>);
    static_assert(std::is_same_v<std::variant_alternative_t<failed, R>, outcome::Failed>);
    static_assert(std::is_same_v<std::variant_alternative_t<8, R>, outcome::AlreadyCorrect>);
    switch (caseIndex) {
        case updated: return Shape::checkFilled;
        case withinTolerance: return Shape::info;
        case fileNotFound: return Shape::questionFolder;
        case unsupported: return Shape::noSign;
        case skippedMissing: return Shape::questionCircle;
        case skippedNonApple: return Shape::phoneSlash;
        case skippedDifferentGPS: return Shape::exclamationFilled;
        case failed: return Shape::xOctagonFilled;
        default: return Shape::check;
    }
}

QPen strokePen(const QColor& color, double width) {
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void drawCheck(QPainter& p, const QPen& pen) {
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({QPointF(7.3, 12.4), QPointF(10.6, 15.8), QPointF(16.9, 8.6)}));
}

// A bold question mark centred on `centre`, as a filled outline so that it scales with the icon.
void drawQuestionMark(QPainter& p, const QColor& color, QPointF centre, double height) {
    QFont font;
    font.setFamily(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(64);
    QPainterPath path;
    path.addText(0, 0, font, QStringLiteral("?"));
    const QRectF box = path.boundingRect();
    const double scale = height / box.height();
    QTransform transform;
    transform.translate(centre.x(), centre.y());
    transform.scale(scale, scale);
    transform.translate(-box.center().x(), -box.center().y());
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPath(transform.map(path));
}

const QPointF centre(12, 12);
constexpr double radius = 10;

// A pen that, after cutOut, clears what it strokes.
QPen cutPen(double width) { return strokePen(Qt::transparent, width); }
void cutOut(QPainter& p) { p.setCompositionMode(QPainter::CompositionMode_Clear); }

void outlineCircle(QPainter& p, const QColor& color, double width) {
    p.setPen(strokePen(color, width));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(centre, radius, radius);
}

// A filled disc; whatever is drawn after it is cut out of it.
void discToCutInto(QPainter& p, const QColor& color) {
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawEllipse(centre, radius + 1, radius + 1);
    cutOut(p);
}

void drawInfo(QPainter& p, const QColor& color) {
    outlineCircle(p, color, 1.9);
    p.setPen(strokePen(color, 2.4));
    p.drawLine(QPointF(12, 10.8), QPointF(12, 16.8));
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawEllipse(QPointF(12, 7.3), 1.5, 1.5);
}

void drawQuestionFolder(QPainter& p, const QColor& color) {
    QPainterPath folder;
    folder.moveTo(2.2, 19.8);
    folder.lineTo(2.2, 5.0);
    folder.lineTo(9.0, 5.0);
    folder.lineTo(11.2, 7.4);
    folder.lineTo(21.8, 7.4);
    folder.lineTo(21.8, 19.8);
    folder.closeSubpath();
    p.setPen(strokePen(color, 1.8));
    p.setBrush(Qt::NoBrush);
    p.drawPath(folder);
    drawQuestionMark(p, color, QPointF(12, 13.7), 8.5);
}

void drawNoSign(QPainter& p, const QColor& color) {
    outlineCircle(p, color, 2.0);
    p.drawLine(QPointF(12 - radius * M_SQRT1_2, 12 - radius * M_SQRT1_2),
               QPointF(12 + radius * M_SQRT1_2, 12 + radius * M_SQRT1_2));
}

void drawPhoneSlash(QPainter& p, const QColor& color) {
    p.setPen(strokePen(color, 2.1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(5.8, 2.0, 12.4, 20.0), 2.8, 2.8);
    p.drawLine(QPointF(10.3, 5.0), QPointF(13.7, 5.0));
    // The slash cuts through the phone with a gap on each side.
    cutOut(p);
    p.setPen(cutPen(5.0));
    p.drawLine(QPointF(3.2, 3.2), QPointF(20.8, 20.8));
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.setPen(strokePen(color, 2.1));
    p.drawLine(QPointF(3.2, 3.2), QPointF(20.8, 20.8));
}

void drawExclamationFilled(QPainter& p, const QColor& color) {
    discToCutInto(p, color);
    p.setPen(cutPen(2.7));
    p.drawLine(QPointF(12, 6.6), QPointF(12, 13.2));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);  // any opaque brush clears in this mode
    p.drawEllipse(QPointF(12, 17.1), 1.6, 1.6);
}

void drawXOctagonFilled(QPainter& p, const QColor& color) {
    QPolygonF octagon;
    for (int corner = 0; corner < 8; ++corner) {
        const double angle = M_PI / 8 + corner * M_PI / 4;
        octagon << QPointF(12 + 11.2 * std::cos(angle), 12 + 11.2 * std::sin(angle));
    }
    p.setPen(strokePen(color, 1.0));
    p.setBrush(color);
    p.drawPolygon(octagon);
    cutOut(p);
    p.setPen(cutPen(2.6));
    p.drawLine(QPointF(8.4, 8.4), QPointF(15.6, 15.6));
    p.drawLine(QPointF(15.6, 8.4), QPointF(8.4, 15.6));
}

void drawShape(QPainter& p, Shape shape, const QColor& color) {
    switch (shape) {
        case Shape::checkFilled:
            discToCutInto(p, color);
            drawCheck(p, cutPen(2.6));
            break;
        case Shape::check:
            outlineCircle(p, color, 1.9);
            drawCheck(p, strokePen(color, 2.2));
            break;
        case Shape::info: drawInfo(p, color); break;
        case Shape::questionCircle:
            outlineCircle(p, color, 1.9);
            drawQuestionMark(p, color, centre, 11);
            break;
        case Shape::questionFolder: drawQuestionFolder(p, color); break;
        case Shape::noSign: drawNoSign(p, color); break;
        case Shape::phoneSlash: drawPhoneSlash(p, color); break;
        case Shape::exclamationFilled: drawExclamationFilled(p, color); break;
        case Shape::xOctagonFilled: drawXOctagonFilled(p, color); break;
    }
}

}  // namespace

QColor outcomeColor(size_t caseIndex) {
    switch (shapeFor(caseIndex)) {
        case Shape::checkFilled:
        case Shape::check: return theme::green();
        case Shape::info: return theme::blue();
        case Shape::questionFolder:
        case Shape::questionCircle: return theme::yellow();
        case Shape::noSign:
        case Shape::phoneSlash: return theme::gray();
        case Shape::exclamationFilled: return theme::orange();
        case Shape::xOctagonFilled: return theme::red();
    }
    return theme::gray();
}

QColor outcomeColor(size_t caseIndex, const QPalette& palette) {
    return theme::accentOn(outcomeColor(caseIndex), palette, theme::iconContrast);
}

QImage outcomeIcon(size_t caseIndex, int side, qreal devicePixelRatio, const QPalette& palette) {
    static QHash<quint64, QImage> cache;  // UI thread only
    const QColor color = outcomeColor(caseIndex, palette);
    const quint64 key = (quint64(caseIndex & 0xF) << 60) | (quint64(color.rgb() & 0xFFFFFF) << 36) |
                        (quint64(side & 0xFFF) << 24) | quint64(std::lround(devicePixelRatio * 100) & 0xFFFFFF);
    if (auto found = cache.constFind(key); found != cache.constEnd()) return *found;

    const int pixels = std::max(1, static_cast<int>(std::ceil(side * devicePixelRatio)));
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(devicePixelRatio);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(side / grid, side / grid);
        drawShape(painter, shapeFor(caseIndex), color);
    }
    cache.insert(key, image);
    return image;
}

}  // namespace corvane
