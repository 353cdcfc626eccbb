// Dialogs as data: a program describes its dialog as a table (the dialog's
// title, size, styles and font, then its controls in creation order) and
// handles what happens by control id. Win32 renders the table as an
// in-memory dialog template; Linux renders the same table with GTK 3.
// Positions and sizes are dialog units of the dialog's font.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

// Window, dialog and control styles, with the values Win32 gives them. The
// Win32 renderer passes them on as they stand; the GTK renderer shows what
// it can of them (caption, scroll bar, centring, client edge).
namespace style {
constexpr std::uint32_t kPopup = 0x80000000u;          // WS_POPUP
constexpr std::uint32_t kChild = 0x40000000u;          // WS_CHILD
constexpr std::uint32_t kVisible = 0x10000000u;        // WS_VISIBLE
constexpr std::uint32_t kCaption = 0x00C00000u;        // WS_CAPTION
constexpr std::uint32_t kBorder = 0x00800000u;         // WS_BORDER
constexpr std::uint32_t kVScroll = 0x00200000u;        // WS_VSCROLL
constexpr std::uint32_t kSysMenu = 0x00080000u;        // WS_SYSMENU
constexpr std::uint32_t kTabStop = 0x00010000u;        // WS_TABSTOP
constexpr std::uint32_t kDsSetFont = 0x40u;            // DS_SETFONT
constexpr std::uint32_t kDsModalFrame = 0x80u;         // DS_MODALFRAME
constexpr std::uint32_t kDs3dLook = 0x4u;              // DS_3DLOOK
constexpr std::uint32_t kDsNoFailCreate = 0x10u;       // DS_NOFAILCREATE
constexpr std::uint32_t kDsSetForeground = 0x200u;     // DS_SETFOREGROUND
constexpr std::uint32_t kDsCenter = 0x800u;            // DS_CENTER
constexpr std::uint32_t kBsPushButton = 0x0u;          // BS_PUSHBUTTON
constexpr std::uint32_t kLbsNotify = 0x1u;             // LBS_NOTIFY
constexpr std::uint32_t kLbsNoIntegralHeight = 0x100u; // LBS_NOINTEGRALHEIGHT
constexpr std::uint32_t kEsAutoHScroll = 0x80u;        // ES_AUTOHSCROLL
constexpr std::uint32_t kExClientEdge = 0x200u;        // WS_EX_CLIENTEDGE
constexpr std::uint32_t kExAppWindow = 0x40000u;       // WS_EX_APPWINDOW
} // namespace style

enum class ControlKind { PushButton, ListBox, Edit };

struct FontSpec {
    std::string face; // empty: the dialog's font
    int points = 0;
    int weight = 400;
};

struct ControlSpec {
    int id = 0;
    ControlKind kind = ControlKind::PushButton;
    std::string text;               // button caption or edit text
    std::vector<std::string> items; // list box entries, in order, not sorted
    int x = 0, y = 0, width = 0, height = 0;
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;
    FontSpec font; // a font of the control's own, created before the dialog
                   // is shown and deleted after it has ended
};

struct DialogSpec {
    std::string title;
    int x = 0, y = 0, width = 0, height = 0;
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;
    FontSpec font; // "MS Sans Serif" 8 in both of our dialogs
    std::vector<ControlSpec> controls;
};

// Clicked and SelectionChanged come from the user (or a screen reader acting
// for one), never from the program's own listSelect. On Linux they reach the
// handler from the loop right after the input was handled, as a posted
// message would, so a screen reader that pressed a button is answered before
// a handler opens a message box.
enum class DialogEvent {
    Initialised,      // the dialog's controls exist (WM_INITDIALOG)
    Destroyed,        // the dialog is going away (WM_DESTROY); its last event
    Clicked,          // a push button was pressed (BN_CLICKED)
    SelectionChanged, // a list box's selection changed (LBN_SELCHANGE)
    Activated,        // the dialog became the active window (WM_NCACTIVATE)
    Deactivated,      // another window became active
};

// The handler a dialog's events reach, with the control they concern (0 for
// the dialog itself). It runs on the dialog's thread.
using DialogHandler = std::function<void(DialogEvent event, int controlId)>;

using DialogId = int; // 0: no dialog

// True when windows can be shown (always on Windows; on Linux when a display
// could be opened).
bool displayAvailable();

// Creates a modeless dialog from the table, hidden, with its list entries
// filled. 0 when it could not be created.
DialogId dialogCreate(const DialogSpec& table, DialogHandler handler);
// Shows a dialog made by dialogCreate; the Initialised event reaches the
// handler during this call, before the dialog becomes visible.
void dialogShow(DialogId dialog);
// True while the dialog exists. The system's close command (close box,
// system menu, Alt+F4; on Linux the window manager's close) destroys a
// modeless dialog: Escape does not.
bool dialogExists(DialogId dialog);
// Runs the table as a modal dialog until dialogEnd; returns the result given
// there (0 when closed by the system's close command; -1 when it could not
// be created, as with no display). The controls' own fonts are deleted
// after it has ended.
int dialogRunModal(const DialogSpec& table, DialogHandler handler);
// Ends a modal dialog with that result; destroys a modeless one.
void dialogEnd(DialogId dialog, int result);
// The dialog that the handler currently running belongs to.
DialogId currentDialog();

void listSelect(DialogId dialog, int controlId, int index); // -1: no selection
int listSelection(DialogId dialog, int controlId);          // -1 when none
std::string listItemText(DialogId dialog, int controlId, int index);
void controlSetFocus(DialogId dialog, int controlId);
int focusedControl(DialogId dialog); // 0 when none of its controls has it

// Handles exactly one pending message of this thread (on Linux also one
// call queued for this thread's COM apartment). False when none was pending.
// Modal loops (dialogRunModal, messageBox) run such calls too, as Windows'
// nested loops dispatch posted messages.
bool pumpOneMessage();
// Waits while nothing is pending: on Windows a 1 ms sleep; on Linux blocks
// until an event, an apartment call, a close signal or timeoutMs has passed.
void waitForMessages(int timeoutMs);

// From now on SIGINT, SIGTERM and SIGHUP (Linux) ask the program to close
// instead of killing it; closeRequested() then turns true. On Windows a no-op.
void catchCloseSignals();
bool closeRequested();

// A task-modal message box with an OK button, brought to the foreground
// (MB_OK | MB_TASKMODAL | MB_SETFOREGROUND); caption empty: the system's
// ("Error" on Windows; on Linux an untitled error message dialog, which a
// screen reader names "Error"; a caption given is its title and name).
// Returns when it is dismissed; at once when no display is available.
void messageBox(const std::string& text, const std::string& caption);

} // namespace platform
