#pragma once
// The filter bar under the search row: one control for each filter of the
// walk, each with a label whose access key (Alt+letter) takes the focus to
// it, and a Reset button.  It edits FilterChoices; the window asks it for
// the walk's filter when a search starts.
//
// Access keys (none is used elsewhere in the window: the menu bar takes
// F, E, S, V):
//   Alt+X Exclude   Alt+T Extensions   Alt+K Kind
//   Alt+L Size at least   Alt+O at most   Alt+D Modified
//   Alt+M from   Alt+U until   (the two days, shown for "between dates")
//   Alt+H Leave out hidden entries   Alt+N Stay on one file system
//   Alt+R Reset

#include <QWidget>

#include "ui/logic/filter_choices.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace toka {

class FilterBar : public QWidget {
    Q_OBJECT
public:
    explicit FilterBar(QWidget* parent = nullptr);

    /// What the controls show.  from and until are the two days' controls
    /// even while they are hidden (the days a switch to Between offers).
    FilterChoices choices() const;
    /// The walk's filter the controls describe, time ranges taken at now.
    WalkFilter filter(const QDateTime& now) const { return walkFilterOf(choices(), now); }
    /// Shows choices in the controls; changed() follows once when anything
    /// changed.  A null day keeps the day its control shows.
    void setFilter(const FilterChoices& choices);

    /// The controls in tab order (the two days included).
    QList<QWidget*> controls() const;

    // The controls, in tab order.
    QLineEdit* excludeEdit = nullptr;
    QLineEdit* extensionsEdit = nullptr;
    QComboBox* kindCombo = nullptr;
    QSpinBox* minSizeSpin = nullptr; ///< 0 shows "any": no bound
    QComboBox* minUnitCombo = nullptr;
    QSpinBox* maxSizeSpin = nullptr;
    QComboBox* maxUnitCombo = nullptr;
    QComboBox* modifiedCombo = nullptr;
    QDateEdit* fromDate = nullptr;  ///< shown for "between dates" only
    QDateEdit* untilDate = nullptr; ///< shown for "between dates" only
    QCheckBox* hiddenCheck = nullptr;
    QCheckBox* oneFileSystemCheck = nullptr;
    QPushButton* resetButton = nullptr;

signals:
    /// Any control changed what the filter would be.
    void changed();

public slots:
    /// Every control back to "nothing filtered".
    void reset();

private:
    void showDays();
    void controlChanged();

    QLabel* m_fromLabel = nullptr;
    QLabel* m_untilLabel = nullptr;
    bool m_setting = false; ///< setFilter is filling the controls: one changed() at its end
};

} // namespace toka
