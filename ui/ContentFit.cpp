// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ContentFit.h"

#include <algorithm>

namespace corvane {
namespace {

int headerHeight(const ContentParts& parts, const ContentFit& fit) {
    return fit.headerInOneRow ? std::max(parts.titleRow, parts.switchRow) : parts.titleRow + fit.spacing + parts.switchRow;
}

bool headerFitsOneRow(const ContentParts& parts, int width, int inset) { return parts.headerRowWidth <= width - 2 * inset; }

}  // namespace

int contentHeight(const ContentParts& parts, const ContentFit& fit, int listHeight) {
    int height = 2 * fit.inset + headerHeight(parts, fit) + fit.spacing + fit.dropZoneHeight;
    if (parts.progress > 0) height += fit.spacing + parts.progress;
    if (parts.heading > 0) height += fit.spacing + parts.heading;
    if (parts.listMinimum > 0) height += fit.spacing + listHeight;
    return height + fit.spacing + parts.actions;
}

ContentFit fitContent(const ContentParts& parts, QSize room) {
    const int list = parts.listMinimum > 0 ? std::max(ContentFit::comfortableList, parts.listMinimum) : 0;
    ContentFit fit;
    fit.dropZoneHeight = parts.dropZoneMinimum;
    // The height left over with the drop zone at its smallest; with no list, the drop zone takes it back.
    auto spare = [&] { return room.height() - contentHeight(parts, fit, list); };
    auto settle = [&] {
        if (spare() >= 0 || parts.listMinimum == 0)
            fit.dropZoneHeight = std::clamp(parts.dropZoneMinimum + spare(), parts.dropZoneMinimum, ContentFit::fullDropZone);
        return fit;
    };
    if (spare() >= 0) return settle();
    fit.headerInOneRow = headerFitsOneRow(parts, room.width(), fit.inset);
    if (spare() >= 0) return settle();
    fit.inset = ContentFit::tightInset;
    fit.spacing = ContentFit::tightSpacing;
    fit.headerInOneRow = headerFitsOneRow(parts, room.width(), fit.inset);
    return settle();
}

int minimumContentHeight(const ContentParts& parts, int width) {
    ContentFit fit;
    fit.inset = ContentFit::tightInset;
    fit.spacing = ContentFit::tightSpacing;
    fit.headerInOneRow = headerFitsOneRow(parts, width, fit.inset);
    fit.dropZoneHeight = parts.dropZoneMinimum;
    return contentHeight(parts, fit, parts.listMinimum);
}

QSize defaultWindowSize(QSize available) {
    // Before the window is shown its frame is unknown; a title bar and thin borders are allowed for.
    const QSize frame(16, 48);
    return QSize(720, 640).boundedTo(available - frame);
}

}  // namespace corvane
