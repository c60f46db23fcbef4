// Recorded walks in the window: the Search menu's record commands, and
// search as you type, where the record of the selected directory answers
// each text after a short pause, without a walk (search_controller.h keeps
// the records).
#include <QAction>
#include <QBoxLayout>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QToolButton>

#include "search/parallel_walk.h"
#include "similar/text.h"
#include "ui/widgets/filter_bar.h"
#include "ui/window/mainform.h"
#include "ui/window/status_strip.h"
#include "ui/window/settings_controller.h"
#include "ui/window/search_controller.h"

namespace toka {

namespace {

// Typing pauses this long before the record answers the text.
constexpr int kTypingPauseMs = 50;
// Shorter texts match too much to be worth an answer while typing.
constexpr std::size_t kTypingMinLength = 3;

} // namespace

void TMainForm::setRecordDirectory(const std::string& directory) { m_search->setRecordDirectory(directory); }

void TMainForm::createRecordCommands() {
    m_Search1->addSeparator();
    m_Search1->addAction(m_settings->SearchAsYouType1());
    m_Search1->addAction(m_settings->RecordWalks1());
    m_ForgetRecordedWalks1 = m_Search1->addAction("Forget Recorded Wal&ks");
    // The settings keep the option; the record of the last search is kept
    // current only while walks are recorded.
    connect(m_settings->RecordWalks1(), &QAction::toggled, this, [this](bool on) {
        if (!on) m_search->stopKeepingCurrent();
    });
    connect(m_ForgetRecordedWalks1, &QAction::triggered, this,
            [this] { m_search->forgetRecords([this](const QString& said) { setStatusText(said); }); });

    // The record's mark stands left of the count's margin.
    m_StatusPanel->addMark(m_search->lRecorded());
    connect(m_search, &SearchController::recordedAnswerShown, this, [this] {
        TimerTimer();
        emit recordedAnswerShown();
    });

    m_typingTimer = new QTimer(this);
    m_typingTimer->setSingleShot(true);
    m_typingTimer->setInterval(kTypingPauseMs);
    connect(m_typingTimer, &QTimer::timeout, this, &TMainForm::searchAsYouType);
    connect(m_search->eSearch(), &QLineEdit::textChanged, this, [this] {
        if (m_settings->SearchAsYouType() && m_settings->RecordWalks() && m_search->hasRecords() && !m_searching)
            m_typingTimer->start();
    });
}

void TMainForm::searchAsYouType() {
    if (m_settings->SearchAsYouType()) answerFromRecord();
}

void TMainForm::answerFromRecord() {
    if (!m_settings->RecordWalks() || m_searching || selectedDirectory().empty()) return;
    const std::string text = m_search->eSearch()->text().toStdString();
    if (DecodeName(text).size() < kTypingMinLength) return;
    const ScanOptions options{m_settings->RecurseDirs(), m_search->sbMeasure()->isChecked(),
                              m_pFilters->filter(QDateTime::currentDateTime())};
    m_search->answerFromRecord({{selectedDirectory()}}, text, options);
}

} // namespace toka
