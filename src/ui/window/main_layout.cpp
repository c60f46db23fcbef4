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
#include "ui/widgets/path_label.h"
#include "ui/widgets/tool_icons.h"
#include "ui/window/result_table.h"
#include "ui/window/results_controller.h"
#include "ui/window/viewer_controller.h"
#include "ui/widgets/text_memo.h"
#include "ui/widgets/strgrdex.h"

namespace toka {

namespace {

// Sizes at 96 dpi from the window's design; a control whose text needs more
// room on the desktop's font grows instead of clipping.
constexpr int kToolButtonWidth = 40;
constexpr int kToolButtonHeight = 28;
constexpr int kToolRowHeight = 33;
constexpr int kSearchRowHeight = 31;
constexpr int kStatusStripHeight = 17;
constexpr int kStatusBarHeight = 19;
constexpr int kTreeWidth = 222;
constexpr int kViewerHeight = 160;

// The picture a tool button shows, drawn anew when the palette changes.
constexpr const char* kToolPictureProperty = "toolPicture";

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
    Fie1 = bar->addMenu("&File");
    Copy1 = item(Fie1, "&Copy...");
    Move1 = item(Fie1, "&Move...");
    Delete1 = item(Fie1, "&Delete...");
    N1 = Fie1->addSeparator();
    E1 = item(Fie1, "&Exit...");

    Edit1 = bar->addMenu("&Edit");
    InvertSelection1 = item(Edit1, "&Invert Selection...");

    Search1 = bar->addMenu("&Search");
    RecurseSubdirectories1 = item(Search1, "&Recurse Subdirectories", true);
    Searchlengthindependendfuzzy1 = item(Search1, "Search length &independend (fuzzy)", true);
    N2 = Search1->addSeparator();
    Directory1 = item(Search1, "&Directory...");
    AllFixedDisks1 = item(Search1, "All &Fixed Disks...");
    Stop1 = item(Search1, "Stop...");

    Options1 = bar->addMenu("&View");
    ShowFileToolbar1 = item(Options1, "Show &Toolbar", true);
    ShowFlybyHints1 = item(Options1, "Show Flyby &Hints", true);
    ShowFileViewer1 = item(Options1, "Show File &Viewer", true);
    ShowFilters1 = item(Options1, "Show &Filters", true);
    N3 = Options1->addSeparator();
    WarningSearchResultChanged1 = item(Options1, "&Warning \"Search Result Changed\"", true);

    m_results->createSortCommands(Options1);

    // The designed states; FormShow and SyncOptions set them from the fields.
    for (QAction* checked : {RecurseSubdirectories1, Searchlengthindependendfuzzy1, ShowFileToolbar1, ShowFlybyHints1,
                             ShowFileViewer1, WarningSearchResultChanged1})
        checked->setChecked(true);
    Stop1->setEnabled(false);
}

void TMainForm::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // A new palette (a dark theme chosen while the window is open) redraws
    // the pictures with outlines that stand out from it.
    if (event->type() != QEvent::PaletteChange || !Toolbar1) return;
    for (QToolButton* button : Toolbar1->findChildren<QToolButton*>())
        if (const QVariant pic = button->property(kToolPictureProperty); pic.isValid())
            button->setIcon(toolIcon(static_cast<ToolPicture>(pic.toInt()), palette()));
}

void TMainForm::createToolButtons() {
    Toolbar1 = new QWidget(Panel3);
    Toolbar1->setObjectName("Toolbar1");
    Toolbar1->setMinimumHeight(kToolRowHeight);
    auto* row = new QHBoxLayout(Toolbar1);
    row->setContentsMargins(4, 2, 0, kToolRowHeight - kToolButtonHeight - 2);
    row->setSpacing(0);

    const auto button = [this](const char* hint, bool flat, bool checkable) {
        auto* b = new QToolButton(Toolbar1);
        b->setToolTip(QString::fromUtf8(hint));
        b->setAutoRaise(flat);
        b->setCheckable(checkable);
        b->setFocusPolicy(Qt::NoFocus);
        b->setIconSize(QSize(16, 16));
        b->setToolButtonStyle(Qt::ToolButtonIconOnly);
        return b;
    };
    const auto picture = [&](ToolPicture pic, const char* hint, bool flat = true, bool checkable = false) {
        QToolButton* b = button(hint, flat, checkable);
        b->setIcon(toolIcon(pic, palette()));
        b->setProperty(kToolPictureProperty, static_cast<int>(pic));
        b->setFixedSize(kToolButtonWidth, kToolButtonHeight);
        return b;
    };
    const auto caption = [&](const char* text, const char* hint) {
        QToolButton* b = button(hint, false, true);
        b->setText(QString::fromUtf8(text));
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        const int needed = b->fontMetrics().horizontalAdvance(b->text()) + 12;
        b->setFixedSize(atLeast(kToolButtonWidth, needed), kToolButtonHeight);
        return b;
    };

    sbSearchDir = picture(ToolPicture::SearchDirectory, "Search Selected Directory");
    sbSearchHDs = picture(ToolPicture::SearchDisks, "Search all Hard Disks");
    sbStop = picture(ToolPicture::Stop, "Stop current Search");
    sbRecurseDirs = picture(ToolPicture::RecurseDirs, "Recurse Subdirectories while searching", false, true);
    sbMeasure = caption("Fuzzy", "Search not length dependend");
    sbSimilar = caption("Similar", "Search is length dependend");
    Bevel1 = separator(Toolbar1);
    sbCopy = picture(ToolPicture::Copy, "Copy selected Files to highlighted Directory");
    sbMove = picture(ToolPicture::Move, "Move selected Files to highlighted Directory");
    sbDelete = picture(ToolPicture::Delete, "Delete selected Files ");
    sbInvert = picture(ToolPicture::Invert, "Invert selected Files");
    Bevel2 = separator(Toolbar1);
    sbFileViewer = picture(ToolPicture::FileViewer, "Toggle File Viewer", true, true);

    // The gaps between neighbours, from the designed x positions (4, 44,
    // 84, 127, 174, 212, 257, 262, 302, 342, 381, 425, 436) and widths.
    const std::pair<QWidget*, int> items[] = {
        {sbSearchDir, 0}, {sbSearchHDs, 0}, {sbStop, 0},       {sbRecurseDirs, 3}, {sbMeasure, 7},
        {sbSimilar, 0},   {Bevel1, 5},      {sbCopy, 3},       {sbMove, 0},        {sbDelete, 0},
        {sbInvert, 0},    {Bevel2, 4},      {sbFileViewer, 9},
    };
    for (const auto& [widget, gap] : items) {
        if (gap) row->addSpacing(gap);
        row->addWidget(widget, 0, Qt::AlignTop);
    }
    row->addStretch(1);

    sbRecurseDirs->setChecked(true);
    sbMeasure->setChecked(true);
    sbFileViewer->setChecked(true);
    sbStop->setEnabled(false);
}

void TMainForm::createStatusPanel() {
    StatusPanel = new QWidget(Panel3);
    StatusPanel->setObjectName("StatusPanel");
    StatusPanel->setToolTip("Files Status Bar");
    StatusPanel->setMinimumHeight(kStatusStripHeight);
    auto* row = new QHBoxLayout(StatusPanel);
    row->setContentsMargins(2, 0, 0, 0);
    row->setSpacing(0);
    lCurrentDir = new PathLabel(StatusPanel);
    lCurrentDir->setToolTip("Selected Directory");
    lCurrentDir->setMinimumWidth(0);
    lCurrentDir->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    lFiltered = new QLabel("Filtered", StatusPanel);
    lFiltered->setObjectName("lFiltered");
    QFont bold = lFiltered->font();
    bold.setBold(true);
    lFiltered->setFont(bold);
    lFiltered->setContentsMargins(6, 0, 12, 0);
    lFiltered->setVisible(false);
    Label2 = new QLabel("Files scanned:   ", StatusPanel);
    lFileScanned = new QLabel("0", StatusPanel);
    lFileScanned->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lFileScanned->setToolTip("Number of Files Scanned");
    Label3 = new QLabel("       ", StatusPanel);
    Label3->setFixedWidth(20);
    for (QLabel* label : {Label2, Label3}) label->setToolTip("Number of Files Scanned during last Search");
    row->addWidget(lCurrentDir, 1);
    row->addWidget(lFiltered);
    row->addWidget(Label2);
    row->addWidget(lFileScanned);
    row->addWidget(Label3);
}

void TMainForm::createControls() {
    setWindowTitle(QString::fromLatin1(kCaption));
    resize(803, 558);

    m_viewerSplitter = new QSplitter(Qt::Vertical, this);
    m_viewerSplitter->setHandleWidth(3);
    m_viewerSplitter->setChildrenCollapsible(false);
    setCentralWidget(m_viewerSplitter);

    Panel3 = new QWidget(m_viewerSplitter);
    Panel3->setObjectName("Panel3");
    auto* column = new QVBoxLayout(Panel3);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // The search row.
    ToolBar0 = new QFrame(Panel3);
    ToolBar0->setObjectName("ToolBar0");
    ToolBar0->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    ToolBar0->setMinimumHeight(kSearchRowHeight);
    auto* toolBarLayout = new QHBoxLayout(ToolBar0);
    toolBarLayout->setContentsMargins(1, 1, 1, 1);
    Panel1 = new QWidget(ToolBar0);
    toolBarLayout->addWidget(Panel1);
    auto* searchRow = new QHBoxLayout(Panel1);
    searchRow->setContentsMargins(4, 2, 4, 2);
    searchRow->setSpacing(6);
    Label4 = new QLabel("Search for:", Panel1);
    eSearch = new QLineEdit("TOKASearch", Panel1);
    eSearch->setToolTip("Enter Search String here");
    eSearch->setMaxLength(255);
    eSearch->setFixedWidth(176);
    Label1 = new QLabel("Items:", Panel1);
    seNumberofItems = new QSpinBox(Panel1);
    seNumberofItems->setRange(10, 100);
    seNumberofItems->setSingleStep(10);
    seNumberofItems->setValue(30);
    seNumberofItems->setToolTip("Number of Item to display (10-100)");
    seNumberofItems->setFixedWidth(atLeast(62, seNumberofItems->sizeHint().width()));
    searchRow->addWidget(Label4);
    searchRow->addWidget(eSearch);
    searchRow->addSpacing(8);
    searchRow->addWidget(Label1);
    searchRow->addWidget(seNumberofItems);
    searchRow->addStretch(1);

    pFilters = new FilterBar(Panel3);
    createToolButtons();
    createStatusPanel();

    m_treeSplitter = new QSplitter(Qt::Horizontal, Panel3);
    m_treeSplitter->setHandleWidth(4);
    m_treeSplitter->setChildrenCollapsible(false);
    Explorer = new QTreeWidget(m_treeSplitter);
    Explorer->setObjectName("Explorer");
    Explorer->setHeaderHidden(true);
    Explorer->setColumnCount(1);
    Explorer->setIndentation(19);
    Explorer->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Explorer->setSortingEnabled(false);
    Explorer->setToolTip("Directory Explorer");
    m_results = new ResultsController(m_treeSplitter, m_locale);
    m_treeSplitter->setStretchFactor(0, 0);
    m_treeSplitter->setStretchFactor(1, 1);
    m_treeSplitter->setSizes({kTreeWidth, 803 - kTreeWidth});
    Splitter1 = m_treeSplitter->handle(1);
    Splitter1->setToolTip("Hold Mouse Button to move");

    column->addWidget(ToolBar0);
    column->addWidget(pFilters);
    column->addWidget(Toolbar1);
    column->addWidget(StatusPanel);
    column->addWidget(m_treeSplitter, 1);

    // The viewer, below everything, hidden by FormShow.
    m_viewer = new ViewerController(m_viewerSplitter);
    m_viewerSplitter->addWidget(Panel3);
    m_viewerSplitter->addWidget(m_viewer->pFileViewer());
    m_viewerSplitter->setStretchFactor(0, 1);
    m_viewerSplitter->setStretchFactor(1, 0);
    m_viewerSplitter->setSizes({558 - kViewerHeight, kViewerHeight});
    Splitter2 = m_viewerSplitter->handle(1);

    StatusBar = statusBar();
    StatusBar->setToolTip("Status Bar");
    StatusBar->setMinimumHeight(kStatusBarHeight);
    m_statusLabel = new QLabel("Ready", StatusBar);
    StatusBar->addWidget(m_statusLabel, 1);

    Timer = new QTimer(this);
    Timer->setInterval(1000);
    m_statusTimer = new QTimer(this);

    createMenu();

    // Tab goes tree, grid, search text, item count, the filters (when
    // shown), viewer memo, and round.
    for (QWidget* passive :
         {static_cast<QWidget*>(Splitter1), static_cast<QWidget*>(Splitter2), static_cast<QWidget*>(StatusBar)})
        passive->setFocusPolicy(Qt::NoFocus);
    setTabOrder(Explorer, m_results->sgexResults());
    setTabOrder(m_results->sgexResults(), eSearch);
    setTabOrder(eSearch, seNumberofItems);
    QWidget* previous = seNumberofItems;
    for (QWidget* filter : pFilters->controls()) {
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
    if (!sbSearchDir->isEnabled()) return;
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
    search(sbSearchDir, Directory1, &TMainForm::sbSearchClick);
    search(sbSearchHDs, AllFixedDisks1, &TMainForm::sbSearchHDsClick);
    both(sbStop, Stop1, &TMainForm::sbStopClick);
    both(sbRecurseDirs, RecurseSubdirectories1, &TMainForm::sbRecurseDirsClick);
    both(sbMeasure, Searchlengthindependendfuzzy1, &TMainForm::sbMeasureClick);
    both(sbSimilar, nullptr, &TMainForm::sbMeasureClick);
    both(nullptr, ShowFileToolbar1, &TMainForm::ShowFileToolbar1Click);
    both(nullptr, ShowFlybyHints1, &TMainForm::ShowFlybyHints1Click);
    both(sbFileViewer, ShowFileViewer1, &TMainForm::sbFileViewerClick);
    both(nullptr, WarningSearchResultChanged1, &TMainForm::WarningSearchResultChanged1Click);
    both(nullptr, ShowFilters1, &TMainForm::ShowFilters1Click);
    both(nullptr, E1, &TMainForm::E1Click);
    both(sbCopy, Copy1, &TMainForm::sbCopyClick);
    both(sbMove, Move1, &TMainForm::sbMoveClick);
    both(sbDelete, Delete1, &TMainForm::sbDeleteClick);
    both(sbInvert, InvertSelection1, &TMainForm::sbInvertClick);

    connect(Timer, &QTimer::timeout, this, &TMainForm::TimerTimer);
    connect(m_statusTimer, &QTimer::timeout, this, &TMainForm::showWalkStatus);
    connect(seNumberofItems, &QSpinBox::valueChanged, this, &TMainForm::seNumberofItemsChange);
    connect(m_results->sgexResults(), &TStringGridEx::MouseUp, this, &TMainForm::sgexResultsMouseUp);
    // A mark moved with the arrow keys loads the viewer as a click does.
    connect(m_results->sgexResults(), &TStringGridEx::KeyMarked, this, &TMainForm::sgexResultsMouseUp);
    connect(m_results, &ResultsController::sortByHeaderClickChanged, this, [this](bool on) {
        SortByHeaderClick = on;
        SyncOptions();
    });
    connect(Explorer, &QTreeWidget::itemExpanded, this, &TMainForm::ExplorerExpanding);
    connect(Explorer, &QTreeWidget::itemCollapsed, this, &TMainForm::ExplorerCollapsed);
    // The selection, not the current item: Qt makes the first node current
    // when the tree gets the focus, which selects nothing.
    connect(Explorer, &QTreeWidget::itemSelectionChanged, this,
            [this] { ExplorerChange(Explorer->selectedItems().value(0)); });
    // Return in the search box starts a search of the selected directory,
    // as long as searching is possible (not during a search); of all fixed
    // disks when the command line asked for that and no directory has been
    // chosen since.
    connect(eSearch, &QLineEdit::returnPressed, this, &TMainForm::searchOnEnter);
}

} // namespace toka
