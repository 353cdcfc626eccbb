// The registration store: one small file per class (format in comapi.h).
// Reading never trusts a file: anything unexpected reads as "not registered".
#include "internal.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kMaxFileBytes = 8192;
constexpr size_t kMaxPathBytes = 4095;
constexpr char kHeader[] = "verdel-com-class 1";
constexpr char kSuffix[] = ".class";
constexpr size_t kNameLength = 38 + sizeof(kSuffix) - 1;

std::string homeDirectory() {
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return home;
    std::vector<char> buffer(16384);
    struct passwd entry;
    struct passwd* result = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result &&
        result->pw_dir && result->pw_dir[0] == '/')
        return result->pw_dir;
    return "";
}

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

bool plainText(const std::string& value) {
    for (unsigned char c : value)
        if (c < 0x20 || c == 0x7F) return false;
    return true;
}

// Reads at most kMaxFileBytes of a regular file; false for anything else.
bool readSmallFile(const std::string& path, std::string& out) {
    // O_NONBLOCK: a FIFO planted in the store must not hang the reader.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
              static_cast<unsigned long long>(st.st_size) <= kMaxFileBytes;
    out.clear();
    char buffer[kMaxFileBytes + 1];
    while (ok) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) ok = false;
        if (got <= 0) break;
        out.append(buffer, static_cast<size_t>(got));
        if (out.size() > kMaxFileBytes) ok = false; // grew while being read
    }
    ::close(fd);
    return ok;
}

bool parseClassFile(const std::string& text, vcom::ClassEntry& out) {
    if (text.find('\0') != std::string::npos) return false;
    bool haveClsid = false, haveProgId = false, haveLibrary = false;
    size_t at = 0;
    bool first = true;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        if (first) {
            if (line != kHeader) return false;
            first = false;
            continue;
        }
        if (line.empty() || line[0] == '#') continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) return false;
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (!plainText(value)) return false;
        if (key == "clsid") {
            if (haveClsid || !vcom::parseGuid(value.data(), value.size(), out.clsid)) return false;
            haveClsid = true;
        } else if (key == "progid") {
            if (haveProgId || !vcom::validProgId(value)) return false;
            out.progId = value;
            haveProgId = true;
        } else if (key == "library") {
            if (haveLibrary || value.empty() || value[0] != '/' || value.size() > kMaxPathBytes)
                return false;
            out.library = value;
            haveLibrary = true;
        } else {
            return false;
        }
    }
    return !first && haveClsid && haveProgId && haveLibrary;
}

std::string fileName(REFCLSID clsid) {
    return vcom::guidText(clsid) + kSuffix;
}

// Reads one class file; its class id must be the one its name gives.
bool readClass(const std::string& dir, const std::string& name, vcom::ClassEntry& out) {
    GUID named;
    if (name.size() != kNameLength || name.compare(38, std::string::npos, kSuffix) != 0 ||
        !vcom::parseGuid(name.data(), 38, named))
        return false;
    std::string text;
    vcom::ClassEntry entry;
    if (!readSmallFile(dir + "/" + name, text) || !parseClassFile(text, entry) ||
        !IsEqualGUID(entry.clsid, named))
        return false;
    out = entry;
    return true;
}

// Every readable class in the store, in file name order.
std::vector<vcom::ClassEntry> allClasses(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d))
            names.emplace_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    std::vector<vcom::ClassEntry> classes;
    for (const std::string& name : names) {
        vcom::ClassEntry entry;
        if (readClass(dir, name, entry)) classes.push_back(entry);
    }
    return classes;
}

bool makeDirectories(const std::string& path) {
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/') continue;
        const std::string part = path.substr(0, at);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes the file beside its target and renames it over the target, so a
// reader sees the old file or the new one, never a part of one.
bool replaceFile(const std::string& dir, const std::string& name, const std::string& bytes) {
    static std::atomic<unsigned> counter{0};
    const std::string target = dir + "/" + name;
    const std::string temporary = dir + "/." + name + "." + std::to_string(::getpid()) + "." +
                                  std::to_string(counter++) + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

} // namespace

namespace vcom {

std::string storeDirectory() {
    // A relative XDG_DATA_HOME is invalid by the XDG rules and ignored.
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (data && data[0] == '/') {
        base = data;
    } else {
        const std::string home = homeDirectory();
        if (home.empty()) return "";
        base = home + "/.local/share";
    }
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    return base + "/verdel/com";
}

// As Windows asks of a ProgID: at most 39 characters, letters, digits and
// periods only, not starting with a digit.
bool validProgId(const std::string& progId) {
    if (progId.empty() || progId.size() > 39) return false;
    if (progId[0] >= '0' && progId[0] <= '9') return false;
    for (char c : progId) {
        const bool ok =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.';
        if (!ok) return false;
    }
    return true;
}

bool findClass(REFCLSID clsid, ClassEntry& out) {
    const std::string dir = storeDirectory();
    return !dir.empty() && readClass(dir, fileName(clsid), out);
}

bool findProgId(const std::string& progId, ClassEntry& out) {
    const std::string dir = storeDirectory();
    if (dir.empty()) return false;
    for (const ClassEntry& entry : allClasses(dir)) {
        if (sameIgnoringCase(entry.progId, progId)) { // as registry keys compare
            out = entry;
            return true;
        }
    }
    return false;
}

} // namespace vcom

extern "C" VCOM_EXPORT HRESULT VcomRegisterClass(LPCOLESTR progId, REFCLSID clsid,
                                                 const char* libraryPath) {
    if (!progId || !libraryPath) return E_INVALIDARG;
    std::string id;
    for (const OLECHAR* p = progId; *p; ++p) {
        if (*p >= 0x80 || id.size() > 39) return E_INVALIDARG;
        id += static_cast<char>(*p);
    }
    if (!vcom::validProgId(id)) return E_INVALIDARG;

    char* resolved = ::realpath(libraryPath, nullptr);
    if (!resolved) return E_INVALIDARG;
    const std::string library = resolved;
    std::free(resolved);
    struct stat st;
    if (::stat(library.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !plainText(library) ||
        library.size() > kMaxPathBytes)
        return E_INVALIDARG;

    const std::string dir = vcom::storeDirectory();
    if (dir.empty() || !makeDirectories(dir)) return SELFREG_E_CLASS;
    const std::string text = std::string(kHeader) + "\nclsid=" + vcom::guidText(clsid) +
                             "\nprogid=" + id + "\nlibrary=" + library + "\n";
    if (!replaceFile(dir, fileName(clsid), text)) return SELFREG_E_CLASS;

    // A ProgID names one class: the newest registration takes it.
    for (const vcom::ClassEntry& other : allClasses(dir)) {
        if (!IsEqualGUID(other.clsid, clsid) && sameIgnoringCase(other.progId, id))
            ::unlink((dir + "/" + fileName(other.clsid)).c_str());
    }
    return S_OK;
}

extern "C" VCOM_EXPORT HRESULT VcomUnregisterClass(REFCLSID clsid) {
    const std::string dir = vcom::storeDirectory();
    if (dir.empty()) return S_FALSE;
    if (::unlink((dir + "/" + fileName(clsid)).c_str()) == 0) return S_OK;
    return errno == ENOENT || errno == ENOTDIR ? S_FALSE : SELFREG_E_CLASS;
}
