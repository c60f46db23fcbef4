#pragma once
// TextMemo: the viewer's read-only text pane.
//
// QPlainTextEdit builds one text block per line: a 50 MB file of 58-byte
// lines (860,000 blocks) took 3.4 s in setPlainText on the test machine, and
// a file that is one long line is laid out as a whole on the first paint.
// The viewer only shows text, so this widget keeps the text as one string
// plus the offset of every line start (4 bytes a line), and paints only the
// lines in view; of a long line it draws only the pieces in view.  The same
// 50 MB file takes about 0.2 s here on top of the load.
//
// It scrolls with both bars, the wheel and the keys (arrows, page keys,
// Home/End for the line ends, Ctrl+Home/End for the text ends), and lets the
// user select with the mouse and copy (Ctrl+C, Ctrl+A, context menu).  It
// never wraps.

#include <QAbstractScrollArea>
#include <QString>

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace toka {

class TextMemo : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TextMemo(QWidget* parent = nullptr);

    /// Replaces the whole text ("\n" ends a line; no other character does),
    /// drops the selection and scrolls to the top left.  Texts longer than
    /// 4 Gi characters are not supported (the loader caps them far below).
    void setPlainText(QString text);
    const QString& toPlainText() const { return m_text; }
    void clear() { setPlainText(QString()); }

    /// Number of lines; an empty text is one empty line.
    int lineCount() const { return static_cast<int>(m_lineStarts.size()); }

    /// The selected characters, "\n" between lines; empty without a selection.
    QString selectedText() const;
    void selectAll();
    /// Puts the selected text on the clipboard; does nothing without one.
    void copy() const;

    /// Width in pixels of line `line` from its start to before `column`, in
    /// the widget's font.  0 outside the text.
    qreal advanceTo(int line, qsizetype column) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    /// A piece of a long line: its end offset in the line and the x of its
    /// right edge from the line's start.
    struct Piece {
        qsizetype end;
        qreal right;
    };

    QStringView lineText(int line) const;
    /// Lays out the pieces of a long line until `column` or `x` is covered
    /// (whichever comes first) and returns them.
    const std::vector<Piece>& piecesUpTo(int line, qsizetype column, qreal x) const;
    /// advanceTo, but measures a long line only as far as `limit`; a column
    /// beyond it gives some width past `limit`.
    qreal advanceWithin(int line, qsizetype column, qreal limit) const;
    qreal lineWidth(int line) const;
    /// The width of `text` as the sum of its characters' advances (no
    /// kerning): 2 ns a character from a table, where measuring shaped text
    /// costs 100 ns.  Long lines are laid out with it.
    qreal summedAdvance(QStringView text) const;
    void measureWidest();
    void updateScrollBars();
    qsizetype offsetAt(const QPoint& viewportPos) const;
    void drawLine(QPainter& painter, int line, qreal originX, int baseline) const;

    QString m_text;
    std::vector<std::uint32_t> m_lineStarts; ///< offset of every line's first character
    /// Pieces of the lines longer than one piece, laid out lazily as the
    /// view moves right.
    mutable std::unordered_map<int, std::vector<Piece>> m_pieces;
    /// Advance of every UTF-16 code unit met so far, -1 where not yet
    /// measured; filled lazily, emptied when the font changes.
    mutable std::vector<qreal> m_advances;
    qreal m_widest = 0; ///< widest line in pixels
    qsizetype m_anchor = 0;
    qsizetype m_cursor = 0;
    bool m_selecting = false;
};

} // namespace toka
