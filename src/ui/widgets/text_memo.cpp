#include "ui/widgets/text_memo.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>

namespace toka {

namespace {

/// Characters per piece of a long line.  A long line is drawn piece by
/// piece, and only the pieces in view, so that a 50 MB line costs no more to
/// paint than a short one.
constexpr qsizetype kPiece = 1024;
constexpr int kMargin = 3;

constexpr qreal kUnbounded = std::numeric_limits<qreal>::infinity();

} // namespace

TextMemo::TextMemo(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setPlainText(QString());
}

void TextMemo::setPlainText(QString text) {
    assert(text.size() < qsizetype{std::numeric_limits<std::uint32_t>::max()} && "text too long for the line index");
    m_text = std::move(text);
    // A fresh vector, so that the index of a huge earlier text is freed.
    std::vector<std::uint32_t> starts{0};
    const char16_t* units = reinterpret_cast<const char16_t*>(m_text.constData());
    const qsizetype size = m_text.size();
    for (qsizetype i = 0; i < size; ++i)
        if (units[i] == u'\n') starts.push_back(static_cast<std::uint32_t>(i + 1));
    m_lineStarts = std::move(starts);
    m_pieces.clear();
    m_anchor = m_cursor = 0;
    m_selecting = false;
    measureWidest();
    updateScrollBars();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    viewport()->update();
}

QStringView TextMemo::lineText(int line) const {
    if (line < 0 || line >= lineCount()) return {};
    const qsizetype start = m_lineStarts[static_cast<std::size_t>(line)];
    const qsizetype end =
        line + 1 < lineCount() ? qsizetype{m_lineStarts[static_cast<std::size_t>(line) + 1]} - 1 : m_text.size();
    return QStringView(m_text).mid(start, end - start);
}

const std::vector<TextMemo::Piece>& TextMemo::piecesUpTo(int line, qsizetype column, qreal x) const {
    std::vector<Piece>& pieces = m_pieces[line];
    const QStringView text = lineText(line);
    for (;;) {
        if (!pieces.empty()) {
            const Piece& last = pieces.back();
            if (last.end >= text.size() || last.end >= column || last.right >= x) break;
        } else if (text.isEmpty()) {
            break;
        }
        const qsizetype start = pieces.empty() ? 0 : pieces.back().end;
        qsizetype end = std::min(start + kPiece, text.size());
        // Never split a surrogate pair between two pieces.
        if (end < text.size() && text[end].isLowSurrogate()) --end;
        const qreal left = pieces.empty() ? 0 : pieces.back().right;
        pieces.push_back({end, left + summedAdvance(text.mid(start, end - start))});
    }
    return pieces;
}

qreal TextMemo::advanceTo(int line, qsizetype column) const { return advanceWithin(line, column, kUnbounded); }

qreal TextMemo::advanceWithin(int line, qsizetype column, qreal limit) const {
    const QStringView text = lineText(line);
    column = std::clamp<qsizetype>(column, 0, text.size());
    if (column == 0) return 0;
    const QFontMetricsF metrics(font());
    if (text.size() <= kPiece) return metrics.horizontalAdvance(text.left(column).toString());
    const std::vector<Piece>& pieces = piecesUpTo(line, column, limit);
    if (pieces.back().end < column) return pieces.back().right; // beyond the limit
    const auto piece =
        std::lower_bound(pieces.begin(), pieces.end(), column, [](const Piece& p, qsizetype c) { return p.end < c; });
    assert(piece != pieces.end() && "pieces measured up to the column");
    const qsizetype start = piece == pieces.begin() ? 0 : std::prev(piece)->end;
    const qreal left = piece == pieces.begin() ? 0 : std::prev(piece)->right;
    if (column == piece->end) return piece->right;
    return left + metrics.horizontalAdvance(text.mid(start, column - start).toString());
}

qreal TextMemo::lineWidth(int line) const { return advanceTo(line, lineText(line).size()); }

qreal TextMemo::summedAdvance(QStringView text) const {
    if (m_advances.empty()) m_advances.assign(0x10000, -1);
    const QFontMetricsF metrics(font());
    qreal sum = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            sum += metrics.horizontalAdvance(text.mid(i, 2).toString());
            ++i;
            continue;
        }
        qreal& advance = m_advances[c.unicode()];
        if (advance < 0) advance = metrics.horizontalAdvance(c);
        sum += advance;
    }
    return sum;
}

void TextMemo::measureWidest() {
    m_widest = 0;
    for (int line = 0; line < lineCount(); ++line) m_widest = std::max(m_widest, summedAdvance(lineText(line)));
}

void TextMemo::updateScrollBars() {
    const QFontMetricsF metrics(font());
    const int lineHeight = std::max(1, qCeil(metrics.lineSpacing()));
    const int visibleLines = std::max(1, (viewport()->height() - 2 * kMargin) / lineHeight);
    verticalScrollBar()->setRange(0, std::max(0, lineCount() - visibleLines));
    verticalScrollBar()->setPageStep(visibleLines);
    verticalScrollBar()->setSingleStep(1);
    const int width = viewport()->width();
    horizontalScrollBar()->setRange(0, std::max(0, qCeil(m_widest) + 2 * kMargin - width));
    horizontalScrollBar()->setPageStep(std::max(1, width));
    horizontalScrollBar()->setSingleStep(std::max(1, qRound(2 * metrics.averageCharWidth())));
}

void TextMemo::drawLine(QPainter& painter, int line, qreal originX, int baseline) const {
    const QStringView text = lineText(line);
    if (text.size() <= kPiece) {
        painter.drawText(QPointF(originX, baseline), text.toString());
        return;
    }
    const qreal viewRight = viewport()->width();
    const std::vector<Piece>& pieces = piecesUpTo(line, text.size(), viewRight - originX);
    qsizetype start = 0;
    qreal left = 0;
    for (const Piece& piece : pieces) {
        if (originX + left > viewRight) break;
        if (originX + piece.right >= 0)
            painter.drawText(QPointF(originX + left, baseline), text.mid(start, piece.end - start).toString());
        start = piece.end;
        left = piece.right;
    }
}

void TextMemo::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    painter.setFont(font());
    const QFontMetricsF metrics(font());
    const int lineHeight = std::max(1, qCeil(metrics.lineSpacing()));
    const int ascent = qCeil(metrics.ascent());
    const qreal originX = kMargin - horizontalScrollBar()->value();
    const int first = verticalScrollBar()->value();
    const int last = std::min(lineCount() - 1, first + viewport()->height() / lineHeight + 1);
    const qsizetype selectionStart = std::min(m_anchor, m_cursor);
    const qsizetype selectionEnd = std::max(m_anchor, m_cursor);
    const QPalette& colours = palette();
    qreal widestSeen = 0;

    for (int line = first; line <= last; ++line) {
        const int top = kMargin + (line - first) * lineHeight;
        const qsizetype lineStart = m_lineStarts[static_cast<std::size_t>(line)];
        const qsizetype lineEnd = lineStart + lineText(line).size(); // where its "\n" stands
        QRectF selected;
        if (selectionStart < selectionEnd && selectionStart <= lineEnd && selectionEnd > lineStart) {
            const qreal limit = viewport()->width() - originX;
            const qreal x1 = originX + advanceWithin(line, std::max(selectionStart, lineStart) - lineStart, limit);
            qreal x2 = originX + advanceWithin(line, std::min(selectionEnd, lineEnd) - lineStart, limit);
            if (selectionEnd > lineEnd) x2 += metrics.horizontalAdvance(QLatin1Char(' ')); // the line end
            selected = QRectF(x1, top, x2 - x1, lineHeight);
            painter.fillRect(selected, colours.highlight());
        }
        painter.setPen(colours.color(QPalette::Text));
        drawLine(painter, line, originX, top + ascent);
        if (!selected.isEmpty()) {
            painter.save();
            painter.setClipRect(selected);
            painter.setPen(colours.color(QPalette::HighlightedText));
            drawLine(painter, line, originX, top + ascent);
            painter.restore();
        }
        const QStringView text = lineText(line);
        if (text.size() <= kPiece) widestSeen = std::max(widestSeen, advanceTo(line, text.size()));
    }
    // A short line is drawn shaped as a whole, which kerning can make a
    // little wider than its summed advances; the range follows, once the
    // paint is over.
    if (widestSeen > m_widest) {
        m_widest = widestSeen;
        QTimer::singleShot(0, this, [this] { updateScrollBars(); });
    }
}

void TextMemo::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void TextMemo::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        m_pieces.clear();
        m_advances.clear();
        measureWidest();
        updateScrollBars();
    }
}

void TextMemo::scrollContentsBy(int, int) { viewport()->update(); }

qsizetype TextMemo::offsetAt(const QPoint& viewportPos) const {
    const QFontMetricsF metrics(font());
    const int lineHeight = std::max(1, qCeil(metrics.lineSpacing()));
    const int row = static_cast<int>(std::floor(qreal(viewportPos.y() - kMargin) / lineHeight));
    const int line = std::clamp(verticalScrollBar()->value() + row, 0, lineCount() - 1);
    const QStringView text = lineText(line);
    const qreal x = viewportPos.x() - (kMargin - horizontalScrollBar()->value());
    // The last column whose left edge is at or before x, then the nearer of
    // it and the next one.
    qsizetype low = 0;
    qsizetype high = text.size();
    if (text.size() > kPiece) {
        // Only the piece under x needs searching; the pieces before it are
        // measured already, the ones after it never need to be.
        const std::vector<Piece>& pieces = piecesUpTo(line, text.size(), x);
        const auto under =
            std::find_if(pieces.begin(), pieces.end(), [x](const Piece& piece) { return piece.right > x; });
        if (under == pieces.end()) {
            low = high = pieces.back().end;
        } else {
            low = under == pieces.begin() ? 0 : std::prev(under)->end;
            high = under->end;
        }
    }
    while (low < high) {
        const qsizetype middle = (low + high + 1) / 2;
        if (advanceTo(line, middle) <= x) low = middle;
        else high = middle - 1;
    }
    if (low < text.size()) {
        const qreal left = advanceTo(line, low);
        if (x - left > (advanceTo(line, low + 1) - left) / 2) ++low;
    }
    if (low > 0 && low < text.size() && text[low].isLowSurrogate()) --low;
    return m_lineStarts[static_cast<std::size_t>(line)] + low;
}

QString TextMemo::selectedText() const {
    const qsizetype start = std::min(m_anchor, m_cursor);
    return m_text.mid(start, std::max(m_anchor, m_cursor) - start);
}

void TextMemo::selectAll() {
    m_anchor = 0;
    m_cursor = m_text.size();
    viewport()->update();
}

void TextMemo::copy() const {
    if (m_anchor != m_cursor) QApplication::clipboard()->setText(selectedText());
}

void TextMemo::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::Copy) {
        copy();
    } else if (event == QKeySequence::SelectAll) {
        selectAll();
    } else if (event->key() == Qt::Key_Home || event->key() == Qt::Key_End) {
        const bool toEnd = event->key() == Qt::Key_End;
        QScrollBar* bar = event->modifiers() & Qt::ControlModifier ? verticalScrollBar() : horizontalScrollBar();
        bar->setValue(toEnd ? bar->maximum() : bar->minimum());
    } else {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
}

void TextMemo::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    m_cursor = offsetAt(event->position().toPoint());
    if (!(event->modifiers() & Qt::ShiftModifier)) m_anchor = m_cursor;
    m_selecting = true;
    viewport()->update();
}

void TextMemo::mouseMoveEvent(QMouseEvent* event) {
    if (!m_selecting || !(event->buttons() & Qt::LeftButton)) return;
    const QPoint pos = event->position().toPoint();
    // Dragging past an edge scrolls that way.
    if (pos.y() < 0) verticalScrollBar()->triggerAction(QScrollBar::SliderSingleStepSub);
    else if (pos.y() > viewport()->height()) verticalScrollBar()->triggerAction(QScrollBar::SliderSingleStepAdd);
    if (pos.x() < 0) horizontalScrollBar()->triggerAction(QScrollBar::SliderSingleStepSub);
    else if (pos.x() > viewport()->width()) horizontalScrollBar()->triggerAction(QScrollBar::SliderSingleStepAdd);
    m_cursor = offsetAt(pos);
    viewport()->update();
}

void TextMemo::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_selecting) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    m_selecting = false;
    QClipboard* clipboard = QApplication::clipboard();
    if (m_anchor != m_cursor && clipboard->supportsSelection())
        clipboard->setText(selectedText(), QClipboard::Selection);
}

void TextMemo::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* copyAction = menu.addAction(tr("&Copy"), this, &TextMemo::copy);
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setEnabled(m_anchor != m_cursor);
    menu.addAction(tr("Select &All"), this, &TextMemo::selectAll)->setShortcut(QKeySequence::SelectAll);
    menu.exec(event->globalPos());
}

} // namespace toka
