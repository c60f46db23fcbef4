// The window's controls: what they are, where they stand, their captions and
// hints, and which handler each one runs.
#include <QAction>
#include <QBoxLayout>
#include <QEvent>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include "ui/widgets/explorer_tree.h"
#include "ui/widgets/filter_bar.h"
#include "ui/window/mainform.h"
#include "ui/window/status_strip.h"
#include "ui/window/settings_controller.h"
#include "ui/widgets/path_label.h"
#include "ui/widgets/tool_button.h"
#include "ui/widgets/tool_icons.h"
#include "ui/window/result_table.h"
#include "ui/window/results_controller.h"
#include "ui/window/search_controller.h"
#include "ui/window/viewer_controller.h"
#include "ui/widgets/text_memo.h"
#include "ui/widgets/strgrdex.h"

namespace toka {

namespace {

// Sizes at 96 dpi from the window's design; a control whose text needs more
// room on the desktop's font grows instead of clipping.
constexpr int kToolRowHeight = 33;
constexpr int kSearchRowHeight = 31;
constexpr int kStatusBarHeight = 19;
constexpr int kTreeWidth = 222;
constexpr int kViewerHeight = 160;

int atLeast(int designed, int needed) { return std::max(designed, needed); }

QFrame* separator(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setFixedSize(2, kToolButtonHeight);
    return line;
}

} // namespace

void TMainForm::createMenu() {
    QMenuBar* bar = menuBar();
    const auto item = [](QMenu* menu, const char* caption, bool checkable = false) {
        QAction* action = menu->addAction(QString::fromUtf8(caption));
        action->setCheckable(checkable);
        return action;
    };
    m_Fie1 = bar->addMenu("&File");
    m_Copy1 = item(m_Fie1, "&Copy...");
    m_Move1 = item(m_Fie1, "&Move...");
    m_Delete1 = item(m_Fie1, "&Delete...");
    m_N1 = m_Fie1->addSeparator();
    m_E1 = item(m_Fie1, "&Exit...");

    m_Edit1 = bar->addMenu("&Edit");
    m_InvertSelection1 = item(m_Edit1, "&Invert Selection...");

    m_Search1 = bar->addMenu("&Search");
    m_Search1->addAction(m_settings->RecurseSubdirectories1());
    m_Search1->addAction(m_settings->Searchlengthindependendfuzzy1());
    m_N2 = m_Search1->addSeparator();
    m_Directory1 = item(m_Search1, "&Directory...");
    m_AllFixedDisks1 = item(m_Search1, "All &Fixed Disks...");
    m_Stop1 = item(m_Search1, "Stop...");

    m_Options1 = bar->addMenu("&View");
    for (QAction* option : {m_settings->ShowFileToolbar1(), m_settings->ShowFlybyHints1(),
                            m_settings->ShowFileViewer1(), m_settings->ShowFilters1()})
        m_Options1->addAction(option);
    m_N3 = m_Options1->addSeparator();
    m_Options1->addAction(m_settings->WarningSearchResultChanged1());
    m_Options1->addAction(m_settings->AllPictureFormats1());
    connect(m_settings->AllPictureFormats1(), &QAction::toggled, m_viewer, &ViewerController::setAllPictureFormats);

    m_results->createSortCommands(m_Options1);
    m_Stop1->setEnabled(false);
}

void TMainForm::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // A new palette (a dark theme chosen while the window is open) redraws
    // the pictures with outlines that stand out from it.
    if (event->type() == QEvent::PaletteChange && m_Toolbar1) redrawToolPictures(m_Toolbar1, palette());
}

void TMainForm::createToolButtons() {
    m_Toolbar1 = new QWidget(m_Panel3);
    m_Toolbar1->setObjectName("Toolbar1");
    m_Toolbar1->setMinimumHeight(kToolRowHeight);
    auto* row = new QHBoxLayout(m_Toolbar1);
    row->setContentsMargins(4, 2, 0, kToolRowHeight - kToolButtonHeight - 2);
    row->setSpacing(0);

    // The search's buttons and toggles first, then the file buttons and the
    // viewer's toggle.
    m_search->createToolButtons(m_Toolbar1);
    m_Bevel1 = separator(m_Toolbar1);
    m_sbCopy = pictureToolButton(m_Toolbar1, ToolPicture::Copy, "Copy selected Files to highlighted Directory");
    m_sbMove = pictureToolButton(m_Toolbar1, ToolPicture::Move, "Move selected Files to highlighted Directory");
    m_sbDelete = pictureToolButton(m_Toolbar1, ToolPicture::Delete, "Delete selected Files ");
    m_sbInvert = pictureToolButton(m_Toolbar1, ToolPicture::Invert, "Invert selected Files");
    m_Bevel2 = separator(m_Toolbar1);
    m_sbFileViewer = pictureToolButton(m_Toolbar1, ToolPicture::FileViewer, "Toggle File Viewer", true, true);

    // The gaps between neighbours, from the designed x positions (4, 44,
    // 84, 127, 174, 212, 257, 262, 302, 342, 381, 425, 436) and widths.
    const SearchController& search = *m_search;
    const std::pair<QWidget*, int> items[] = {
        {search.sbSearchDir(), 0},
        {search.sbSearchHDs(), 0},
        {search.sbStop(), 0},
        {search.sbRecurseDirs(), 3},
        {search.sbMeasure(), 7},
        {search.sbSimilar(), 0},
        {m_Bevel1, 5},
        {m_sbCopy, 3},
        {m_sbMove, 0},
        {m_sbDelete, 0},
        {m_sbInvert, 0},
        {m_Bevel2, 4},
        {m_sbFileViewer, 9},
    };
    for (const auto& [widget, gap] : items) {
        if (gap) row->addSpacing(gap);
        row->addWidget(widget, 0, Qt::AlignTop);
    }
    row->addStretch(1);
    m_sbFileViewer->setChecked(true);
}

void TMainForm::createControls() {
    setWindowTitle(QString::fromLatin1(kCaption));
    resize(803, 558);

    m_viewerSplitter = new QSplitter(Qt::Vertical, this);
    m_viewerSplitter->setHandleWidth(3);
    m_viewerSplitter->setChildrenCollapsible(false);
    setCentralWidget(m_viewerSplitter);

    m_Panel3 = new QWidget(m_viewerSplitter);
    m_Panel3->setObjectName("Panel3");
    auto* column = new QVBoxLayout(m_Panel3);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // The search row.
    m_ToolBar0 = new QFrame(m_Panel3);
    m_ToolBar0->setObjectName("ToolBar0");
    m_ToolBar0->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    m_ToolBar0->setMinimumHeight(kSearchRowHeight);
    auto* toolBarLayout = new QHBoxLayout(m_ToolBar0);
    toolBarLayout->setContentsMargins(1, 1, 1, 1);
    m_Panel1 = new QWidget(m_ToolBar0);
    toolBarLayout->addWidget(m_Panel1);
    auto* searchRow = new QHBoxLayout(m_Panel1);
    searchRow->setContentsMargins(4, 2, 4, 2);
    searchRow->setSpacing(6);
    m_Label4 = new QLabel("Search for:", m_Panel1);
    m_search->createSearchText(m_Panel1);
    m_Label1 = new QLabel("Items:", m_Panel1);
    m_seNumberofItems = new QSpinBox(m_Panel1);
    m_seNumberofItems->setRange(10, 100);
    m_seNumberofItems->setSingleStep(10);
    m_seNumberofItems->setValue(30);
    m_seNumberofItems->setToolTip("Number of Item to display (10-100)");
    m_seNumberofItems->setFixedWidth(atLeast(62, m_seNumberofItems->sizeHint().width()));
    searchRow->addWidget(m_Label4);
    searchRow->addWidget(m_search->eSearch());
    searchRow->addSpacing(8);
    searchRow->addWidget(m_Label1);
    searchRow->addWidget(m_seNumberofItems);
    searchRow->addStretch(1);

    m_pFilters = new FilterBar(m_Panel3);
    createToolButtons();
    m_StatusPanel = new StatusStrip(m_Panel3);

    m_treeSplitter = new QSplitter(Qt::Horizontal, m_Panel3);
    m_treeSplitter->setHandleWidth(4);
    m_treeSplitter->setChildrenCollapsible(false);
    m_Explorer = new QTreeWidget(m_treeSplitter);
    m_Explorer->setObjectName("Explorer");
    m_Explorer->setHeaderHidden(true);
    m_Explorer->setColumnCount(1);
    m_Explorer->setIndentation(19);
    m_Explorer->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_Explorer->setSortingEnabled(false);
    m_Explorer->setToolTip("Directory Explorer");
    m_results = new ResultsController(m_treeSplitter, m_locale);
    m_treeSplitter->setStretchFactor(0, 0);
    m_treeSplitter->setStretchFactor(1, 1);
    m_treeSplitter->setSizes({kTreeWidth, 803 - kTreeWidth});
    m_Splitter1 = m_treeSplitter->handle(1);
    m_Splitter1->setToolTip("Hold Mouse Button to move");

    column->addWidget(m_ToolBar0);
    column->addWidget(m_pFilters);
    column->addWidget(m_Toolbar1);
    column->addWidget(m_StatusPanel);
    column->addWidget(m_treeSplitter, 1);

    // The viewer, below everything, hidden by FormShow.
    m_viewer = new ViewerController(m_viewerSplitter);
    m_viewerSplitter->addWidget(m_Panel3);
    m_viewerSplitter->addWidget(m_viewer->pFileViewer());
    m_viewerSplitter->setStretchFactor(0, 1);
    m_viewerSplitter->setStretchFactor(1, 0);
    m_viewerSplitter->setSizes({558 - kViewerHeight, kViewerHeight});
    m_Splitter2 = m_viewerSplitter->handle(1);

    m_StatusBar = statusBar();
    m_StatusBar->setToolTip("Status Bar");
    m_StatusBar->setMinimumHeight(kStatusBarHeight);
    m_statusLabel = new QLabel("Ready", m_StatusBar);
    m_StatusBar->addWidget(m_statusLabel, 1);

    m_Timer = new QTimer(this);
    m_Timer->setInterval(1000);
    m_statusTimer = new QTimer(this);

    createMenu();

    // Tab goes tree, grid, search text, item count, the filters (when
    // shown), viewer memo, and round.
    for (QWidget* passive :
         {static_cast<QWidget*>(m_Splitter1), static_cast<QWidget*>(m_Splitter2), static_cast<QWidget*>(m_StatusBar)})
        passive->setFocusPolicy(Qt::NoFocus);
    setTabOrder(m_Explorer, m_results->sgexResults());
    setTabOrder(m_results->sgexResults(), m_search->eSearch());
    setTabOrder(m_search->eSearch(), m_seNumberofItems);
    QWidget* previous = m_seNumberofItems;
    for (QWidget* filter : m_pFilters->controls()) {
        setTabOrder(previous, filter);
        previous = filter;
    }
    setTabOrder(previous, m_viewer->mFileViewer());
}

void TMainForm::fitWindowToColumns(int columns) {
    // The widths asked for, not the ones shown: the last column stretches
    // to the table's edge.
    int designed = 0;
    for (int width : kResultColumnWidths) designed += width;
    if (columns > designed) resize(width() + columns - designed, height());
}

void TMainForm::searchOnEnter() {
    if (!m_search->sbSearchDir()->isEnabled()) return;
    m_lastSearch = m_enterSearchesAllDisks ? &TMainForm::sbSearchHDsClick : &TMainForm::sbSearchClick;
    (this->*m_lastSearch)();
}

void TMainForm::connectHandlers() {
    const auto both = [this](QToolButton* button, QAction* action, void (TMainForm::*handler)()) {
        if (button) connect(button, &QToolButton::clicked, this, handler);
        if (action) connect(action, &QAction::triggered, this, handler);
    };
    // A search command notes itself before it starts, for Search Again.
    const auto search = [this, &both](QToolButton* button, QAction* action, void (TMainForm::*handler)()) {
        const auto note = [this, handler] { m_lastSearch = handler; };
        connect(button, &QToolButton::clicked, this, note);
        connect(action, &QAction::triggered, this, note);
        both(button, action, handler);
    };
    search(m_search->sbSearchDir(), m_Directory1, &TMainForm::sbSearchClick);
    search(m_search->sbSearchHDs(), m_AllFixedDisks1, &TMainForm::sbSearchHDsClick);
    both(m_search->sbStop(), m_Stop1, &TMainForm::sbStopClick);
    both(m_search->sbRecurseDirs(), m_settings->RecurseSubdirectories1(), &TMainForm::sbRecurseDirsClick);
    both(m_search->sbMeasure(), m_settings->Searchlengthindependendfuzzy1(), &TMainForm::sbMeasureClick);
    both(m_search->sbSimilar(), nullptr, &TMainForm::sbMeasureClick);
    both(nullptr, m_settings->ShowFileToolbar1(), &TMainForm::ShowFileToolbar1Click);
    both(nullptr, m_settings->ShowFlybyHints1(), &TMainForm::ShowFlybyHints1Click);
    both(m_sbFileViewer, m_settings->ShowFileViewer1(), &TMainForm::sbFileViewerClick);
    both(nullptr, m_settings->WarningSearchResultChanged1(), &TMainForm::WarningSearchResultChanged1Click);
    both(nullptr, m_settings->ShowFilters1(), &TMainForm::ShowFilters1Click);
    both(nullptr, m_E1, &TMainForm::E1Click);
    both(m_sbCopy, m_Copy1, &TMainForm::sbCopyClick);
    both(m_sbMove, m_Move1, &TMainForm::sbMoveClick);
    both(m_sbDelete, m_Delete1, &TMainForm::sbDeleteClick);
    both(m_sbInvert, m_InvertSelection1, &TMainForm::sbInvertClick);

    connect(m_Timer, &QTimer::timeout, this, &TMainForm::TimerTimer);
    connect(m_statusTimer, &QTimer::timeout, this, &TMainForm::showWalkStatus);
    connect(m_seNumberofItems, &QSpinBox::valueChanged, this, &TMainForm::seNumberofItemsChange);
    connect(m_results->sgexResults(), &TStringGridEx::MouseUp, this, &TMainForm::sgexResultsMouseUp);
    // A mark moved with the arrow keys loads the viewer as a click does.
    connect(m_results->sgexResults(), &TStringGridEx::KeyMarked, this, &TMainForm::sgexResultsMouseUp);
    connect(m_results, &ResultsController::sortByHeaderClickChanged, this, [this](bool on) {
        m_settings->setSortByHeaderClick(on);
        SyncOptions();
    });
    connect(m_Explorer, &QTreeWidget::itemExpanded, this, &TMainForm::ExplorerExpanding);
    connect(m_Explorer, &QTreeWidget::itemCollapsed, this, &TMainForm::ExplorerCollapsed);
    // The selection, not the current item: Qt makes the first node current
    // when the tree gets the focus, which selects nothing.
    connect(m_Explorer, &QTreeWidget::itemSelectionChanged, this,
            [this] { ExplorerChange(m_Explorer->selectedItems().value(0)); });
    // Return in the search box starts a search of the selected directory,
    // as long as searching is possible (not during a search); of all fixed
    // disks when the command line asked for that and no directory has been
    // chosen since.
    connect(m_search->eSearch(), &QLineEdit::returnPressed, this, &TMainForm::searchOnEnter);
}

} // namespace toka
