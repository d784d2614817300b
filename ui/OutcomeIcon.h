// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/ResultModel.h"

#include <QColor>
#include <QImage>
#include <QPalette>

#include <cstddef>

namespace corvane {

// The icon of each outcome in the results list, drawn by the program: one shape per case, in the
// case's colour. The index is the outcome's alternative in ProcessingResult.
//
//   updated              check mark in a filled circle      green
//   withinTolerance      "i" in a circle                    blue
//   fileNotFound         "?" in a folder                    yellow
//   unsupportedFile      circle with a slash (no sign)      gray
//   skippedMissing       "?" in a circle                    yellow
//   skippedNonApple      phone with a slash                 gray
//   skippedDifferentGPS  "!" in a filled circle             orange
//   failed               "x" in a filled octagon            red
//   alreadyCorrect       check mark in a circle             green
QColor outcomeColor(size_t caseIndex);
// The case's colour as drawn in `palette`: same hue, at least the icon contrast against the window
// and the list backgrounds.
QColor outcomeColor(size_t caseIndex, const QPalette& palette);

// The icon as a transparent image of `side` device-independent pixels at the given pixel ratio, in
// the case's colour for `palette`. Images are cached; the marks inside filled shapes are cut out, so
// the row's background shows through them in light and dark palettes alike.
QImage outcomeIcon(size_t caseIndex, int side, qreal devicePixelRatio, const QPalette& palette);

}  // namespace corvane
