// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

namespace corvane::theme {

// Text styles relative to the body font, in the proportions of the classic desktop scale (body 13,
// title-2 17, headline 13 semibold, caption 10 — rounded up a little, since the caption must stay
// readable at the smaller body sizes common on Linux desktops).
QFont bodyFont(const QFont& base);
QFont title2Font(const QFont& base);
QFont headlineFont(const QFont& base);
QFont captionFont(const QFont& base);

// The smallest contrast ratios (WCAG 2 level AA) the window keeps against its background: for text,
// and for icons and other graphical marks.
inline constexpr double textContrast = 4.5;
inline constexpr double iconContrast = 3.0;

// The WCAG 2 contrast ratio of two opaque colours, from 1 (equal) to 21 (black on white).
double contrastRatio(const QColor& a, const QColor& b);

// `color` with its hue and saturation kept, darkened on a light background or lightened on a dark
// one just far enough to reach `ratio` against `background`; unchanged when it already does.
QColor readableOn(const QColor& color, const QColor& background, double ratio);

// The backgrounds the window draws on: the window itself and the results list.
QColor windowBackground(const QPalette& palette);
QColor listBackground(const QPalette& palette);

// The secondary foreground: the text colour part-way to the background, as used for hints and
// descriptions, so it follows light and dark palettes; never below the text contrast against the
// window or the list.
QColor secondaryColor(const QPalette& palette);

// The named colours of the window (the Dry Run badge, the outcome icons), as the system defines
// them. Drawn through accentOn(), which keeps their hue and brings them to the needed contrast.
QColor orange();
QColor green();
QColor blue();
QColor yellow();
QColor gray();
QColor red();

// A named colour as drawn on both backgrounds of `palette` with at least `ratio`.
QColor accentOn(const QColor& color, const QPalette& palette, double ratio);

}  // namespace corvane::theme
