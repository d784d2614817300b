// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractButton>

#include <functional>

class QMimeData;

namespace corvane {

// The dashed target for files and folders: 120 pixels high, as wide as the window's content, with
// "Drop files/folders" and the supported formats centred inside. It takes part in drags that carry
// local file URLs and hands a drop to its handler, which accepts or refuses it. A drop is always taken
// as a copy: the program only reads what is dropped, and a source told its files were moved may delete
// them; a drag that cannot be a copy is refused, and so is every drag while drops are not taken (a
// run is under way), already while it hovers. Nothing is highlighted while a drag hovers.
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
    // Whether drops are taken at the moment; a drag is refused while this says no.
    using DropCheck = std::function<bool()>;

    explicit DropZone(QWidget* parent = nullptr);
    void setDropHandler(DropHandler handler) { handler_ = std::move(handler); }
    void setDropCheck(DropCheck check) { check_ = std::move(check); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool takes(const QDropEvent& event) const;

    DropHandler handler_;
    DropCheck check_;
};

}  // namespace corvane
