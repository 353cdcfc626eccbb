#include "../platform.h"
#include "internal.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

// Lets go of an exchange file at once. The lock belongs to the open file,
// which can have another holder for a moment (a process looking at our
// descriptors, a child between fork and exec): closing alone would leave the
// file held until that holder lets go, and the next call, ours or the other
// program's, would find it taken.
void release(int fd) {
    ::flock(fd, LOCK_UN);
    ::close(fd);
}

// Opens an exchange file the way both programs share it: read and write,
// created when absent, and held exclusively (an advisory lock that both of
// our programs take). Only a plain file of its own is used: a symbolic link,
// a second hard link, a FIFO, a device or a directory in its place is refused,
// so no write ever lands anywhere but in that file. -1 when it cannot be had.
int openExclusive(const std::string& path, bool create) {
    // Opening, checking and locking are separate steps: the other program
    // may take and delete the file in between. What it deleted is nobody's
    // any more (a record written into it would be lost): open the name again.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int fd =
            ::open(path.c_str(),
                   O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | (create ? O_CREAT : 0), 0666);
        if (fd < 0) return -1;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink > 1) {
            ::close(fd);
            errno = EPERM;
            return -1;
        }
        if (st.st_nlink == 0) {
            ::close(fd);
            continue;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            errno = EWOULDBLOCK; // present, but not ours to use now
            return -1;
        }
        if (::fstat(fd, &st) == 0 && st.st_nlink == 0) {
            release(fd);
            continue;
        }
        return fd;
    }
    errno = EWOULDBLOCK;
    return -1;
}

bool readUpTo(int fd, std::size_t maxBytes, std::string& out) {
    out.assign(maxBytes, '\0');
    std::size_t done = 0;
    while (done < maxBytes) {
        const ssize_t n = ::pread(fd, &out[done], maxBytes - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            out.clear();
            return false;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    out.resize(done);
    return true;
}

// The other program holds an exchange file only for one open, read or
// write, close: a write or take that finds it held waits for that, briefly,
// instead of losing its record. A refused file (a link, not a plain file)
// fails at once.
constexpr int kHeldWaitMs = 250;

int openExclusiveWaiting(const std::string& path, bool create) {
    int fd = openExclusive(path, create);
    for (int waited = 0; fd < 0 && errno == EWOULDBLOCK && waited < kHeldWaitMs; ++waited) {
        ::usleep(1000);
        fd = openExclusive(path, create);
    }
    return fd;
}

} // namespace

bool exchangeRead(const std::string& path, std::size_t maxBytes, std::string& out) {
    out.clear();
    const int fd = openExclusive(path, true);
    if (fd < 0) return false;
    const bool ok = readUpTo(fd, maxBytes, out);
    release(fd);
    return ok;
}

bool exchangeTake(const std::string& path, std::size_t maxBytes, std::string& out,
                  bool deleteIfEmpty) {
    out.clear();
    const int fd = openExclusive(path, false);
    if (fd < 0) return false;
    const bool ok = readUpTo(fd, maxBytes, out);
    // Unlinked while still locked: a writer waiting for the lock then finds
    // the file gone and opens the name anew.
    if (ok && (!out.empty() || deleteIfEmpty)) ::unlink(path.c_str());
    release(fd);
    return ok;
}

bool exchangeWrite(const std::string& path, const std::string& bytes) {
    const int fd = openExclusiveWaiting(path, true);
    if (fd < 0) return false;
    std::size_t done = 0;
    bool ok = true;
    while (done < bytes.size()) {
        const ssize_t n =
            ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (ok && ::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0) ok = false;
    // A write cut short (a full disk) leaves nothing rather than a torn
    // record: the reader takes an empty file for no message.
    if (!ok) ::ftruncate(fd, 0);
    release(fd);
    return ok;
}

bool exchangeTakeIfUnchanged(const std::string& path, const std::string& expected,
                             std::size_t maxBytes) {
    const int fd = openExclusiveWaiting(path, false);
    if (fd < 0) return errno == ENOENT;
    std::string now;
    const bool ok = readUpTo(fd, maxBytes, now) && now == expected && ::ftruncate(fd, 0) == 0;
    release(fd);
    return ok;
}

bool readFileNoCreate(const std::string& path, std::size_t maxBytes, std::string& out) {
    out.clear();
    // Non-blocking, so a FIFO in the file's place cannot hold the open; it
    // is then refused as not a regular file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && readUpTo(fd, maxBytes, out);
    if (!ok) out.clear();
    ::close(fd);
    return ok;
}

void deleteFile(const std::string& path) {
    ::unlink(path.c_str());
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool createDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) == 0) return true;
    struct stat st {};
    return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool startProgram(const std::string& path, bool wait) {
    // The child gets none of our terminal: its output must not land in the
    // tutor's screen.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd <= 2; ++fd)
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY,
                                         0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, path.c_str(), &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return false;
    if (wait) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    return true;
}

namespace {
void* threadEntry(void* arg) {
    std::function<void()>* body = static_cast<std::function<void()>*>(arg);
    (*body)();
    delete body;
    return nullptr;
}
} // namespace

bool startThread(std::function<void()> body, std::size_t stackBytes) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, stackBytes);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    auto* owned = new std::function<void()>(std::move(body));
    pthread_t thread;
    const int rc = pthread_create(&thread, &attr, threadEntry, owned);
    pthread_attr_destroy(&attr);
    if (rc != 0) delete owned;
    return rc == 0;
}

std::string localTimeStamp() {
    const std::time_t now = std::time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

double secondsSinceMidnight() {
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm local {};
    localtime_r(&ts.tv_sec, &local);
    return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + ts.tv_nsec / 1e9;
}

void sleepMs(int ms) {
    struct timespec ts {
        ms / 1000, (ms % 1000) * 1000000L
    };
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

void exitProcess(int code) {
    posix::restoreConsole();
    _exit(code);
}

std::string environmentVariable(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value ? value : "";
}

std::string defaultInstallDir() {
    std::string home = environmentVariable("HOME");
    if (home.empty()) {
        if (const struct passwd* pw = getpwuid(getuid())) home = pw->pw_dir;
    }
    return home + "/verdel";
}

char pathSeparator() {
    return '/';
}

std::string programFileName(const std::string& base) {
    return base;
}

} // namespace platform
