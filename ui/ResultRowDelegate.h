#pragma once

#include <QFont>
#include <QModelIndex>
#include <QPersistentModelIndex>
#include <QRect>
#include <QStyledItemDelegate>

namespace corvane {

class ResultListModel;

// Draws one row of the results list: the outcome icon, the file name, the result text below it in the
// caption style and the secondary colour (one line per text line), and the two borderless buttons
// "Reveal in File Manager" and "Copy" at the right. Rows are painted, not built from widgets, so a list
// of many thousands of rows stays light. The view tells the delegate which button is under the mouse
// and which is held down; the delegate only draws and answers where things are.
class ResultRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    enum class Button { none, reveal, copy };

    static constexpr const char* revealTitle = "Reveal in File Manager";
    static constexpr const char* copyTitle = "Copy";

    explicit ResultRowDelegate(const ResultListModel& model, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // Where a row's parts lie inside the row's rectangle.
    struct Layout {
        QRect icon;
        QRect name;
        QRect text;
        QRect reveal;
        QRect copy;
    };
    Layout layout(const QStyleOptionViewItem& option, const QModelIndex& index) const;
    Button buttonAt(const QStyleOptionViewItem& option, const QModelIndex& index, QPoint position) const;

    void setHovered(const QModelIndex& index, Button button);
    void setPressed(const QModelIndex& index, Button button);

private:
    // The fonts and sizes of a row for one base font, worked out once: the list asks for the size of
    // every row each time it lays itself out.
    struct Metrics {
        QFont base;
        QFont body;
        QFont caption;
        int bodyHeight = 0;
        int captionHeight = 0;
        int captionLineSpacing = 0;
        int copyWidth = 0;
        int revealWidth = 0;
    };
    const Metrics& metrics(const QFont& base) const;
    int contentHeight(const Metrics& metrics, int lines) const;

    const ResultListModel& model_;
    mutable Metrics metrics_;
    mutable bool haveMetrics_ = false;
    QPersistentModelIndex hoveredIndex_;
    Button hovered_ = Button::none;
    QPersistentModelIndex pressedIndex_;
    Button pressed_ = Button::none;
};

}  // namespace corvane
