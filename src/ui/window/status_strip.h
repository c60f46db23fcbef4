#pragma once
// The status strip under the tool buttons (StatusPanel): the selected
// directory, the "Filtered" mark, the count of entries scanned with its
// caption and margin, and the record's mark the search adds beside them.

#include <QWidget>

class QLabel;

namespace toka {

class PathLabel;

class StatusStrip : public QWidget {
public:
    explicit StatusStrip(QWidget* parent);

    PathLabel* lCurrentDir() const { return m_lCurrentDir; }
    QLabel* lFiltered() const { return m_lFiltered; }
    QLabel* Label2() const { return m_Label2; }
    QLabel* lFileScanned() const { return m_lFileScanned; }
    QLabel* Label3() const { return m_Label3; }

    /// Shows mark left of the count's margin (the record's mark).
    void addMark(QLabel* mark);

private:
    PathLabel* m_lCurrentDir = nullptr; ///< the selected directory (a drag's destination while it hovers)
    QLabel* m_lFiltered = nullptr;      ///< "Filtered" left of Label2 while a filter is set; its hint lists them
    QLabel* m_Label2 = nullptr;         ///< caption "Files scanned:"
    QLabel* m_lFileScanned = nullptr;   ///< the number of entries scanned
    QLabel* m_Label3 = nullptr;         ///< blank margin right of the count
};

} // namespace toka
