// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Theme.h"

#include <algorithm>
#include <cmath>

namespace corvane::theme {
namespace {

QFont scaled(const QFont& base, double factor) {
    QFont font = base;
    // Whole points: at some fractional sizes (7.6 pt of DejaVu Sans, a 9 pt body's caption) the hinted
    // glyph of "_" falls outside its cell and is not drawn at all.
    if (base.pointSizeF() > 0)
        font.setPointSizeF(std::max(7.0, std::round(base.pointSizeF() * factor)));
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

namespace {

double channel(double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); }

double luminance(const QColor& color) {
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) + 0.0722 * channel(color.blueF());
}

}  // namespace

double contrastRatio(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor readableOn(const QColor& color, const QColor& background, double ratio) {
    if (contrastRatio(color, background) >= ratio) return color;
    // Walk the lightness of the colour's HSL form away from the background's; hue and saturation stay.
    const bool darken = luminance(background) > 0.18;
    float h = 0, s = 0, l = 0, a = 0;
    color.getHslF(&h, &s, &l, &a);
    QColor adjusted = color;
    for (int step = 0; step < 100 && contrastRatio(adjusted, background) < ratio; ++step) {
        l = darken ? std::max(0.0f, l - 0.01f) : std::min(1.0f, l + 0.01f);
        adjusted = QColor::fromHslF(h, s, l, a);
    }
    return adjusted;
}

QColor windowBackground(const QPalette& palette) { return palette.color(QPalette::Active, QPalette::Window); }

QColor listBackground(const QPalette& palette) { return palette.color(QPalette::Active, QPalette::Base); }

QColor accentOn(const QColor& color, const QPalette& palette, double ratio) {
    // Reaching the ratio against the one background and then the other moves the colour only one way
    // when both are light or both dark, so the second pass keeps the first one's result.
    return readableOn(readableOn(color, windowBackground(palette), ratio), listBackground(palette), ratio);
}

QColor secondaryColor(const QPalette& palette) {
    const QColor text = palette.color(QPalette::Active, QPalette::WindowText);
    const QColor back = windowBackground(palette);
    constexpr double weight = 0.6;  // of the text colour
    auto mix = [](double a, double b) { return a * weight + b * (1 - weight); };
    const QColor mixed = QColor::fromRgbF(static_cast<float>(mix(text.redF(), back.redF())),
                                          static_cast<float>(mix(text.greenF(), back.greenF())),
                                          static_cast<float>(mix(text.blueF(), back.blueF())));
    return accentOn(mixed, palette, textContrast);
}

QColor orange() { return QColor(0xFF, 0x95, 0x00); }
QColor green() { return QColor(0x28, 0xCD, 0x41); }
QColor blue() { return QColor(0x00, 0x7A, 0xFF); }
QColor yellow() { return QColor(0xFF, 0xCC, 0x00); }
QColor gray() { return QColor(0x8E, 0x8E, 0x93); }
QColor red() { return QColor(0xFF, 0x3B, 0x30); }

}  // namespace corvane::theme
