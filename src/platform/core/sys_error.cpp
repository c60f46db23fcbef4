#include "platform/core/sys_error.h"

#include <cerrno>
#include <cstring>

namespace toka {

std::string SysError::message() const {
    std::string text = operation;
    if (!path.empty()) {
        text += ' ';
        text += path;
    }
    text += ": ";
    text += reason();
    return text;
}

std::string SysError::reason() const { return detail.empty() ? std::string(std::strerror(code)) : detail; }

SysError lastError(std::string operation, std::string path) {
    return SysError{std::move(operation), std::move(path), errno};
}

} // namespace toka
