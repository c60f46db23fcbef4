#pragma once
// The dialogs of copy, move and delete: the window's answers to the questions
// of the file-operation engine (which runs on a worker: file_op_job.h).
//
// Every question is a modal QMessageBox over the progress dialog when that is
// shown, else over the parent.  Buttons and the "apply to all" check box
// carry object names (see FileOpDialogs::ButtonName) so that a script can
// find them whatever the wording.

#include <QCoreApplication>
#include <QPointer>
#include <QString>
#include <atomic>
#include <string>
#include <vector>

#include "fileops/file_op_questions.h"
#include "platform/core/system_calls.h"

class QProgressDialog;
class QWidget;

namespace toka {

class FileOpDialogs : public FileOpQuestions {
    Q_DECLARE_TR_FUNCTIONS(FileOpDialogs)

public:
    /// Object names of the buttons of the questions.
    struct ButtonName {
        static constexpr const char* Delete = "delete";
        static constexpr const char* Replace = "replace"; ///< "Merge" for a folder onto a folder
        static constexpr const char* Skip = "skip";
        static constexpr const char* Cancel = "cancel";
        static constexpr const char* ApplyToAll = "applyToAll"; ///< the check box
    };

    /// parent owns the dialogs (may be null); kind names them.
    FileOpDialogs(QWidget* parent, FileOpKind kind);
    ~FileOpDialogs() override;
    FileOpDialogs(const FileOpDialogs&) = delete;
    FileOpDialogs& operator=(const FileOpDialogs&) = delete;

    /// "Permanently delete N items?"; Cancel (also Escape) is the default.
    bool confirmDelete(std::size_t count) override;
    /// Replace (Merge for two folders) / Skip / Cancel, with "Apply to all".
    /// Skip is the default; Escape cancels.
    ExistsReply askExists(const ItemInfo& source, const ItemInfo& existing) override;
    /// The failure in one sentence with the system's error text; Skip / Cancel.
    FailureAction askFailure(const FileOpFailure& failure) override;
    void showError(const FileOpFailure& failure) override;

    /// Nothing below kProgressDelay of elapsed time; from then on an
    /// application-modal progress dialog with the current item, the bytes
    /// done (items done for a delete) and a Cancel button.
    void progress(const FileOpProgress& progress) override;
    /// True once Cancel of the progress dialog was pressed (or it was
    /// closed).  May be read from any thread.
    bool cancelRequested() override;

    /// The progress dialog, or null while it has not been shown.
    QProgressDialog* progressDialog() const;

    /// Closes the progress dialog; the operation is over.
    void finish();

    /// The title of every dialog of one operation: "Copy", "Move" or "Delete".
    static QString titleOf(FileOpKind kind);

private:
    QWidget* dialogParent() const;
    void showProgressDialog();
    void updateProgressDialog(const FileOpProgress& progress);

    QPointer<QWidget> m_parent;
    FileOpKind m_kind;
    QPointer<QProgressDialog> m_progressDialog;
    std::atomic<bool> m_cancelRequested{false};
};

} // namespace toka
