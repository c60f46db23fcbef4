#pragma once
// Files and folders that the program keeps for the user alone (the recorded
// walks and their folder): whose they are, who may write to them, and where
// the user's home is when the environment does not say.

#include <optional>
#include <string>
#include <sys/stat.h>

#include "platform/core/sys_error.h"

namespace toka {

/// Why status describes something the program must not trust as the user's
/// own: it belongs to another user, or group or others may write to it.
/// "" when it is the user's (the effective user's) and only theirs to change.
std::string notPrivateBecause(const struct stat& status);

/// Creates dir and its missing ancestors with mode 0700.
std::optional<SysError> makePrivateDirectories(const std::string& dir);

/// The user's home: $HOME when it is an absolute path, else the home of the
/// effective user in the password database; "" when neither is known.  Never
/// a shared place such as /tmp.
std::string userHomeDirectory();

} // namespace toka
