#pragma once
// Environment variables changed for one test and restored after it.

#include <cstdlib>
#include <ctime>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace toka::test {

/// Sets (a value) or removes (none) variables until the object goes; then
/// each has its old value again.  TZ takes effect at once.
class ScopedEnvironment {
public:
    using Change = std::pair<const char*, std::optional<std::string>>;
    explicit ScopedEnvironment(std::initializer_list<Change> changes = {}) {
        for (const Change& change : changes) set(change.first, change.second);
    }
    ~ScopedEnvironment() {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) apply(it->first, it->second);
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    void set(const char* name, const std::optional<std::string>& value) {
        const char* old = std::getenv(name);
        m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        apply(name, value);
    }

private:
    static void apply(const std::string& name, const std::optional<std::string>& value) {
        if (value) ::setenv(name.c_str(), value->c_str(), 1);
        else ::unsetenv(name.c_str());
        ::tzset();
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

/// Pins the local time zone for one test; POSIX TZ strings need no tzdata.
class ScopedTimeZone : public ScopedEnvironment {
public:
    explicit ScopedTimeZone(const char* tz) : ScopedEnvironment({{"TZ", tz}}) {}
};

} // namespace toka::test
