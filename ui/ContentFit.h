// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSize>

namespace corvane {

// How the window's content shares out the room it has, in device-independent pixels. Where there is
// room the content is laid out generously: 16 pixels of inset, 12 between the parts, the title row
// above the switches and a drop zone 120 pixels high. Where there is not, the parts above the list
// give way before the list does: first the drop zone shrinks down to one line of text, then the title
// row and the switches share one line (when the width allows), then the insets and gaps tighten; only
// then does the list go below its comfortable height, down to its minimum. Plain arithmetic over the
// parts' measured sizes, so that it is tested without a screen.

// The sizes the parts need, as the content view measures them. A part that is hidden counts 0.
struct ContentParts {
    int titleRow = 0;         // the title and the Dry Run badge
    int switchRow = 0;        // the two checkboxes
    int headerRowWidth = 0;   // the title, the badge and the checkboxes side by side
    int dropZoneMinimum = 0;  // the drop zone with one line of text
    int progress = 0;         // the progress bar with the status line and the counts
    int heading = 0;          // "Results"
    int listMinimum = 0;      // the results list at its smallest
    int actions = 0;          // the "Copy All Results" row
};

// How the content is laid out in the room it has.
struct ContentFit {
    static constexpr int roomyInset = 16;
    static constexpr int roomySpacing = 12;
    static constexpr int tightInset = 8;
    static constexpr int tightSpacing = 6;
    static constexpr int fullDropZone = 120;
    static constexpr int comfortableList = 200;

    int inset = roomyInset;
    int spacing = roomySpacing;
    bool headerInOneRow = false;
    int dropZoneHeight = fullDropZone;

    friend bool operator==(const ContentFit&, const ContentFit&) = default;
};

// The layout for content of `room` (the content view's size).
ContentFit fitContent(const ContentParts& parts, QSize room);

// The smallest height at `width` that holds every part at its smallest: tight insets and gaps, the
// smallest drop zone, the list at its minimum, and the title row beside the switches where the width
// allows it, above them where it does not.
int minimumContentHeight(const ContentParts& parts, int width);

// The content's height for a given layout, the list at `listHeight`.
int contentHeight(const ContentParts& parts, const ContentFit& fit, int listHeight);

// The size a new window opens at: its preferred 720 by 640, never more than the screen's free area
// (`available`, without its panels) holds once the window manager's frame is added.
QSize defaultWindowSize(QSize available);

}  // namespace corvane
