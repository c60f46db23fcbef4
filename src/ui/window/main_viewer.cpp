// The file viewer: a mouse release over the result table loads every marked
// file into the pane below it, pictures into the picture box, the rest as
// text into the memo.  The files are read on the viewer's worker
// (viewer_loads.h) and shown as they arrive, in the order asked.
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>

#include "viewer/picture_formats.h"
#include "ui/window/mainform.h"
#include "ui/widgets/strgrdex.h"
#include "ui/logic/viewer_loads.h"

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

void TMainForm::sgexResultsMouseUp() {
    if (!pFileViewer->isVisible()) return;
    std::vector<std::string> paths;
    for (int r = 1; r < sgexResults->RowCount(); ++r)
        if (sgexResults->IsRowMarked(r)) paths.push_back(resultPath(r));
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

void TMainForm::ViewFile(const std::string& path) {
    if (isViewerPicture(path)) {
        m_viewerLoads->loadPicture(
            path, [this] { mFileViewer->hide(); },
            [this](LoadResult<QImage>& picture) {
                if (picture) mFileImageView->setPixmap(QPixmap::fromImage(std::move(picture).value()));
                else showPictureError();
            });
        return;
    }
    m_viewerLoads->loadText(
        path,
        [this] {
            mFileViewer->show();
            // Cleared first, so that a large earlier text is freed before
            // the next one is shown.
            mFileViewer->clear();
        },
        [this](LoadResult<QString>& text) {
            mFileViewer->setPlainText(text ? std::move(text).value() : QStringLiteral("not available"));
        });
}

bool TMainForm::isViewerLoading() const { return m_viewerLoads->busy(); }

} // namespace toka
