#include "fileops/file_op_questions.h"

namespace toka {

std::string FileOpFailure::describe() const {
    const std::string quoted = "\"" + path + "\"";
    switch (kind) {
    case FailureKind::Vanished:
        return quoted + " no longer exists.";
    case FailureKind::IntoItself:
        return "The folder " + quoted + " cannot be copied or moved into itself.";
    case FailureKind::OntoItself:
        return quoted + " cannot be copied or moved onto itself.";
    case FailureKind::MountPoint:
        return quoted + " is a mount point: it and everything in it stay untouched.";
    case FailureKind::ChangedDuringMove:
        return quoted
               + " changed while it was being moved. It stays where it was; "
                 "the copy made before the change is at the destination.";
    case FailureKind::InvalidSource:
        return quoted + " does not name a file or folder.";
    case FailureKind::DestinationMissing:
        return "The destination folder " + quoted + " does not exist.";
    case FailureKind::DestinationNotDirectory:
        return "The destination " + quoted + " is not a folder.";
    case FailureKind::LeftOver:
        return "Could not remove " + quoted + (code ? ": " + reason() : "")
               + ". Nothing else is lost; the item may be removed by hand.";
    case FailureKind::SystemError:
        break;
    }
    return "Could not " + operation + " " + quoted + (code ? ": " + reason() : "") + ".";
}

} // namespace toka
