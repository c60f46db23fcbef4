#include "ui/window/viewer_controller.h"

#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QStackedLayout>

#include "ui/logic/viewer_loads.h"
#include "ui/widgets/text_memo.h"
#include "viewer/picture_formats.h"

namespace toka {

namespace {

// Without an owner window, as designed: the box stands on its own and is
// centred on the screen.  exec() still makes it application-modal, so the
// table cannot start another round of loads (and another box on top of this
// one) while the loop that opened it waits for the OK.
void showPictureError() {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Problem"), QStringLiteral("Grafik fehlerhaft"),
                    QMessageBox::Ok);
    box.exec();
}

} // namespace

ViewerController::ViewerController(QWidget* parent) : QObject(parent), m_loads(std::make_unique<ViewerLoads>()) {
    m_pane = new QWidget(parent);
    m_pane->setObjectName("pFileViewer");
    m_pane->setAutoFillBackground(true);
    auto* stack = new QStackedLayout(m_pane);
    stack->setStackingMode(QStackedLayout::StackAll);
    // The picture box shows a picture at its own size from the top left and
    // cuts it at the pane's edges: its size policy keeps a large picture
    // from growing the pane (a label's minimum size is its picture's).
    m_picture = new QLabel(m_pane);
    m_picture->setObjectName("mFileImageView");
    m_picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_picture->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    m_picture->setFocusPolicy(Qt::NoFocus);
    m_memo = new TextMemo(m_pane);
    m_memo->setObjectName("mFileViewer");
    m_memo->setPlainText("TOKA Search\nThe Nufa File Finder");
    stack->addWidget(m_picture);
    stack->addWidget(m_memo);
    stack->setCurrentWidget(m_memo); // the memo lies on top of the picture
}

// The loads' worker goes first: its answers must not reach a pane half gone.
ViewerController::~ViewerController() { m_loads.reset(); }

void ViewerController::viewMarked(const std::vector<std::string>& paths) {
    for (std::size_t i = 0; i < paths.size(); ++i) {
        // A text that a later marked row replaces (a later text) or hides (a
        // later picture hides the memo first thing, before any event is
        // processed) is never seen, so it is not read: with every row marked,
        // one large text file would otherwise be read on every click.
        // Pictures are all loaded: each may end in the error box, and the
        // last good one stays in the picture box.
        const bool last = i + 1 == paths.size();
        if (last || isViewerPicture(paths[i])) ViewFile(paths[i]);
    }
}

void ViewerController::ViewFile(const std::string& path) {
    const PictureFormats formats = viewerPictureFormats();
    if (isViewerPicture(path, formats)) {
        m_loads->loadPicture(
            path, formats, [this] { m_memo->hide(); },
            [this](LoadResult<QImage>& picture) {
                if (picture) m_picture->setPixmap(QPixmap::fromImage(std::move(picture).value()));
                else showPictureError();
            });
        return;
    }
    m_loads->loadText(
        path,
        [this] {
            m_memo->show();
            // Cleared first, so that a large earlier text is freed before
            // the next one is shown.
            m_memo->clear();
        },
        [this](LoadResult<QString>& text) {
            m_memo->setPlainText(text ? std::move(text).value() : QStringLiteral("not available"));
        });
}

bool ViewerController::isLoading() const { return m_loads->busy(); }

void ViewerController::setAllPictureFormats(bool on) {
    const std::uint64_t asked = ++m_formatsAsked;
    if (!on) {
        setViewerPictureFormats(PictureFormats::Designed);
        return;
    }
    m_loads->readPictureFormats([this, asked] {
        if (asked == m_formatsAsked) setViewerPictureFormats(PictureFormats::EveryReadable);
    });
}

} // namespace toka
