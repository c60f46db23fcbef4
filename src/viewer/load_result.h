#pragma once
// The outcome of a load: the value, or a one-line error text that names the
// operation, the file and the cause ("open /tmp/a.txt: No such file or
// directory").  The viewer turns every error into its fixed text or box, so
// the error text is for tools, tests and the developer.

#include <QString>

#include <cassert>
#include <optional>
#include <utility>

namespace toka {

template <typename T>
class LoadResult {
public:
    static LoadResult success(T value) { return LoadResult(std::move(value), {}); }
    static LoadResult failure(QString error) { return LoadResult(std::nullopt, std::move(error)); }

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }

    const T& value() const& {
        assert(m_value && "value() of a failed load");
        return *m_value;
    }
    T& value() & {
        assert(m_value && "value() of a failed load");
        return *m_value;
    }
    T&& value() && {
        assert(m_value && "value() of a failed load");
        return std::move(*m_value);
    }
    /// Empty on success.
    const QString& error() const { return m_error; }

private:
    LoadResult(std::optional<T> value, QString error) : m_value(std::move(value)), m_error(std::move(error)) {}

    std::optional<T> m_value;
    QString m_error;
};

} // namespace toka
