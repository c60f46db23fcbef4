#include "ui/widgets/filter_bar.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

namespace toka {

namespace {

// In the order of KindChoice, SizeUnit and ModifiedChoice.
const char* const kKindNames[kKindChoiceCount] = {"All", "Files", "Directories", "Symbolic links", "Special files"};
const char* const kUnitNames[kSizeUnitCount] = {"bytes", "KB", "MB", "GB"};
const char* const kModifiedNames[kModifiedChoiceCount] = {
    "any time", "today", "in the last 7 days", "in the last 30 days", "in the last 365 days", "between dates",
};

template <int N>
QComboBox* comboOf(const char* const (&names)[N], const char* hint, QWidget* parent) {
    auto* combo = new QComboBox(parent);
    for (const char* name : names) combo->addItem(QString::fromUtf8(name));
    combo->setToolTip(QString::fromUtf8(hint));
    return combo;
}

} // namespace

FilterBar::FilterBar(QWidget* parent) : QWidget(parent) {
    setObjectName("FilterBar");
    const auto line = [this](const char* hint, const char* placeholder) {
        auto* edit = new QLineEdit(this);
        edit->setToolTip(QString::fromUtf8(hint));
        edit->setPlaceholderText(QString::fromUtf8(placeholder));
        edit->setClearButtonEnabled(true);
        return edit;
    };
    const auto size = [this](const char* hint) {
        auto* spin = new QSpinBox(this);
        spin->setRange(0, kMaxSizeValue);
        spin->setSpecialValueText("any");
        spin->setToolTip(QString::fromUtf8(hint));
        return spin;
    };
    const auto day = [this](const char* hint) {
        auto* edit = new QDateEdit(QDate::currentDate(), this);
        edit->setCalendarPopup(true);
        edit->setToolTip(QString::fromUtf8(hint));
        return edit;
    };
    const auto check = [this](const char* text, const char* hint) {
        auto* box = new QCheckBox(QString::fromUtf8(text), this);
        box->setToolTip(QString::fromUtf8(hint));
        return box;
    };

    excludeEdit = line("Directories and files the search leaves out: name patterns (*, ?, [...]) separated by blanks "
                       "or \";\"; a pattern with \"/\" is matched against the whole path",
                       ".git node_modules *.tmp");
    extensionsEdit =
        line("Rate only files with one of these extensions, separated by blanks (empty: any name)", "pdf odt docx");
    kindCombo = comboOf(kKindNames, "Rate only entries of this kind", this);
    minSizeSpin = size("Rate only entries at least this large (any: no lower bound; directories have no size)");
    minUnitCombo = comboOf(kUnitNames, "The unit of the lower size bound (1 KB = 1024 bytes)", this);
    maxSizeSpin = size("Rate only entries at most this large (any: no upper bound; directories have no size)");
    maxUnitCombo = comboOf(kUnitNames, "The unit of the upper size bound (1 KB = 1024 bytes)", this);
    modifiedCombo = comboOf(kModifiedNames, "Rate only entries last changed in this time (local time)", this);
    fromDate = day("The first day of the time range");
    untilDate = day("The last day of the time range (included)");
    hiddenCheck = check("Leave out &hidden entries",
                        "Leave out entries whose name starts with \".\", and do not search hidden directories");
    oneFileSystemCheck = check("Stay on o&ne file system",
                               "Do not search directories on other mounted file systems (a search of all hard "
                               "disks never does)");
    resetButton = new QPushButton("&Reset", this);
    resetButton->setToolTip("Reset every filter: nothing is left out");
    for (QComboBox* unit : {minUnitCombo, maxUnitCombo}) unit->setCurrentIndex(static_cast<int>(SizeUnit::MB));

    const auto label = [this](const char* text, QWidget* buddy) {
        auto* caption = new QLabel(QString::fromUtf8(text), this);
        caption->setBuddy(buddy);
        caption->setToolTip(buddy->toolTip());
        return caption;
    };
    m_fromLabel = label("fro&m", fromDate);
    m_untilLabel = label("&until", untilDate);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(6, 3, 6, 3);
    column->setSpacing(3);
    const auto row = [column] {
        auto* layout = new QHBoxLayout;
        layout->setSpacing(6);
        column->addLayout(layout);
        return layout;
    };
    QHBoxLayout* names = row();
    names->addWidget(label("E&xclude:", excludeEdit));
    names->addWidget(excludeEdit, 3);
    names->addSpacing(6);
    names->addWidget(label("Ex&tensions:", extensionsEdit));
    names->addWidget(extensionsEdit, 2);
    names->addSpacing(6);
    names->addWidget(label("&Kind:", kindCombo));
    names->addWidget(kindCombo);
    QHBoxLayout* metadata = row();
    metadata->addWidget(label("Size at &least:", minSizeSpin));
    metadata->addWidget(minSizeSpin);
    metadata->addWidget(minUnitCombo);
    metadata->addWidget(label("at m&ost:", maxSizeSpin));
    metadata->addWidget(maxSizeSpin);
    metadata->addWidget(maxUnitCombo);
    metadata->addSpacing(6);
    metadata->addWidget(label("Mo&dified:", modifiedCombo));
    metadata->addWidget(modifiedCombo);
    metadata->addWidget(m_fromLabel);
    metadata->addWidget(fromDate);
    metadata->addWidget(m_untilLabel);
    metadata->addWidget(untilDate);
    metadata->addStretch(1);
    QHBoxLayout* walk = row();
    walk->addWidget(hiddenCheck);
    walk->addSpacing(12);
    walk->addWidget(oneFileSystemCheck);
    walk->addStretch(1);
    walk->addWidget(resetButton);

    const QList<QWidget*> order = controls();
    for (qsizetype i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);

    for (QLineEdit* edit : {excludeEdit, extensionsEdit})
        connect(edit, &QLineEdit::textChanged, this, &FilterBar::controlChanged);
    for (QComboBox* combo : {kindCombo, minUnitCombo, maxUnitCombo, modifiedCombo})
        connect(combo, &QComboBox::currentIndexChanged, this, &FilterBar::controlChanged);
    for (QSpinBox* spin : {minSizeSpin, maxSizeSpin})
        connect(spin, &QSpinBox::valueChanged, this, &FilterBar::controlChanged);
    for (QDateEdit* edit : {fromDate, untilDate})
        connect(edit, &QDateEdit::dateChanged, this, &FilterBar::controlChanged);
    for (QCheckBox* box : {hiddenCheck, oneFileSystemCheck})
        connect(box, &QCheckBox::toggled, this, &FilterBar::controlChanged);
    connect(modifiedCombo, &QComboBox::currentIndexChanged, this, &FilterBar::showDays);
    connect(resetButton, &QPushButton::clicked, this, &FilterBar::reset);
    showDays();
}

FilterChoices FilterBar::choices() const {
    FilterChoices choices;
    choices.exclude = excludeEdit->text();
    choices.skipHidden = hiddenCheck->isChecked();
    choices.kind = static_cast<KindChoice>(kindCombo->currentIndex());
    choices.extensions = extensionsEdit->text();
    choices.minSize = {minSizeSpin->value(), static_cast<SizeUnit>(minUnitCombo->currentIndex())};
    choices.maxSize = {maxSizeSpin->value(), static_cast<SizeUnit>(maxUnitCombo->currentIndex())};
    choices.modified = static_cast<ModifiedChoice>(modifiedCombo->currentIndex());
    choices.from = fromDate->date();
    choices.until = untilDate->date();
    choices.oneFileSystem = oneFileSystemCheck->isChecked();
    return choices;
}

void FilterBar::setFilter(const FilterChoices& choices) {
    const FilterChoices before = this->choices();
    m_setting = true;
    excludeEdit->setText(choices.exclude);
    hiddenCheck->setChecked(choices.skipHidden);
    kindCombo->setCurrentIndex(static_cast<int>(choices.kind));
    extensionsEdit->setText(choices.extensions);
    minSizeSpin->setValue(choices.minSize.value);
    minUnitCombo->setCurrentIndex(static_cast<int>(choices.minSize.unit));
    maxSizeSpin->setValue(choices.maxSize.value);
    maxUnitCombo->setCurrentIndex(static_cast<int>(choices.maxSize.unit));
    modifiedCombo->setCurrentIndex(static_cast<int>(choices.modified));
    if (choices.from.isValid()) fromDate->setDate(choices.from);
    if (choices.until.isValid()) untilDate->setDate(choices.until);
    oneFileSystemCheck->setChecked(choices.oneFileSystem);
    m_setting = false;
    if (this->choices() != before) emit changed();
}

void FilterBar::reset() { setFilter(FilterChoices{}); }

QList<QWidget*> FilterBar::controls() const {
    return {excludeEdit,   extensionsEdit, kindCombo, minSizeSpin, minUnitCombo,       maxSizeSpin, maxUnitCombo,
            modifiedCombo, fromDate,       untilDate, hiddenCheck, oneFileSystemCheck, resetButton};
}

void FilterBar::showDays() {
    const bool between = modifiedCombo->currentIndex() == static_cast<int>(ModifiedChoice::Between);
    for (QWidget* widget : {static_cast<QWidget*>(m_fromLabel), static_cast<QWidget*>(fromDate),
                            static_cast<QWidget*>(m_untilLabel), static_cast<QWidget*>(untilDate)})
        widget->setVisible(between);
}

void FilterBar::controlChanged() {
    if (!m_setting) emit changed();
}

} // namespace toka
