// Dialog tables rendered as in-memory dialog templates (DLGTEMPLATEEX), the
// thread's message pump and message boxes.
#include "../dialog.h"
#include "internal.h"

#include <windows.h>

#include <cstring>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace platform {

namespace {

struct Dialog {
    DialogId id = 0;
    HWND hwnd = nullptr;
    DialogSpec table;
    DialogHandler handler;
    bool modal = false;
    bool initPending = false; // WM_INITDIALOG came; the handler hears of it in dialogShow
    std::vector<HFONT> fonts; // per control, nullptr when it uses the dialog's font

    ~Dialog() {
        for (HFONT font : fonts)
            if (font != nullptr) DeleteObject(font);
    }
};

std::map<DialogId, std::unique_ptr<Dialog>> dialogs;
DialogId nextId = 1;
DialogId runningHandlerDialog = 0;

Dialog* find(DialogId id) {
    const auto it = dialogs.find(id);
    return it == dialogs.end() ? nullptr : it->second.get();
}

// Calls the handler with the dialog as currentDialog(). The handler may end
// the dialog, which frees its record, so it runs from a copy.
void deliver(Dialog& dialog, DialogEvent event, int controlId) {
    if (!dialog.handler) return;
    const DialogHandler handler = dialog.handler;
    const DialogId previous = runningHandlerDialog;
    runningHandlerDialog = dialog.id;
    handler(event, controlId);
    runningHandlerDialog = previous;
}

const ControlSpec* controlById(const Dialog& dialog, int id) {
    for (const ControlSpec& control : dialog.table.controls)
        if (control.id == id) return &control;
    return nullptr;
}

// ---- the template ----------------------------------------------------------

class TemplateWriter {
  public:
    void word(WORD value) { put(&value, sizeof value); }
    void dword(DWORD value) { put(&value, sizeof value); }
    void shortValue(short value) { put(&value, sizeof value); }
    void byte(BYTE value) { put(&value, sizeof value); }
    void text(const std::wstring& value) {
        put(value.c_str(), (value.size() + 1) * sizeof(wchar_t));
    }
    void alignDword() {
        while (bytes_.size() % 4 != 0)
            bytes_.push_back(0);
    }
    // A template must sit on a DWORD boundary; a vector of DWORDs gives that.
    std::vector<DWORD> finish() const {
        std::vector<DWORD> aligned((bytes_.size() + 3) / 4);
        std::memcpy(aligned.data(), bytes_.data(), bytes_.size());
        return aligned;
    }

  private:
    void put(const void* data, std::size_t size) {
        const unsigned char* p = static_cast<const unsigned char*>(data);
        bytes_.insert(bytes_.end(), p, p + size);
    }
    std::vector<unsigned char> bytes_;
};

const wchar_t* className(ControlKind kind) {
    switch (kind) {
    case ControlKind::ListBox:
        return L"LISTBOX";
    case ControlKind::Edit:
        return L"EDIT";
    case ControlKind::PushButton:
        break;
    }
    return L"BUTTON";
}

std::vector<DWORD> buildTemplate(const DialogSpec& table) {
    TemplateWriter t;
    t.word(1);      // dlgVer
    t.word(0xFFFF); // signature: the extended template
    t.dword(0);     // helpID
    t.dword(table.exStyle);
    t.dword(table.style);
    t.word(static_cast<WORD>(table.controls.size()));
    t.shortValue(static_cast<short>(table.x));
    t.shortValue(static_cast<short>(table.y));
    t.shortValue(static_cast<short>(table.width));
    t.shortValue(static_cast<short>(table.height));
    t.word(0); // no menu
    t.word(0); // the system's dialog class
    t.text(win32::widen(table.title));
    if ((table.style & (DS_SETFONT | DS_SHELLFONT)) != 0) {
        t.word(static_cast<WORD>(table.font.points));
        t.word(static_cast<WORD>(table.font.weight));
        t.byte(FALSE); // not italic
        t.byte(DEFAULT_CHARSET);
        t.text(win32::widen(table.font.face));
    }
    for (const ControlSpec& control : table.controls) {
        t.alignDword();
        t.dword(0); // helpID
        t.dword(control.exStyle);
        t.dword(control.style);
        t.shortValue(static_cast<short>(control.x));
        t.shortValue(static_cast<short>(control.y));
        t.shortValue(static_cast<short>(control.width));
        t.shortValue(static_cast<short>(control.height));
        t.dword(static_cast<DWORD>(control.id));
        t.text(className(control.kind));
        t.text(control.kind == ControlKind::ListBox ? std::wstring() : win32::widen(control.text));
        t.word(0); // no creation data
    }
    return t.finish();
}

// The controls' own fonts, made before the dialog exists.
std::vector<HFONT> createControlFonts(const DialogSpec& table) {
    std::vector<HFONT> fonts;
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen != nullptr) ReleaseDC(nullptr, screen);
    for (const ControlSpec& control : table.controls) {
        const FontSpec& font = control.font;
        if (font.face.empty() && font.points == 0) {
            fonts.push_back(nullptr);
            continue;
        }
        const std::string& face = font.face.empty() ? table.font.face : font.face;
        const int points = font.points != 0 ? font.points : table.font.points;
        fonts.push_back(CreateFontW(-MulDiv(points, dpi, 72), 0, 0, 0, font.weight, FALSE, FALSE,
                                    FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                    DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                    win32::widen(face).c_str()));
    }
    return fonts;
}

// What WM_INITDIALOG finds to do before the program hears of it: the
// controls' own fonts and the list entries, in table order.
void prepareControls(Dialog& dialog) {
    for (std::size_t i = 0; i < dialog.table.controls.size(); ++i) {
        const ControlSpec& control = dialog.table.controls[i];
        const HWND item = GetDlgItem(dialog.hwnd, control.id);
        if (item == nullptr) continue;
        if (i < dialog.fonts.size() && dialog.fonts[i] != nullptr)
            SendMessageW(item, WM_SETFONT, reinterpret_cast<WPARAM>(dialog.fonts[i]), FALSE);
        if (control.kind == ControlKind::ListBox)
            for (const std::string& entry : control.items)
                SendMessageW(item, LB_ADDSTRING, 0,
                             reinterpret_cast<LPARAM>(win32::widen(entry).c_str()));
    }
}

Dialog* fromWindow(HWND hwnd) {
    return find(static_cast<DialogId>(GetWindowLongPtrW(hwnd, DWLP_USER)));
}

// Returns FALSE for every message, so the dialog's default processing runs
// after the program's own handling.
INT_PTR CALLBACK dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        Dialog* dialog = fromWindow(hwnd);
        if (dialog == nullptr) return FALSE;
        dialog->hwnd = hwnd;
        prepareControls(*dialog);
        if (dialog->modal)
            deliver(*dialog, DialogEvent::Initialised, 0);
        else
            dialog->initPending = true;
        return FALSE;
    }
    Dialog* dialog = fromWindow(hwnd);
    if (dialog == nullptr) return FALSE;
    switch (message) {
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        const int code = HIWORD(wParam);
        const ControlSpec* control = controlById(*dialog, id);
        if (control == nullptr) break;
        if (control->kind == ControlKind::PushButton && code == BN_CLICKED)
            deliver(*dialog, DialogEvent::Clicked, id);
        else if (control->kind == ControlKind::ListBox && code == LBN_SELCHANGE)
            deliver(*dialog, DialogEvent::SelectionChanged, id);
        break;
    }
    case WM_NCACTIVATE:
        deliver(*dialog, wParam != 0 ? DialogEvent::Activated : DialogEvent::Deactivated, 0);
        break;
    case WM_CLOSE:
        // The close command (close box, system menu, Alt+F4) arrives here.
        // A dialog's default handling only turns it into IDCANCEL, which
        // would leave a modeless dialog standing; so it ends here, and the
        // default handling that still follows finds nothing left to do.
        if (dialog->modal)
            EndDialog(hwnd, 0);
        else
            DestroyWindow(hwnd);
        break;
    case WM_DESTROY:
        deliver(*dialog, DialogEvent::Destroyed, 0);
        break;
    case WM_NCDESTROY:
        // Last message: a modeless dialog's record (and its fonts) goes now;
        // a modal one's when dialogRunModal returns.
        dialog->hwnd = nullptr;
        if (!dialog->modal) {
            const DialogId id = dialog->id;
            dialogs.erase(id);
        }
        break;
    default:
        break;
    }
    return FALSE;
}

HWND controlWindow(DialogId dialog, int controlId) {
    const Dialog* d = find(dialog);
    return d != nullptr && d->hwnd != nullptr ? GetDlgItem(d->hwnd, controlId) : nullptr;
}

} // namespace

bool displayAvailable() {
    return true;
}

DialogId dialogCreate(const DialogSpec& table, DialogHandler handler) {
    auto dialog = std::make_unique<Dialog>();
    dialog->id = nextId++;
    dialog->table = table;
    dialog->handler = std::move(handler);
    dialog->fonts = createControlFonts(table);
    const std::vector<DWORD> form = buildTemplate(table);
    const DialogId id = dialog->id;
    Dialog* raw = dialog.get();
    dialogs[id] = std::move(dialog);
    const HWND hwnd = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                                 reinterpret_cast<LPCDLGTEMPLATEW>(form.data()),
                                                 nullptr, dialogProc, static_cast<LPARAM>(id));
    if (hwnd == nullptr) {
        dialogs.erase(id);
        return 0;
    }
    raw->hwnd = hwnd;
    return id;
}

void dialogShow(DialogId id) {
    Dialog* dialog = find(id);
    if (dialog == nullptr || dialog->hwnd == nullptr) return;
    const HWND hwnd = dialog->hwnd;
    if (dialog->initPending) {
        dialog->initPending = false;
        deliver(*dialog, DialogEvent::Initialised, 0);
    }
    if (IsWindow(hwnd)) {
        ShowWindow(hwnd, SW_SHOW);
        UpdateWindow(hwnd);
    }
}

bool dialogExists(DialogId id) {
    const Dialog* dialog = find(id);
    return dialog != nullptr && dialog->hwnd != nullptr && IsWindow(dialog->hwnd);
}

int dialogRunModal(const DialogSpec& table, DialogHandler handler) {
    auto dialog = std::make_unique<Dialog>();
    dialog->id = nextId++;
    dialog->table = table;
    dialog->handler = std::move(handler);
    dialog->modal = true;
    dialog->fonts = createControlFonts(table);
    const std::vector<DWORD> form = buildTemplate(table);
    const DialogId id = dialog->id;
    dialogs[id] = std::move(dialog);
    const INT_PTR result = DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                                                   reinterpret_cast<LPCDLGTEMPLATEW>(form.data()),
                                                   nullptr, dialogProc, static_cast<LPARAM>(id));
    dialogs.erase(id); // the fonts go with it, after the dialog has ended
    return static_cast<int>(result);
}

void dialogEnd(DialogId id, int result) {
    Dialog* dialog = find(id);
    if (dialog == nullptr || dialog->hwnd == nullptr) return;
    if (dialog->modal)
        EndDialog(dialog->hwnd, result);
    else
        DestroyWindow(dialog->hwnd);
}

DialogId currentDialog() {
    return runningHandlerDialog;
}

void listSelect(DialogId dialog, int controlId, int index) {
    const HWND list = controlWindow(dialog, controlId);
    if (list != nullptr) SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int listSelection(DialogId dialog, int controlId) {
    const HWND list = controlWindow(dialog, controlId);
    if (list == nullptr) return -1;
    const LRESULT index = SendMessageW(list, LB_GETCURSEL, 0, 0);
    return index == LB_ERR ? -1 : static_cast<int>(index);
}

std::string listItemText(DialogId dialog, int controlId, int index) {
    const HWND list = controlWindow(dialog, controlId);
    if (list == nullptr) return std::string();
    const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == LB_ERR) return std::string();
    std::vector<wchar_t> text(static_cast<std::size_t>(length) + 1);
    const LRESULT got = SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(index),
                                     reinterpret_cast<LPARAM>(text.data()));
    if (got == LB_ERR) return std::string();
    return win32::narrow(text.data(), static_cast<std::size_t>(got));
}

void controlSetFocus(DialogId dialog, int controlId) {
    const HWND control = controlWindow(dialog, controlId);
    if (control != nullptr) SetFocus(control);
}

int focusedControl(DialogId id) {
    const Dialog* dialog = find(id);
    if (dialog == nullptr || dialog->hwnd == nullptr) return 0;
    HWND focus = GetFocus();
    // A control's own child windows count as the control.
    while (focus != nullptr && GetParent(focus) != dialog->hwnd)
        focus = GetParent(focus);
    return focus != nullptr ? GetDlgCtrlID(focus) : 0;
}

bool pumpOneMessage() {
    MSG msg;
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
    // A handler run by one dialog may end another, so the windows are taken
    // first and each is checked before its turn.
    std::vector<HWND> live;
    for (const auto& entry : dialogs)
        if (!entry.second->modal && entry.second->hwnd != nullptr)
            live.push_back(entry.second->hwnd);
    for (HWND hwnd : live)
        if (IsWindow(hwnd) && IsDialogMessageW(hwnd, &msg)) return true;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    return true;
}

void waitForMessages(int /*timeoutMs*/) {
    Sleep(1);
}

void catchCloseSignals() {}

bool closeRequested() {
    return false;
}

void messageBox(const std::string& text, const std::string& caption) {
    const std::wstring wideText = win32::widen(text);
    const std::wstring wideCaption = win32::widen(caption);
    MessageBoxW(nullptr, wideText.c_str(), caption.empty() ? nullptr : wideCaption.c_str(),
                MB_OK | MB_TASKMODAL | MB_SETFOREGROUND);
}

} // namespace platform
