#pragma once
// The error value of the platform layer: which call failed, on which path,
// with which errno.  Platform calls return Result<T>, a value or such an
// error; nothing in this layer throws for a failing system call.

#include <cassert>
#include <string>
#include <utility>
#include <variant>

namespace toka {

struct SysError {
    SysError() = default;
    SysError(std::string operation_, std::string path_, int code_, std::string detail_ = {})
        : operation(std::move(operation_)), path(std::move(path_)), code(code_), detail(std::move(detail_)) {}

    std::string operation; ///< the failing call, e.g. "openat"
    std::string path;      ///< the path it worked on (may be empty)
    int code = 0;          ///< errno at the time of the failure
    /// Said instead of the system's text for code when set: why the program
    /// itself refused (a folder that belongs to another user, say).
    std::string detail;

    /// "openat /home/anna/x: Permission denied"
    std::string message() const;
    /// detail, or the system's text for code: "Permission denied".
    std::string reason() const;
};

/// A value or the SysError that kept it from being produced.
template <class T>
class Result {
public:
    Result(T value) : m_state(std::move(value)) {}
    Result(SysError error) : m_state(std::move(error)) {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() {
        assert(ok() && "value() of a failed Result");
        return std::get<0>(m_state);
    }
    const T& value() const {
        assert(ok() && "value() of a failed Result");
        return std::get<0>(m_state);
    }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const SysError& error() const {
        assert(!ok() && "error() of a successful Result");
        return std::get<1>(m_state);
    }

private:
    std::variant<T, SysError> m_state;
};

/// A SysError from the current errno.
SysError lastError(std::string operation, std::string path);

} // namespace toka
