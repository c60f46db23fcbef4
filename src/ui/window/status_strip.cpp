// The status strip: its labels, their captions, hints and places.
#include "ui/window/status_strip.h"

#include <QBoxLayout>
#include <QLabel>

#include "ui/widgets/path_label.h"

namespace toka {

namespace {

// The strip's height at 96 dpi from the window's design.
constexpr int kStatusStripHeight = 17;

} // namespace

StatusStrip::StatusStrip(QWidget* parent) : QWidget(parent) {
    setObjectName("StatusPanel");
    setToolTip("Files Status Bar");
    setMinimumHeight(kStatusStripHeight);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(2, 0, 0, 0);
    row->setSpacing(0);
    m_lCurrentDir = new PathLabel(this);
    m_lCurrentDir->setToolTip("Selected Directory");
    m_lCurrentDir->setMinimumWidth(0);
    m_lCurrentDir->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_lFiltered = new QLabel("Filtered", this);
    m_lFiltered->setObjectName("lFiltered");
    QFont bold = m_lFiltered->font();
    bold.setBold(true);
    m_lFiltered->setFont(bold);
    m_lFiltered->setContentsMargins(6, 0, 12, 0);
    m_lFiltered->setVisible(false);
    m_Label2 = new QLabel("Files scanned:   ", this);
    m_lFileScanned = new QLabel("0", this);
    m_lFileScanned->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_lFileScanned->setToolTip("Number of Files Scanned");
    m_Label3 = new QLabel("       ", this);
    m_Label3->setFixedWidth(20);
    for (QLabel* label : {m_Label2, m_Label3}) label->setToolTip("Number of Files Scanned during last Search");
    row->addWidget(m_lCurrentDir, 1);
    row->addWidget(m_lFiltered);
    row->addWidget(m_Label2);
    row->addWidget(m_lFileScanned);
    row->addWidget(m_Label3);
}

void StatusStrip::addMark(QLabel* mark) {
    auto* row = static_cast<QBoxLayout*>(layout());
    row->insertWidget(row->indexOf(m_Label3), mark);
}

} // namespace toka
