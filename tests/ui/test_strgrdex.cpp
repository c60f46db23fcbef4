// The marking grid driven by real pointer and key events.
#include <QHeaderView>
#include <QPainter>
#include <QStandardItemModel>
#include <QTest>
#include <QToolTip>
#include <QWindow>

#include "ui/widgets/strgrdex.h"
#include "ui_test_support.h"

namespace toka::test {

namespace {

constexpr int kRows = 21; // header + 20 data rows

QList<int> markedRows(TStringGridEx& grid) {
    QList<int> rows;
    for (int r = 0; r < grid.RowCount(); ++r)
        if (grid.IsRowMarked(r)) rows << r;
    return rows;
}

QPoint cellCentre(const TStringGridEx& grid, int row, int col = 1) {
    return grid.visualRect(grid.model()->index(row - 1, col)).center();
}

void press(QWidget* target, Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint pos) {
    QTest::mousePress(target, button, modifiers, pos);
}

void release(QWidget* target, Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint pos) {
    QTest::mouseRelease(target, button, modifiers, pos);
}

Qt::Key keyNamed(const QString& name) {
    static const QHash<QString, Qt::Key> keys = {
        {"Down", Qt::Key_Down},   {"Up", Qt::Key_Up},         {"Left", Qt::Key_Left},
        {"Right", Qt::Key_Right}, {"PageUp", Qt::Key_PageUp}, {"PageDown", Qt::Key_PageDown},
        {"Home", Qt::Key_Home},   {"End", Qt::Key_End},       {"A", Qt::Key_A},
    };
    return keys.value(name, Qt::Key_unknown);
}

// One step of a marking script:
//   click/shift/ctrl/alt/ctrlshift/right/middle R   a click on data row R
//   drag A B       press on row A, move, release on row B
//   below          a click below the last row
//   beyond         a click right of the last column
//   header         a click on the header row
//   chord R        release of the right button on R while the left is still held
//   key K / shiftkey K / ctrlkey K   a key press and release on the grid
void runStep(TStringGridEx& grid, const QString& step) {
    const QStringList words = step.split(' ');
    const QString verb = words.at(0);
    QWidget* vp = grid.viewport();
    const auto row = [&](int i) { return words.at(i).toInt(); };
    const QHash<QString, Qt::KeyboardModifiers> clickModifiers = {
        {"click", Qt::NoModifier},
        {"shift", Qt::ShiftModifier},
        {"ctrl", Qt::ControlModifier},
        {"alt", Qt::AltModifier},
        {"ctrlshift", Qt::ControlModifier | Qt::ShiftModifier},
    };
    if (clickModifiers.contains(verb)) {
        QTest::mouseClick(vp, Qt::LeftButton, clickModifiers.value(verb), cellCentre(grid, row(1)));
    } else if (verb == "right" || verb == "middle") {
        const Qt::MouseButton button = verb == "right" ? Qt::RightButton : Qt::MiddleButton;
        QTest::mouseClick(vp, button, Qt::NoModifier, cellCentre(grid, row(1)));
    } else if (verb == "drag") {
        press(vp, Qt::LeftButton, Qt::NoModifier, cellCentre(grid, row(1)));
        QTest::mouseMove(vp, cellCentre(grid, row(2)));
        release(vp, Qt::LeftButton, Qt::NoModifier, cellCentre(grid, row(2)));
    } else if (verb == "below") {
        const QRect last = grid.visualRect(grid.model()->index(grid.rowCount() - 1, 0));
        QTest::mouseClick(vp, Qt::LeftButton, Qt::NoModifier, QPoint(20, last.bottom() + 30));
    } else if (verb == "beyond") {
        const QRect cell = grid.visualRect(grid.model()->index(2, grid.columnCount() - 1));
        QTest::mouseClick(vp, Qt::LeftButton, Qt::NoModifier, QPoint(cell.right() + 20, cell.center().y()));
    } else if (verb == "header") {
        QHeaderView* header = grid.horizontalHeader();
        const QPoint pos(header->sectionViewportPosition(1) + header->sectionSize(1) / 2, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, pos);
    } else if (verb == "chord") {
        const QPointF pos = cellCentre(grid, row(1));
        press(vp, Qt::LeftButton, Qt::NoModifier, pos.toPoint());
        QMouseEvent rightDown(QEvent::MouseButtonPress, pos, vp->mapToGlobal(pos), Qt::RightButton,
                              Qt::LeftButton | Qt::RightButton, Qt::NoModifier);
        QApplication::sendEvent(vp, &rightDown);
        QMouseEvent rightUp(QEvent::MouseButtonRelease, pos, vp->mapToGlobal(pos), Qt::RightButton, Qt::LeftButton,
                            Qt::NoModifier);
        QApplication::sendEvent(vp, &rightUp);
        // What the marks look like before the left button comes up is the point.
    } else if (verb == "key" || verb == "shiftkey" || verb == "ctrlkey") {
        const Qt::KeyboardModifiers modifiers = verb == "key"        ? Qt::NoModifier
                                                : verb == "shiftkey" ? Qt::ShiftModifier
                                                                     : Qt::ControlModifier;
        QTest::keyClick(&grid, keyNamed(words.at(1)), modifiers);
    } else {
        QFAIL(qPrintable("unknown step " + step));
    }
}

} // namespace

class TestStringGridEx : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<TStringGridEx> m_grid;

    TStringGridEx& makeGrid(bool multiSelect) {
        m_grid = std::make_unique<TStringGridEx>();
        TStringGridEx& grid = *m_grid;
        grid.setColumnCount(3);
        grid.SetRowCount(kRows);
        grid.verticalHeader()->setDefaultSectionSize(18);
        grid.SetMultiSelect(multiSelect);
        for (int r = 1; r < kRows; ++r) grid.SetCells(0, r, QString("row %1").arg(r));
        grid.resize(400, 18 * kRows + 150); // every row visible, empty space below
        grid.show();
        if (!QTest::qWaitForWindowExposed(&grid)) qWarning("grid not exposed");
        grid.setFocus();
        return grid;
    }

private slots:
    void cleanup() { m_grid.reset(); }

    void construction_marksFirstDataRow_untilRowsShrink() {
        TStringGridEx grid;
        QCOMPARE(grid.RowCount(), 5);
        QCOMPARE(markedRows(grid), QList<int>{1});
        // The window's layout sets a smaller row count: the grid starts unmarked.
        grid.SetRowCount(2);
        QCOMPARE(markedRows(grid), QList<int>{});
        QVERIFY(!grid.IsRowMarked(7)); // outside the grid: false, no crash
        grid.SetRowMarked(7, true);
        QCOMPARE(grid.RowCount(), 2);
        QVERIFY(!grid.IsRowMarked(-1));
    }

    void marking_data() {
        QTest::addColumn<bool>("multiSelect");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QList<int>>("expected");

        QTest::newRow("click marks one row") << true << QStringList{"click 3"} << QList<int>{3};
        QTest::newRow("second click moves the mark") << true << QStringList{"click 3", "click 8"} << QList<int>{8};
        QTest::newRow("shift-click marks anchor..row")
            << true << QStringList{"click 3", "shift 6"} << QList<int>{3, 4, 5, 6};
        QTest::newRow("shift-click upward") << true << QStringList{"click 6", "shift 2"} << QList<int>{2, 3, 4, 5, 6};
        // The anchor stays at 3, so a second Shift-click re-ranges from 3.
        QTest::newRow("shift-click twice re-ranges from the anchor")
            << true << QStringList{"click 3", "shift 9", "shift 5"} << QList<int>{3, 4, 5};
        QTest::newRow("ctrl-click unmarks a marked row")
            << true << QStringList{"click 3", "shift 6", "ctrl 4"} << QList<int>{3, 5, 6};
        // Marking with Ctrl moves the anchor: the Shift range then starts at 9.
        QTest::newRow("ctrl-click marks and becomes the anchor")
            << true << QStringList{"click 3", "ctrl 9", "shift 11"} << QList<int>{9, 10, 11};
        // Unmarking with Ctrl leaves the anchor where it was.
        QTest::newRow("ctrl-unmark keeps the anchor")
            << true << QStringList{"click 3", "ctrl 7", "ctrl 7", "shift 5"} << QList<int>{5, 6, 7};
        QTest::newRow("drag from 7 to 4") << true << QStringList{"click 2", "drag 7 4"} << QList<int>{4, 5, 6, 7};
        // A drag does not move the anchor (still row 2).
        QTest::newRow("drag keeps the anchor")
            << true << QStringList{"click 2", "drag 7 4", "shift 3"} << QList<int>{2, 3};
        QTest::newRow("right button marks like left") << true << QStringList{"click 2", "right 5"} << QList<int>{5};
        QTest::newRow("middle button marks like left") << true << QStringList{"middle 12"} << QList<int>{12};
        QTest::newRow("click below the last row") << true << QStringList{"click 4", "below"} << QList<int>{20};
        QTest::newRow("click right of the last column") << true << QStringList{"beyond"} << QList<int>{20};
        // The header row takes the mark, which is never painted.
        QTest::newRow("header click clears every data mark")
            << true << QStringList{"click 3", "shift 5", "header"} << QList<int>{0};
        QTest::newRow("alt-click changes nothing") << true << QStringList{"click 3", "alt 5"} << QList<int>{3};
        QTest::newRow("ctrl+shift-click changes nothing")
            << true << QStringList{"click 3", "ctrlshift 5"} << QList<int>{3};
        QTest::newRow("release with another button held changes nothing")
            << true << QStringList{"click 3", "chord 8"} << QList<int>{3};
        QTest::newRow("down arrow marks only the new row")
            << true << QStringList{"click 3", "shift 6", "key Down"} << QList<int>{7};
        QTest::newRow("shift+down extends from the anchor")
            << true << QStringList{"click 3", "key Down", "shiftkey Down", "shiftkey Down"} << QList<int>{4, 5, 6};
        // Shift+arrow adds to the marks; the Ctrl-marked row 9 is the anchor.
        QTest::newRow("shift+up keeps earlier marks")
            << true << QStringList{"click 3", "key Down", "ctrl 9", "shiftkey Up"} << QList<int>{4, 8, 9};
        QTest::newRow("left arrow reduces to the current row")
            << true << QStringList{"click 3", "shift 6", "key Left"} << QList<int>{6};
        QTest::newRow("page down marks the last row")
            << true << QStringList{"click 3", "key PageDown"} << QList<int>{20};
        QTest::newRow("ctrl+arrow changes no mark") << true << QStringList{"click 3", "ctrlkey Down"} << QList<int>{3};
        QTest::newRow("a letter key changes no mark") << true << QStringList{"click 3", "key A"} << QList<int>{3};

        QTest::newRow("single: each click moves the mark")
            << false << QStringList{"click 3", "click 6"} << QList<int>{6};
        QTest::newRow("single: shift-click moves the mark")
            << false << QStringList{"click 3", "shift 8"} << QList<int>{8};
        QTest::newRow("single: ctrl-click moves the mark")
            << false << QStringList{"click 3", "ctrl 2"} << QList<int>{2};
        QTest::newRow("single: drag marks the release row") << false << QStringList{"drag 7 4"} << QList<int>{4};
        QTest::newRow("single: down arrow moves the mark")
            << false << QStringList{"click 3", "key Down"} << QList<int>{4};
        QTest::newRow("single: shift+down does not extend")
            << false << QStringList{"click 3", "shiftkey Down"} << QList<int>{3};
    }

    void marking() {
        QFETCH(bool, multiSelect);
        QFETCH(QStringList, steps);
        QFETCH(QList<int>, expected);
        TStringGridEx& grid = makeGrid(multiSelect);
        grid.ClearMarks();
        for (const QString& step : steps) runStep(grid, step);
        QCOMPARE(markedRows(grid), expected);
    }

    void mouseUp_arrivesAfterTheMarks() {
        TStringGridEx& grid = makeGrid(true);
        QList<int> seen;
        connect(&grid, &TStringGridEx::MouseUp, this, [&] { seen = markedRows(grid); });
        runStep(grid, "click 3");
        runStep(grid, "shift 5");
        QCOMPARE(seen, (QList<int>{3, 4, 5}));
    }

    void headerResize_keepsTheMarks() {
        TStringGridEx& grid = makeGrid(true);
        runStep(grid, "click 3");
        runStep(grid, "shift 4");
        QHeaderView* header = grid.horizontalHeader();
        const int edge = header->sectionViewportPosition(0) + header->sectionSize(0) - 1;
        const int widthBefore = header->sectionSize(0);
        const int y = header->height() / 2;
        press(header->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(edge, y));
        QTest::mouseMove(header->viewport(), QPoint(edge + 30, y));
        release(header->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(edge + 30, y));
        QVERIFY(header->sectionSize(0) > widthBefore);
        QCOMPARE(markedRows(grid), (QList<int>{3, 4}));
    }

    void rowCount_data() {
        QTest::addColumn<int>("before");
        QTest::addColumn<QList<int>>("marks");
        QTest::addColumn<int>("after");
        QTest::addColumn<QList<int>>("expected");
        QTest::newRow("31 -> 13 drops every mark") << 31 << QList<int>{2, 5, 20} << 13 << QList<int>{};
        QTest::newRow("13 -> 31 keeps the marks") << 13 << QList<int>{1, 12} << 31 << QList<int>{1, 12};
        QTest::newRow("same count keeps the marks") << 31 << QList<int>{30} << 31 << QList<int>{30};
        QTest::newRow("31 -> 1 leaves only the header") << 31 << QList<int>{4} << 1 << QList<int>{};
    }

    void rowCount() {
        QFETCH(int, before);
        QFETCH(QList<int>, marks);
        QFETCH(int, after);
        QFETCH(QList<int>, expected);
        TStringGridEx grid;
        grid.SetRowCount(before);
        grid.ClearMarks();
        for (int r : marks) grid.SetRowMarked(r, true);
        grid.SetRowCount(after);
        QCOMPARE(markedRows(grid), expected);
        QCOMPARE(grid.RowCount(), after);
    }

    void rowCount_31_13_31() {
        TStringGridEx& grid = makeGrid(true);
        grid.SetRowCount(31);
        runStep(grid, "click 5");
        runStep(grid, "shift 8");
        grid.SetRowCount(13);
        QCOMPARE(markedRows(grid), QList<int>{});
        runStep(grid, "click 3");
        runStep(grid, "ctrl 12");
        grid.SetRowCount(31);
        QCOMPARE(markedRows(grid), (QList<int>{3, 12}));
    }

    void anchorBeyondTheLastRow_countsAsTheLastRow() {
        TStringGridEx& grid = makeGrid(true);
        grid.SetRowCount(31);
        grid.scrollToBottom();
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier, cellCentre(grid, 25));
        grid.SetRowCount(13);
        grid.scrollToTop();
        runStep(grid, "shift 9");
        QCOMPARE(markedRows(grid), (QList<int>{9, 10, 11, 12}));
    }

    void painting_data() {
        QTest::addColumn<bool>("horizontalLines");
        QTest::addColumn<bool>("ctl3d");
        QTest::addColumn<bool>("edgeExpected");
        QTest::newRow("both lines, 3-D on: light edge") << true << true << true;
        QTest::newRow("vertical lines only: no edge") << false << true << false;
        QTest::newRow("3-D off: no edge") << true << false << false;
    }

    void painting() {
        QFETCH(bool, horizontalLines);
        QFETCH(bool, ctl3d);
        QFETCH(bool, edgeExpected);
        TStringGridEx& grid = makeGrid(true);
        const QColor markBack(0x12, 0x34, 0x56);
        const QColor markText(0xff, 0xee, 0x00);
        grid.SetSelectedColor(markBack);
        grid.SetSelectedTextColor(markText);
        auto options = grid.Options() & ~TStringGridEx::HorzLine;
        if (horizontalLines) options |= TStringGridEx::HorzLine;
        grid.SetOptions(options);
        grid.SetCTL3D(ctl3d);
        grid.setColumnWidth(1, 120);
        grid.SetCells(1, 4, "IIIIIIII");
        runStep(grid, "click 4");
        grid.setFocus();
        grid.setCurrentCell(9, 2); // the focus frame lies elsewhere
        grid.horizontalHeader()->setStyleSheet("QHeaderView::section { background: white; }");

        const QImage image = grid.viewport()->grab().toImage();
        const QRect marked = grid.visualRect(grid.model()->index(3, 1));
        const QRect plain = grid.visualRect(grid.model()->index(4, 1));
        const QPoint inside(marked.right() - 6, marked.center().y());
        QCOMPARE(QColor(image.pixel(inside)), markBack);
        QVERIFY(QColor(image.pixel(plain.right() - 6, plain.center().y())) != markBack);
        // Every column of the row is marked, the first one included.
        const QRect first = grid.visualRect(grid.model()->index(3, 0));
        QCOMPARE(QColor(image.pixel(first.right() - 6, first.center().y())), markBack);
        // The text is drawn in the marking text colour (give or take the
        // font's antialiasing).
        const auto distance = [](QColor a, QColor b) {
            return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
        };
        int textPixels = 0;
        for (int x = marked.left() + 2; x < marked.left() + 60; ++x)
            for (int y = marked.top() + 2; y < marked.bottom(); ++y) {
                const QColor pixel(image.pixel(x, y));
                if (3 * distance(pixel, markText) < distance(pixel, markBack)) ++textPixels;
            }
        QVERIFY2(textPixels > 10, qPrintable(QString::number(textPixels)));
        const QColor edgeColour = grid.palette().color(QPalette::Active, QPalette::HighlightedText);
        const QColor top(image.pixel(marked.center().x(), marked.top()));
        QCOMPARE(top == edgeColour, edgeExpected);

        // The header row may carry a mark but is never painted marked.
        runStep(grid, "header");
        QVERIFY(grid.IsRowMarked(0));
        const QImage header = grid.horizontalHeader()->viewport()->grab().toImage();
        for (int x = 0; x < header.width(); x += 7) QVERIFY(QColor(header.pixel(x, header.height() / 2)) != markBack);
    }

    void setRowMarked_andClearMarks() {
        TStringGridEx& grid = makeGrid(true);
        grid.ClearMarks();
        grid.SetRowMarked(2, true);
        grid.SetRowMarked(20, true);
        grid.SetRowMarked(21, true); // one past the last row: ignored
        QCOMPARE(markedRows(grid), (QList<int>{2, 20}));
        grid.SetRowMarked(2, false);
        QCOMPARE(markedRows(grid), QList<int>{20});
        grid.ClearMarks();
        QCOMPARE(markedRows(grid), QList<int>{});
    }

    // A model given to the grid: its texts are the cells, a re-ordering of
    // its rows carries the marks along, rows coming and going follow the
    // row-count rules, and the grid's own cells come back as they were.
    void foreignModel_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QList<int>>("marks");
        QTest::addColumn<QList<int>>("expected");
        // Rows 1..8 hold e b h a g c f d; e h a go to 5 8 1 when sorted.
        QTest::newRow("sorted rising") << "rising" << QList<int>{1, 3, 4} << QList<int>{1, 5, 8};
        QTest::newRow("sorted falling") << "falling" << QList<int>{1, 3, 4} << QList<int>{1, 4, 8};
        QTest::newRow("the header mark stays") << "rising" << QList<int>{0, 3} << QList<int>{0, 8};
        QTest::newRow("rows removed drop every mark") << "remove" << QList<int>{1, 2} << QList<int>{};
        QTest::newRow("rows added keep the marks") << "append" << QList<int>{1, 8} << QList<int>{1, 8};
    }

    void foreignModel() {
        QFETCH(QString, change);
        QFETCH(QList<int>, marks);
        QFETCH(QList<int>, expected);
        TStringGridEx grid;
        grid.SetCells(0, 1, "own");
        QStandardItemModel model;
        for (const char* text : {"e", "b", "h", "a", "g", "c", "f", "d"}) model.appendRow(new QStandardItem(text));
        model.setHorizontalHeaderLabels({"Name"});
        grid.setModel(&model);
        QCOMPARE(grid.Cells(0, 0) + grid.Cells(0, 4) + QString::number(grid.RowCount()), QString("Namea9"));
        grid.ClearMarks();
        for (int r : marks) grid.SetRowMarked(r, true);
        if (change == "rising" || change == "falling")
            model.sort(0, change == "rising" ? Qt::AscendingOrder : Qt::DescendingOrder);
        else if (change == "remove") model.removeRows(5, 3);
        else model.appendRow(new QStandardItem("x"));
        QCOMPARE(markedRows(grid), expected);
        grid.setModel(nullptr);
        QCOMPARE(grid.Cells(0, 1) + QString::number(grid.RowCount()), QString("own5"));
    }

    // HeaderClick follows MouseUp, for a release over the section pressed.
    void headerClick_data() {
        QTest::addColumn<QString>("gesture");
        QTest::addColumn<QString>("clicks");
        QTest::newRow("left click on column 1") << "click 1"
                                                << "1 left";
        QTest::newRow("right click on column 2") << "right 2"
                                                 << "2 right";
        QTest::newRow("pressed on 0, released on 2") << "slide 0"
                                                     << "";
        QTest::newRow("column 0 resized") << "resize 0"
                                          << "";
    }

    void headerClick() {
        QFETCH(QString, gesture);
        QFETCH(QString, clicks);
        TStringGridEx& grid = makeGrid(true);
        QStringList seen;
        int mouseUps = 0;
        connect(&grid, &TStringGridEx::MouseUp, this, [&] { ++mouseUps; });
        connect(&grid, &TStringGridEx::HeaderClick, this, [&](int col, Qt::MouseButton button) {
            seen << QString("%1 %2 after %3").arg(col).arg(button == Qt::LeftButton ? "left" : "right").arg(mouseUps);
        });
        QHeaderView* header = grid.horizontalHeader();
        QWidget* target = header->viewport();
        const QString verb = gesture.section(' ', 0, 0);
        const int col = gesture.section(' ', 1).toInt();
        const int y = header->height() / 2;
        const int centre = header->sectionViewportPosition(col) + header->sectionSize(col) / 2;
        const int edge = header->sectionViewportPosition(col) + header->sectionSize(col) - 1;
        if (verb == "click" || verb == "right") {
            QTest::mouseClick(target, verb == "click" ? Qt::LeftButton : Qt::RightButton, {}, QPoint(centre, y));
        } else {
            const int from = verb == "slide" ? centre : edge;
            const int to = verb == "slide" ? header->sectionViewportPosition(2) + 5 : edge + 20;
            press(target, Qt::LeftButton, {}, QPoint(from, y));
            QTest::mouseMove(target, QPoint(to, y));
            release(target, Qt::LeftButton, {}, QPoint(to, y));
        }
        QCOMPARE(seen.join(','), clicks.isEmpty() ? clicks : clicks + " after 1");
    }

    // A right-button click marks on its release as a left one does; the
    // context menu, which the platform asks for on the press, opens after
    // the release (after MouseUp), over the marks the click made.  The
    // clicks go through the window, as the platform delivers them.
    void rightClick_menuFollowsTheMarks_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<QString>("menus"); // marks, MouseUps before, row: one per menu
        QTest::newRow("an unmarked row") << 5 << Qt::KeyboardModifiers() << "5|1|5";
        QTest::newRow("a marked row among others") << 3 << Qt::KeyboardModifiers() << "3|1|3";
        QTest::newRow("Shift extends from the anchor")
            << 6 << Qt::KeyboardModifiers(Qt::ShiftModifier) << "2,3,4,5,6|1|6";
        QTest::newRow("Ctrl adds the row") << 6 << Qt::KeyboardModifiers(Qt::ControlModifier) << "2,3,4,6|1|6";
    }
    void rightClick_menuFollowsTheMarks() {
        QFETCH(int, row);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(QString, menus);
        TStringGridEx& grid = makeGrid(true);
        runStep(grid, "click 2");
        runStep(grid, "shift 4");
        grid.setContextMenuPolicy(Qt::CustomContextMenu);
        int mouseUps = 0;
        QStringList seen;
        connect(&grid, &TStringGridEx::MouseUp, this, [&] { ++mouseUps; });
        connect(&grid, &QWidget::customContextMenuRequested, this, [&](const QPoint& pos) {
            QStringList marks;
            for (int r : markedRows(grid)) marks << QString::number(r);
            seen << QString("%1|%2|%3").arg(marks.join(',')).arg(mouseUps).arg(grid.rowAt(pos.y()) + 1);
        });
        const QPoint at = grid.viewport()->mapTo(&grid, cellCentre(grid, row));
        QTest::mousePress(grid.windowHandle(), Qt::RightButton, modifiers, at);
        QTest::mouseRelease(grid.windowHandle(), Qt::RightButton, modifiers, at);
        QCOMPARE(seen.join(' '), menus);
    }

    // A text wider than its cell is cut at the cell's edge, not shortened
    // with an ellipsis; its tool tip is the whole text.  A text that fits
    // shows the grid's own tool tip.
    void cutText_isClippedAndItsTipIsTheWholeText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("cut");
        QTest::newRow("cut") << QString(60, 'l') << true;
        QTest::newRow("whole") << "lll" << false;
    }
    void cutText_isClippedAndItsTipIsTheWholeText() {
        QFETCH(QString, text);
        QFETCH(bool, cut);
        TStringGridEx& grid = makeGrid(true);
        grid.setToolTip("the grid's hint");
        grid.setColumnWidth(1, 40);
        grid.SetCells(1, 3, text);
        grid.ClearMarks();
        grid.setCurrentCell(9, 2);
        const QRect cell = grid.visualRect(grid.model()->index(2, 1));
        // Strokes of "l" reach up to the cell's right edge: no dots of an
        // ellipsis there, whose ink would sit on the base line alone.
        const QImage image = grid.viewport()->grab().toImage();
        int inkNearTheEdge = 0;
        for (int x = cell.right() - 8; x < cell.right(); ++x)
            for (int y = cell.top() + 2; y < cell.center().y(); ++y)
                if (qGray(image.pixel(x, y)) < 160) ++inkNearTheEdge;
        QCOMPARE(inkNearTheEdge > 0, cut);
        QToolTip::hideText();
        QTRY_VERIFY(!QToolTip::isVisible());
        QCOMPARE(toolTipAt(grid.viewport(), cell.center()), cut ? text : QString("the grid's hint"));
    }

    void cellTextChanges_keepTheMarks() {
        TStringGridEx& grid = makeGrid(true);
        runStep(grid, "click 3");
        runStep(grid, "shift 5");
        for (int r = 1; r < grid.RowCount(); ++r) grid.SetCells(0, r, "new");
        QCOMPARE(markedRows(grid), (QList<int>{3, 4, 5}));
        QCOMPARE(grid.Cells(0, 4), QString("new"));
    }
};

} // namespace toka::test

QTEST_MAIN(toka::test::TestStringGridEx)
#include "test_strgrdex.moc"
