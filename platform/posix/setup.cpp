// POSIX: the installer's own-file reading, file replacement, command lines
// and console programs.
#include "../setup.h"
#include "../installdir.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace platform {

namespace {

// Starts argv[0] (looked up on PATH when it has no slash) with our standard
// files, environment and directory; the signals we ignore while waiting are
// back to their defaults in the child. -1 when it could not be started.
pid_t spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGQUIT);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], nullptr, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    return rc == 0 ? pid : -1;
}

void waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

} // namespace

std::string currentDirectory() {
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) return std::string();
        buffer.resize(buffer.size() * 2);
    }
    std::string dir = buffer.data();
    if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

ReadHandle openForReading(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return 0;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) { // a FIFO or device is no file of ours
        ::close(fd);
        return 0;
    }
    return fd + 1;
}

std::string readNext(ReadHandle file, std::size_t count) {
    std::string out;
    if (file == 0) return out;
    const int fd = static_cast<int>(file - 1);
    out.resize(count);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, &out[done], count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    out.resize(done);
    return out;
}

void closeReading(ReadHandle file) {
    if (file != 0) ::close(static_cast<int>(file - 1));
}

bool replaceFile(const std::string& path, const std::string& bytes, bool executable) {
    const std::string temporary = path + ".part";
    ::unlink(temporary.c_str()); // a leftover (or a link planted there) is never written through
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                          executable ? 0755 : 0644);
    if (fd < 0) return false;
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}

std::string registrationTool() {
    return "\"" + installPath("verdel-regsvr") + "\"";
}

bool startCommandLine(const std::string& commandLine, bool wait) {
    // Words split at blanks; double quotes group a word and are dropped.
    std::vector<std::string> args;
    std::string word;
    bool inWord = false, quoted = false;
    for (const char c : commandLine) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (c == ' ' && !quoted) {
            if (inWord) args.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) args.push_back(word);
    if (args.empty()) return false;
    const pid_t pid = spawn(args);
    if (pid < 0) return false;
    if (wait) waitFor(pid);
    return true;
}

bool runInOwnConsole(const std::string& path) {
    // Ctrl+C and Ctrl+\ typed into a shared terminal are the program's, not
    // ours: we keep waiting for it (as system() does). The child gets them
    // back at their defaults.
    struct sigaction ignore {
    }, oldInt{}, oldQuit{};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGINT, &ignore, &oldInt);
    ::sigaction(SIGQUIT, &ignore, &oldQuit);
    pid_t pid = -1;
    if (::isatty(STDIN_FILENO) && ::isatty(STDOUT_FILENO)) {
        pid = spawn({path});
    } else {
        for (const char* emulator : {"x-terminal-emulator", "xterm"}) {
            pid = spawn({emulator, "-e", path});
            if (pid >= 0) break;
        }
    }
    if (pid >= 0) waitFor(pid);
    ::sigaction(SIGINT, &oldInt, nullptr);
    ::sigaction(SIGQUIT, &oldQuit, nullptr);
    return pid >= 0;
}

void initCommonControls() {}

} // namespace platform
