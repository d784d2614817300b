#include "ui/Theme.h"

#include <algorithm>

namespace corvane::theme {
namespace {

QFont scaled(const QFont& base, double factor) {
    QFont font = base;
    if (base.pointSizeF() > 0)
        font.setPointSizeF(std::max(7.0, base.pointSizeF() * factor));
    else
        font.setPixelSize(std::max(9, static_cast<int>(base.pixelSize() * factor + 0.5)));
    return font;
}

}  // namespace

QFont bodyFont(const QFont& base) { return base; }

QFont title2Font(const QFont& base) { return scaled(base, 17.0 / 13.0); }

QFont headlineFont(const QFont& base) {
    QFont font = base;
    font.setWeight(QFont::DemiBold);
    return font;
}

QFont captionFont(const QFont& base) { return scaled(base, 11.0 / 13.0); }

QColor secondaryColor(const QPalette& palette) {
    const QColor text = palette.color(QPalette::Active, QPalette::WindowText);
    const QColor back = palette.color(QPalette::Active, QPalette::Window);
    constexpr double weight = 0.6;  // of the text colour
    auto mix = [](double a, double b) { return a * weight + b * (1 - weight); };
    return QColor::fromRgbF(static_cast<float>(mix(text.redF(), back.redF())),
                            static_cast<float>(mix(text.greenF(), back.greenF())),
                            static_cast<float>(mix(text.blueF(), back.blueF())));
}

QColor orange() { return QColor(0xFF, 0x95, 0x00); }
QColor green() { return QColor(0x28, 0xCD, 0x41); }
QColor blue() { return QColor(0x00, 0x7A, 0xFF); }
QColor yellow() { return QColor(0xFF, 0xCC, 0x00); }
QColor gray() { return QColor(0x8E, 0x8E, 0x93); }
QColor red() { return QColor(0xFF, 0x3B, 0x30); }

}  // namespace corvane::theme
