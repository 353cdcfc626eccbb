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

// The path of an open file or directory with every link on the way
// resolved, in the system's own device form (no drive letters: asking for
// those costs a round trip to the mount manager on every open); empty when
// the system cannot say.
std::wstring finalPath(HANDLE handle) {
    constexpr DWORD kForm = FILE_NAME_NORMALIZED | VOLUME_NAME_NT;
    std::wstring path(1024, L'\0');
    DWORD n = GetFinalPathNameByHandleW(handle, &path[0], static_cast<DWORD>(path.size()), kForm);
    if (n >= path.size()) {
        path.assign(n + 1, L'\0');
        n = GetFinalPathNameByHandleW(handle, &path[0], static_cast<DWORD>(path.size()), kForm);
    }
    if (n == 0 || n >= path.size()) return std::wstring();
    path.resize(n);
    return path;
}

// True unless the open file was reached through a link: its resolved path
// must be its directory's resolved path and its own name. Wine presents
// Unix symbolic links as ordinary files, so only this comparison tells.
bool reachedDirectly(HANDLE file, const std::wstring& path) {
    std::wstring full(32768, L'\0');
    wchar_t* name = nullptr;
    const DWORD n =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), &full[0], &name);
    if (n == 0 || n >= full.size() || name == nullptr) return true;
    const std::wstring fileName = name;
    full.resize(static_cast<std::size_t>(name - full.data()));
    const HANDLE dir = CreateFileW(full.c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (dir == INVALID_HANDLE_VALUE) return true;
    std::wstring expected = finalPath(dir);
    CloseHandle(dir);
    const std::wstring actual = finalPath(file);
    if (expected.empty() || actual.empty()) return true; // nothing to compare: trust the open
    if (expected.back() != L'\\') expected += L'\\';
    expected += fileName;
    return CompareStringOrdinal(expected.c_str(), -1, actual.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// The status behind the last failed call, from ntdll (present on every
// Windows); null where it cannot be had.
using LastStatus = LONG(NTAPI*)();
LastStatus lastStatusFunction() {
    static const LastStatus function = [] {
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        FARPROC found = ntdll != nullptr ? GetProcAddress(ntdll, "RtlGetLastNtStatus") : nullptr;
        LastStatus last = nullptr;
        static_assert(sizeof last == sizeof found, "function pointers convert");
        std::memcpy(&last, &found, sizeof last);
        return last;
    }();
    return function;
}

// Opens an exchange file the way both programs share it: read and write,
// shared with nobody while open. Only a plain file of its own is used: a
// link, a second hard link or anything but a disk file in its place is
// refused, so no write lands anywhere else. INVALID_HANDLE_VALUE when it
// cannot be had, with the reason as the last error; `busy` then says that
// the reason passes by itself: the other side holds the file, or has it on
// its way out, or the checks could not be made just now.
HANDLE openExclusive(const std::string& path, DWORD disposition, DWORD extraAccess, bool& busy) {
    const std::wstring wide = win32::widen(path);
    // Looked up before the open, so that nothing comes between the open's
    // failure and the status asked for.
    const LastStatus lastStatus = lastStatusFunction();
    busy = false;
    const HANDLE file =
        CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE | extraAccess, 0, nullptr,
                    disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        // A file the other side has taken stays until its handle closes, and
        // Windows denies access to it meanwhile (Wine reports it as held):
        // not a refusal, unlike a directory or a read-only file.
        constexpr LONG kDeletePending = static_cast<LONG>(0xC0000056);
        const DWORD error = GetLastError();
        busy = error == ERROR_SHARING_VIOLATION ||
               (error == ERROR_ACCESS_DENIED && lastStatus != nullptr &&
                lastStatus() == kDeletePending);
        return file;
    }
    // The attributes and the links asked for alone: the all-in-one query
    // also fetches the volume's serial number, which under Wine waits on the
    // mount manager (seconds when it is slow) while the file stays held.
    FILE_BASIC_INFO basic{};
    FILE_STANDARD_INFO standard{};
    const bool plainDisk = GetFileType(file) == FILE_TYPE_DISK;
    if (plainDisk &&
        (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
         !GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard) ||
         standard.DeletePending)) {
        // Unknown is no refusal, and a file on its way out no place for a
        // record: neither is used, both asked about again.
        const DWORD error = standard.DeletePending ? ERROR_ACCESS_DENIED : GetLastError();
        CloseHandle(file);
        busy = true;
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    constexpr DWORD kNotPlain =
        FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE;
    if (!plainDisk || (basic.FileAttributes & kNotPlain) != 0 || standard.Directory ||
        standard.NumberOfLinks > 1 || !reachedDirectly(file, wide)) {
        CloseHandle(file);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

HANDLE openExclusive(const std::string& path, DWORD disposition, DWORD extraAccess = 0) {
    bool busy = false;
    return openExclusive(path, disposition, extraAccess, busy);
}

// The other program holds an exchange file only for one open, read or
// write, close: a write or take that finds it held (or on its way out)
// waits for that, briefly, instead of losing its record. A refused file (a
// link, not a plain file) fails at once. Measured by the clock, not by
// tries: under Wine on a busy machine one open of the other side (round
// trips to the Wine server) has held the file longer than 250 tries of 1 ms.
constexpr ULONGLONG kHeldWaitMs = 1000;

HANDLE openExclusiveWaiting(const std::string& path, DWORD disposition) {
    bool busy = false;
    HANDLE file = openExclusive(path, disposition, 0, busy);
    const ULONGLONG until = GetTickCount64() + kHeldWaitMs;
    while (file == INVALID_HANDLE_VALUE && busy && GetTickCount64() < until) {
        Sleep(1);
        file = openExclusive(path, disposition, 0, busy);
    }
    return file;
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

bool exchangeTake(const std::string& path, std::size_t maxBytes, std::string& out,
                  bool deleteIfEmpty) {
    out.clear();
    const HANDLE file = openExclusive(path, OPEN_EXISTING, DELETE);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool ok = readUpTo(file, maxBytes, out);
    if (ok && (!out.empty() || deleteIfEmpty)) {
        // Deleted as the handle closes: nobody can open it in between.
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
    }
    CloseHandle(file);
    return ok;
}

bool exchangeWrite(const std::string& path, const std::string& bytes) {
    const HANDLE file = openExclusiveWaiting(path, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return false;
    // Written from the first byte; the end of the file is cut where it stops.
    const bool ok = writeAll(file, bytes) && SetEndOfFile(file);
    // A write cut short (a full disk) leaves nothing rather than a torn
    // record: the reader takes an empty file for no message.
    if (!ok && SetFilePointer(file, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER)
        SetEndOfFile(file);
    CloseHandle(file);
    return ok;
}

bool exchangeTakeIfUnchanged(const std::string& path, const std::string& expected,
                             std::size_t maxBytes) {
    const HANDLE file = openExclusiveWaiting(path, OPEN_EXISTING);
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
    // Digits by hand: a printf here would link the runtime's whole formatter
    // into every program that uses this file, the size-bound installer too.
    std::string text;
    for (const WORD part : {now.wHour, now.wMinute, now.wSecond}) {
        if (!text.empty()) text += ':';
        text += static_cast<char>('0' + part / 10 % 10);
        text += static_cast<char>('0' + part % 10);
    }
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
