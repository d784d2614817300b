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

// The secondary foreground: the text colour half-way to the background, as used for hints and
// descriptions, so it follows light and dark palettes.
QColor secondaryColor(const QPalette& palette);

// The named colours of the window: the Dry Run badge, the outcome icons and the row buttons.
QColor orange();
QColor green();
QColor blue();
QColor yellow();
QColor gray();
QColor red();

}  // namespace corvane::theme
