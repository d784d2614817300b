// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFont>
#include <QModelIndex>
#include <QPersistentModelIndex>
#include <QRect>
#include <QStringList>
#include <QStyledItemDelegate>

#include <vector>


namespace corvane {

class ResultListModel;

// The lines a result text is drawn in at `width` pixels: each of its own lines, wrapped at word
// boundaries (or anywhere, for a word wider than the line), with a file path too wide for a line cut
// short in its middle. At most `maxLines`; when the text needs more, the last one ends in "…".
QStringList wrapResultText(const QString& text, const QFont& font, int width, int maxLines);

// Draws one row of the results list: the outcome icon, the file name, under it the file's folder and
// the result text in the caption style and the secondary colour (the folder on one line, cut short in
// its middle; the text wrapped onto as many lines as it needs, up to a limit), and the two borderless
// buttons "Reveal in File Manager" and "Copy" at the right, or below the text where the row is too
// narrow to hold them beside it. Rows are painted, not
// built from widgets, so a list of many thousands of rows stays light. The view tells the delegate
// which button is under the mouse, which is held down, and which has the keyboard focus on the
// current row; the delegate only draws and answers where things are.
class ResultRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    enum class Button { none, reveal, copy };

    static constexpr const char* revealTitle = "Reveal in File Manager";
    static constexpr const char* copyTitle = "Copy";
    // A result text longer than this many lines ends in "…" (the tooltip and the clipboard hold all).
    static constexpr int maxTextLines = 12;

    explicit ResultRowDelegate(const ResultListModel& model, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The narrowest row in which the name, a few words of text and both buttons stay readable (the
    // buttons below the text).
    int minimumRowWidth(const QFont& base) const;
    // The height of a row whose result text has one line, with the buttons beside it.
    int oneLineRowHeight(const QFont& base) const;
    // Whether rows of the present width have their buttons below the text.
    bool buttonsBelow(const QFont& base) const;

    // The width rows are laid out in (the list's viewport); the text wraps to it.
    void setRowWidth(int width);
    int rowWidth() const { return rowWidth_; }

    // Where a row's parts lie inside the row's rectangle.
    struct Layout {
        QRect icon;
        QRect name;
        QRect folder;
        QRect text;
        QRect reveal;
        QRect copy;
    };
    Layout layout(const QStyleOptionViewItem& option, const QModelIndex& index) const;
    Button buttonAt(const QStyleOptionViewItem& option, const QModelIndex& index, QPoint position) const;
    // The result text of a row as drawn, line by line.
    QStringList textLines(const QStyleOptionViewItem& option, const QModelIndex& index) const;

    void setHovered(const QModelIndex& index, Button button);
    void setPressed(const QModelIndex& index, Button button);
    // The action the keyboard presses on the current row (Reveal, unless moved to Copy).
    void setFocusedButton(Button button) { focused_ = button; }
    Button focusedButton() const { return focused_; }

private:
    // The fonts and sizes of a row for one base font, worked out once: the list asks for the size of
    // every row each time it lays itself out.
    struct Metrics {
        QFont base;
        QFont body;
        QFont caption;
        int bodyHeight = 0;
        int captionLineHeight = 0;  // a whole line, descenders included
        int copyWidth = 0;
        int revealWidth = 0;
        int besideWidth = 0;        // the narrowest row with the buttons beside the text
    };
    // Per row: the width of its widest text line (measured once), and its line count at the width
    // it was last laid out in.
    struct RowText {
        int naturalWidth = -1;
        int wrapWidth = -1;
        int lines = 1;
    };
    const Metrics& metrics(const QFont& base) const;
    bool stacked(const Metrics& metrics) const;
    int contentHeight(const Metrics& metrics, int lines) const;
    int textWidth(const Metrics& metrics) const;
    int lineCount(const Metrics& metrics, const QModelIndex& index) const;
    void forgetTexts();

    const ResultListModel& model_;
    int rowWidth_ = 0;
    mutable Metrics metrics_;
    mutable bool haveMetrics_ = false;
    mutable std::vector<RowText> rowTexts_;  // by row of the model
    QPersistentModelIndex hoveredIndex_;
    Button hovered_ = Button::none;
    QPersistentModelIndex pressedIndex_;
    Button pressed_ = Button::none;
    Button focused_ = Button::reveal;
};

}  // namespace corvane
