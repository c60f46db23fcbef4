#pragma once
// Child processes for the tests: a program run with its output caught, and
// a piece of the test run in a forked child (as another user, or on a
// thread with the stack the program's threads have), so that a crash or a
// change of user does not reach the test run.

#include <fcntl.h>
#include <grp.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace toka::test {

/// The user and group no file of the tests belongs to.
inline constexpr uid_t kNobody = 65534;

/// Makes the calling process the user uid with the primary group gid and
/// the supplementary groups given (none by default); "" or what failed.
inline std::string becomeUser(uid_t uid, gid_t gid, const std::vector<gid_t>& groups = {}) {
    if (::setgroups(groups.size(), groups.data()) != 0) return "setgroups: " + std::string(std::strerror(errno));
    if (::setresgid(gid, gid, gid) != 0) return "setresgid: " + std::string(std::strerror(errno));
    if (::setresuid(uid, uid, uid) != 0) return "setresuid: " + std::string(std::strerror(errno));
    return "";
}

struct ProgramRun {
    int status = -1; ///< the exit status; -1 when the program was killed
    std::string out, err;
};

struct ProgramSetup {
    std::string cwd = {};   ///< "": the test's own
    std::string input = {}; ///< standard input (else empty)
    /// Variables set (a value) or removed (none) for the program.
    std::vector<std::pair<std::string, std::optional<std::string>>> environment = {};
    bool asNobody = false; ///< run as kNobody (the test must be root)
};

/// Runs argv[0] (a path) with the rest of argv and waits for it; a program
/// that takes more than 60 s is killed.
inline ProgramRun runProgram(const std::vector<std::string>& argv, const ProgramSetup& setup = {}) {
    auto temporary = [](const char* what) {
        std::string name = "/tmp/toka-" + std::string(what) + "-XXXXXX";
        const int fd = ::mkstemp(name.data());
        return std::pair(fd, name);
    };
    const auto [inFd, inName] = temporary("in");
    const auto [outFd, outName] = temporary("out");
    const auto [errFd, errName] = temporary("err");
    if (::write(inFd, setup.input.data(), setup.input.size()) != ssize_t(setup.input.size())) return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::lseek(inFd, 0, SEEK_SET);
        ::dup2(inFd, STDIN_FILENO);
        ::dup2(outFd, STDOUT_FILENO);
        ::dup2(errFd, STDERR_FILENO);
        if (!setup.cwd.empty() && ::chdir(setup.cwd.c_str()) != 0) ::_exit(99);
        for (const auto& [name, value] : setup.environment) {
            if (value) ::setenv(name.c_str(), value->c_str(), 1);
            else ::unsetenv(name.c_str());
        }
        if (setup.asNobody && !becomeUser(kNobody, kNobody).empty()) ::_exit(97);
        ::alarm(60); // a run that hangs ends, and its status says so
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(98);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ProgramRun run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    auto take = [](int fd, const std::string& name) {
        ::close(fd);
        std::ostringstream text;
        text << std::ifstream(name, std::ios::binary).rdbuf();
        ::unlink(name.c_str());
        return text.str();
    };
    take(inFd, inName);
    run.out = take(outFd, outName);
    run.err = take(errFd, errName);
    return run;
}

/// Runs body in a forked child, on a thread with the given stack, and
/// returns what it returned ("" for success by convention); a child that
/// was killed or gave no answer is described instead.
inline std::string inChildProcess(std::size_t stackBytes, const std::function<std::string()>& body) {
    int channel[2];
    if (::pipe(channel) != 0) return "pipe failed";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        struct Job {
            const std::function<std::string()>* body;
            std::string answer;
        } job{&body, {}};
        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        pthread_attr_setstacksize(&attributes, stackBytes);
        pthread_t thread;
        const auto run = [](void* j) -> void* {
            auto* running = static_cast<Job*>(j);
            running->answer = "=" + (*running->body)();
            return nullptr;
        };
        if (pthread_create(&thread, &attributes, run, &job) != 0) job.answer = "=pthread_create failed";
        else pthread_join(thread, nullptr);
        (void)!::write(channel[1], job.answer.data(), job.answer.size());
        ::_exit(0);
    }
    ::close(channel[1]);
    std::string answer;
    char chunk[512];
    for (ssize_t n; (n = ::read(channel[0], chunk, sizeof chunk)) > 0;)
        answer.append(chunk, static_cast<std::size_t>(n));
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFSIGNALED(status)) return "the child was killed by signal " + std::to_string(WTERMSIG(status));
    return answer.starts_with("=") ? answer.substr(1) : "the child gave no answer";
}

/// Runs body as kNobody in a child process when the test runs as root (root
/// reads every directory whatever its mode), directly otherwise.  Returns
/// body's result, or -1 when the child failed.
inline long runUnprivileged(const std::function<long()>& body) {
    if (::geteuid() != 0) return body();
    const std::string answer = inChildProcess(std::size_t{8} << 20, [&]() -> std::string {
        if (!becomeUser(kNobody, kNobody).empty()) return "-1";
        return std::to_string(body());
    });
    char* end = nullptr;
    const long result = std::strtol(answer.c_str(), &end, 10);
    return !answer.empty() && *end == '\0' ? result : -1;
}

} // namespace toka::test
