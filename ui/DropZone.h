// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractButton>
#include <QString>

#include <functional>

class QMimeData;

namespace corvane {

// The dashed target for files and folders: 120 pixels high where the window has room (down to one
// line of text where it has not), as wide as the window's content, with "Drop files/folders" and the
// supported formats centred inside. It takes part in drags that carry local file URLs and hands a drop
// to its handler, which accepts or refuses it. A drop is always taken as a copy: the program only
// reads what is dropped, and a source told its files were moved may delete them; a drag that cannot be
// a copy is refused, and so is every drag while drops are not taken (a run is under way), already
// while it hovers. While a drag it would take hovers over it, the zone is highlighted; when it refuses
// one, it says why through refused().
//
// It is also a button, for the keyboard and screen readers: it takes the focus (and shows it), and a
// click, Enter or Space emits clicked(), on which the window offers its file dialog.
class DropZone : public QAbstractButton {
    Q_OBJECT
public:
    static constexpr int zoneHeight = 120;
    static constexpr const char* titleText = "Drop files/folders";
    static constexpr const char* subtitleText = "HEIC/HEIF/DNG supported. Only XMP sidecars will be updated.";
    static constexpr const char* tooltipText =
        "Drop HEIC/HEIF/DNG files or folders. Or click, or press Enter or Space, to choose files (File \u25B8 Open "
        "Files\u2026, Ctrl+O); Ctrl+Shift+O chooses a folder. Existing .xmp sidecars will be updated.";

    // `handler` answers a drop: true when it is taken, false when it is refused.
    using DropHandler = std::function<bool(const QMimeData& mime)>;
    // Why a drag of files would be refused at the moment (`copyOffered`: whether its source lets it be
    // a copy), or an empty text when nothing stands in its way. Without a check, every drag of files
    // that can be a copy is taken.
    using DropCheck = std::function<QString(bool copyOffered)>;

    explicit DropZone(QWidget* parent = nullptr);
    void setDropHandler(DropHandler handler) { handler_ = std::move(handler); }
    void setDropCheck(DropCheck check) { check_ = std::move(check); }

    // True while a drag that the zone would take hovers over it.
    bool isHighlighted() const { return highlighted_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // A drag of files hovering over the zone is refused, for this reason; told once per reason and drag.
    void refused(const QString& reason);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Whether the zone takes a drag or drop, and if not, why (empty for drags that are not of files).
    struct Answer {
        bool takes;
        QString reason;
    };
    Answer answer(const QDropEvent& event) const;
    void setHighlighted(bool on);

    DropHandler handler_;
    DropCheck check_;
    bool highlighted_ = false;
    QString toldReason_;  // the refusal already told during the present drag
};

}  // namespace corvane
