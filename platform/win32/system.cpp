// Win32 files, processes, threads, clock and environment.
#include "../../common/codepage.h"
#include "../platform.h"
#include "internal.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace platform {

namespace win32 {
std::wstring widen(const std::string& cp1252) {
    std::wstring wide;
    wide.reserve(cp1252.size());
    // Every Windows-1252 character lies in the Basic Multilingual Plane.
    for (char c : cp1252)
        wide += static_cast<wchar_t>(common::cp1252ToUnicode(static_cast<unsigned char>(c)));
    return wide;
}

// UTF-16 as Windows-1252; a character the code page cannot hold (a
// surrogate pair counts as one) becomes '?'.
std::string narrow(const wchar_t* text, std::size_t length) {
    std::string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        const wchar_t ch = text[i];
        if (IS_HIGH_SURROGATE(ch) && i + 1 < length && IS_LOW_SURROGATE(text[i + 1])) {
            out += '?';
            ++i;
            continue;
        }
        const int byte = common::unicodeToCp1252(static_cast<char32_t>(ch));
        out += byte >= 0 ? static_cast<char>(byte) : '?';
    }
    return out;
}
} // namespace win32

namespace {

// Opens an exchange file the way both programs share it: read and write,
// shared with nobody while open. INVALID_HANDLE_VALUE when it cannot be had.
HANDLE openExclusive(const std::string& path, DWORD disposition) {
    return CreateFileW(win32::widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Reads at most maxBytes from the current position (the first byte of a
// file just opened).
bool readUpTo(HANDLE file, std::size_t maxBytes, std::string& out) {
    out.assign(maxBytes, '\0');
    std::size_t done = 0;
    while (done < maxBytes) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(1 << 20, maxBytes - done));
        DWORD got = 0;
        if (!ReadFile(file, &out[done], want, &got, nullptr)) {
            out.clear();
            return false;
        }
        if (got == 0) break;
        done += got;
    }
    out.resize(done);
    return true;
}

bool writeAll(HANDLE file, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(1 << 20, bytes.size() - done));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, want, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

} // namespace

bool exchangeRead(const std::string& path, std::size_t maxBytes, std::string& out) {
    out.clear();
    const HANDLE file = openExclusive(path, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool ok = readUpTo(file, maxBytes, out);
    CloseHandle(file);
    return ok;
}

bool exchangeWrite(const std::string& path, const std::string& bytes) {
    const HANDLE file = openExclusive(path, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return false;
    // Written from the first byte; the end of the file is cut where it stops.
    const bool ok = writeAll(file, bytes) && SetEndOfFile(file);
    CloseHandle(file);
    return ok;
}

bool exchangeTakeIfUnchanged(const std::string& path, const std::string& expected,
                             std::size_t maxBytes) {
    const HANDLE file = openExclusive(path, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    std::string now;
    const bool ok = readUpTo(file, maxBytes, now) && now == expected &&
                    SetFilePointer(file, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
                    SetEndOfFile(file);
    CloseHandle(file);
    return ok;
}

bool readFileNoCreate(const std::string& path, std::size_t maxBytes, std::string& out) {
    out.clear();
    const HANDLE file = CreateFileW(win32::widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    // Only a file on disk: a device name such as "con" is no book.
    const bool ok = GetFileType(file) == FILE_TYPE_DISK && readUpTo(file, maxBytes, out);
    if (!ok) out.clear();
    CloseHandle(file);
    return ok;
}

void deleteFile(const std::string& path) {
    DeleteFileW(win32::widen(path).c_str());
}

bool fileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(win32::widen(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    constexpr DWORD kNotAFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN |
                                FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DEVICE;
    return (attributes & kNotAFile) == 0;
}

bool createDirectory(const std::string& path) {
    const std::wstring wide = win32::widen(path);
    if (CreateDirectoryW(wide.c_str(), nullptr)) return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool startProgram(const std::string& path, bool wait) {
    const std::wstring program = win32::widen(path);
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process{};
    // Its own console (if it wants one) and none of our handles: nothing it
    // does can land in the tutor's screen.
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                        CREATE_NEW_CONSOLE, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    if (wait) WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hProcess);
    return true;
}

namespace {
DWORD WINAPI threadEntry(LPVOID arg) {
    std::function<void()>* body = static_cast<std::function<void()>*>(arg);
    (*body)();
    delete body;
    return 0;
}
} // namespace

bool startThread(std::function<void()> body, std::size_t stackBytes) {
    auto* owned = new std::function<void()>(std::move(body));
    const HANDLE thread = CreateThread(nullptr, stackBytes, threadEntry, owned,
                                       STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr) {
        delete owned;
        return false;
    }
    CloseHandle(thread); // detached: it runs on without anyone waiting for it
    return true;
}

std::string localTimeStamp() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", static_cast<unsigned>(now.wHour),
                  static_cast<unsigned>(now.wMinute), static_cast<unsigned>(now.wSecond));
    return text;
}

double secondsSinceMidnight() {
    // The precise clock where the system has it (Windows 8 on), else the
    // ordinary one.
    using PreciseClock = void(WINAPI*)(LPFILETIME);
    static const PreciseClock precise = [] {
        const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        FARPROC found =
            kernel != nullptr ? GetProcAddress(kernel, "GetSystemTimePreciseAsFileTime") : nullptr;
        PreciseClock clock = nullptr;
        static_assert(sizeof clock == sizeof found, "function pointers convert");
        std::memcpy(&clock, &found, sizeof clock);
        return clock;
    }();
    FILETIME utc;
    if (precise != nullptr)
        precise(&utc);
    else
        GetSystemTimeAsFileTime(&utc);
    FILETIME local;
    if (!FileTimeToLocalFileTime(&utc, &local)) local = utc;
    // File time counts 100 ns steps from a midnight (1 January 1601).
    const unsigned long long ticks =
        (static_cast<unsigned long long>(local.dwHighDateTime) << 32) | local.dwLowDateTime;
    constexpr unsigned long long kTicksPerDay = 86400ULL * 10000000ULL;
    return static_cast<double>(ticks % kTicksPerDay) / 1e7;
}

void sleepMs(int ms) {
    Sleep(ms > 0 ? static_cast<DWORD>(ms) : 0);
}

void exitProcess(int code) {
    win32::restoreConsole();
    std::fflush(nullptr);
    ExitProcess(static_cast<UINT>(code));
}

std::string environmentVariable(const std::string& name) {
    const std::wstring wideName = win32::widen(name);
    std::vector<wchar_t> value(256);
    for (;;) {
        const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value.data(),
                                                     static_cast<DWORD>(value.size()));
        if (length == 0) return std::string(); // unset (or empty)
        if (length < value.size()) return win32::narrow(value.data(), length);
        value.resize(length); // too small: length counts the terminating zero
    }
}

std::string defaultInstallDir() {
    return "c:\\verdel";
}

char pathSeparator() {
    return '\\';
}

std::string programFileName(const std::string& base) {
    return base + ".exe";
}

} // namespace platform
