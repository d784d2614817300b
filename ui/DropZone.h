#pragma once

#include <QWidget>

#include <functional>

class QMimeData;

namespace corvane {

// The dashed target for files and folders: 120 pixels high, as wide as the window's content, with
// "Drop files/folders" and the supported formats centred inside. It takes part in drags that carry
// local file URLs and hands a drop to its handler, which accepts or refuses it. A click does nothing,
// and nothing is highlighted while a drag hovers.
class DropZone : public QWidget {
    Q_OBJECT
public:
    static constexpr int zoneHeight = 120;
    static constexpr const char* titleText = "Drop files/folders";
    static constexpr const char* subtitleText = "HEIC/HEIF/DNG supported. Only XMP sidecars will be updated.";
    static constexpr const char* tooltipText = "Drop HEIC/HEIF/DNG files or folders. Existing .xmp sidecars will be updated.";

    // `handler` answers a drop: true when it is taken, false when it is refused.
    using DropHandler = std::function<bool(const QMimeData& mime)>;

    explicit DropZone(QWidget* parent = nullptr);
    void setDropHandler(DropHandler handler) { handler_ = std::move(handler); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    DropHandler handler_;
};

}  // namespace corvane
