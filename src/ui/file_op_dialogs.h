#pragma once
// The dialogs of copy, move and delete: the window's answers to the questions
// of the file-operation engine, and the one call the window makes to run it.
//
// Every question is a modal QMessageBox over the progress dialog when that is
// shown, else over the parent.  Buttons and the "apply to all" check box
// carry object names (see FileOpDialogs::ButtonName) so that a script can
// find them whatever the wording.

#include <QCoreApplication>
#include <QPointer>
#include <QString>
#include <string>
#include <vector>

#include "platform/fileops/file_op_questions.h"
#include "platform/fileops/system_calls.h"

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

    /// Below kProgressDelay of elapsed time only lets timers and other
    /// non-input events run (a click on the window then waits, so that no
    /// second operation can start inside this one).  From then on shows an
    /// application-modal progress dialog with the current item, the bytes
    /// done (items done for a delete) and a Cancel button, and processes all
    /// pending events.
    void progress(const FileOpProgress& progress) override;
    /// True once Cancel of the progress dialog was pressed (or it was closed).
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
    bool m_cancelRequested = false;
};

/// Runs the copy (code 0), move (1) or delete (2) of paths into destination
/// on the caller's thread, answering the engine's questions with
/// FileOpDialogs under parent, and returns when it is done or cancelled.
/// paths: full paths as bytes, in the order to work on; destination: a
/// directory path ending in "/" (not looked at for delete).  An empty list
/// returns at once and asks nothing.
/// The caller shows whatever follows (the window's "result may have changed"
/// box).  system: the engine's system calls, replaced only in tests.
FileOpResult runFileOperation(QWidget* parent, const std::vector<std::string>& paths, FileOpKind kind,
                              const std::string& destination, SystemCalls& system = posixSystemCalls());

} // namespace toka
