// The file viewer: a mouse release over the result table loads every marked
// file into the pane below it, pictures into the picture box, the rest as
// text into the memo.
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>

#include "platform/viewer/picture_loader.h"
#include "platform/viewer/viewer_text.h"
#include "ui/mainform.h"
#include "ui/strgrdex.h"
#include "platform/viewer/viewer_extension.h"

namespace toka {

namespace {

bool isPicturePath(const std::string& path) { return isPictureExtension(viewerExtension(path)); }

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
        if (last || isPicturePath(paths[i])) ViewFile(paths[i]);
    }
}

void TMainForm::ViewFile(const std::string& path) {
    if (isPicturePath(path)) {
        mFileViewer->hide();
        LoadResult<QImage> picture = loadPicture(path);
        if (picture) mFileImageView->setPixmap(QPixmap::fromImage(std::move(picture).value()));
        else showPictureError();
        return;
    }
    mFileViewer->show();
    // Cleared first, so that a large earlier text is freed before the next
    // one is read.
    mFileViewer->clear();
    LoadResult<QString> text = loadViewerText(path);
    mFileViewer->setPlainText(text ? std::move(text).value() : QStringLiteral("not available"));
}

} // namespace toka
