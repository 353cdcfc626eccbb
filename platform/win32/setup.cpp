// Win32: the installer's own-file reading, file replacement, command lines,
// console programs and common controls.
#include "../setup.h"
#include "internal.h"

#include <windows.h>

#include <commctrl.h>

namespace platform {

namespace {

bool runProcess(const wchar_t* program, std::wstring commandLine, DWORD flags, bool wait) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program, &commandLine[0], nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                        &startup, &process))
        return false;
    CloseHandle(process.hThread);
    if (wait) WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hProcess);
    return true;
}

} // namespace

std::string currentDirectory() {
    wchar_t buffer[MAX_PATH + 1];
    DWORD length = GetCurrentDirectoryW(MAX_PATH + 1, buffer);
    std::wstring wide;
    if (length > MAX_PATH) { // a longer one: ask again with room for it
        wide.assign(length, L'\0');
        length = GetCurrentDirectoryW(length, &wide[0]);
        wide.resize(length < wide.size() ? length : 0);
    } else {
        wide.assign(buffer, length);
    }
    std::string out = win32::narrow(wide.data(), wide.size());
    if (out.size() > 3 && out.back() == '\\') out.pop_back();
    return out;
}

ReadHandle openForReading(const std::string& path) {
    const HANDLE file = CreateFileW(win32::widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    if (GetFileType(file) != FILE_TYPE_DISK) { // a device name is no file of ours
        CloseHandle(file);
        return 0;
    }
    return reinterpret_cast<ReadHandle>(file);
}

std::string readNext(ReadHandle file, std::size_t count) {
    std::string out;
    if (file == 0) return out;
    out.resize(count);
    std::size_t done = 0;
    while (done < count) {
        const std::size_t left = count - done;
        const DWORD want = left > (1u << 20) ? (1u << 20) : static_cast<DWORD>(left);
        DWORD got = 0;
        if (!ReadFile(reinterpret_cast<HANDLE>(file), &out[done], want, &got, nullptr) || got == 0)
            break;
        done += got;
    }
    out.resize(done);
    return out;
}

void closeReading(ReadHandle file) {
    if (file != 0) CloseHandle(reinterpret_cast<HANDLE>(file));
}

bool replaceFile(const std::string& path, const std::string& bytes, bool /*executable*/) {
    const std::wstring target = win32::widen(path);
    const std::wstring temporary = target + L".part";
    const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = GetFileType(file) == FILE_TYPE_DISK;
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
        const std::size_t left = bytes.size() - done;
        const DWORD want = left > (1u << 20) ? (1u << 20) : static_cast<DWORD>(left);
        DWORD written = 0;
        ok = WriteFile(file, bytes.data() + done, want, &written, nullptr) && written != 0;
        done += written;
    }
    ok = ok && FlushFileBuffers(file);
    CloseHandle(file);
    ok = ok && MoveFileExW(temporary.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) DeleteFileW(temporary.c_str());
    return ok;
}

std::string registrationTool() {
    return "regsvr32";
}

bool startCommandLine(const std::string& commandLine, bool wait) {
    return runProcess(nullptr, win32::widen(commandLine), 0, wait);
}

bool runInOwnConsole(const std::string& path) {
    const std::wstring program = win32::widen(path);
    return runProcess(program.c_str(), L"\"" + program + L"\"", CREATE_NEW_CONSOLE, true);
}

void initCommonControls() {
    const HMODULE library = LoadLibraryA("COMCTL32.DLL");
    if (library == nullptr) return;
    using Extended = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    using Plain = void(WINAPI*)();
    if (const FARPROC extended = GetProcAddress(library, "InitCommonControlsEx")) {
        INITCOMMONCONTROLSEX classes{};
        classes.dwSize = 8;
        classes.dwICC = 0x9FF; // every standard class, the date and the internet classes
        reinterpret_cast<Extended>(reinterpret_cast<void*>(extended))(&classes);
    } else if (const FARPROC plain = GetProcAddress(library, "InitCommonControls")) {
        reinterpret_cast<Plain>(reinterpret_cast<void*>(plain))();
    }
    FreeLibrary(library);
}

} // namespace platform
