// Dialog tables rendered with GTK 3, the thread's message loop (GTK events
// and the COM apartment's queued calls, one at a time) and message boxes.
// Controls keep the table's positions and sizes: dialog units of the
// 8-point dialog font are 6x13 pixels per 4x8 units, as on Windows.
#include "../../common/codepage.h"
#include "../dialog.h"
#include "com/apartment.h"

#include <glib-unix.h>
#include <gtk/gtk.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <memory>
#include <poll.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace platform {

namespace {

// ---- text -------------------------------------------------------------------

std::string utf8From1252(const std::string& cp1252) {
    std::string out;
    for (char c : cp1252)
        common::appendUtf8(out, common::cp1252ToUnicode(static_cast<unsigned char>(c)));
    return out;
}

std::string cp1252FromUtf8(const char* utf8) {
    std::string out;
    if (utf8 == nullptr) return out;
    const std::string bytes(utf8);
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        char32_t codePoint = 0;
        std::size_t used = common::decodeUtf8(bytes, pos, codePoint);
        if (used == 0) { // cut short at the end
            codePoint = U'\uFFFD';
            used = bytes.size() - pos;
        }
        const int byte = common::unicodeToCp1252(codePoint);
        out += byte >= 0 ? static_cast<char>(byte) : '?';
        pos += used;
    }
    return out;
}

// ---- dialog units -------------------------------------------------------------

int pixelsX(int units) {
    return (units * 6 + (units >= 0 ? 2 : -2)) / 4;
}
int pixelsY(int units) {
    return (units * 13 + (units >= 0 ? 4 : -4)) / 8;
}

// ---- the display ----------------------------------------------------------------

int displayState = -1; // -1: not tried yet

bool haveDisplay() {
    if (displayState < 0) {
        const char* x11 = std::getenv("DISPLAY");
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        const bool named =
            (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
        displayState = named && gtk_init_check(nullptr, nullptr) ? 1 : 0;
    }
    return displayState == 1;
}

// ---- dialogs ----------------------------------------------------------------------

struct Control {
    ControlSpec table;
    GtkWidget* outer = nullptr;     // what sits in the layout
    GtkWidget* focusable = nullptr; // what takes the keyboard focus
    GtkTreeSelection* selection = nullptr;
    GtkListStore* store = nullptr;
    int lastSelection = -1;
};

struct Dialog {
    DialogId id = 0;
    DialogSpec table;
    DialogHandler handler;
    GtkWidget* window = nullptr;
    GtkCssProvider* css = nullptr;
    bool modal = false;
    bool initPending = true;
    bool ended = false;
    int result = 0;
    int quietSelection = 0;        // > 0 while the program itself changes a selection
    guint pendingDeactivation = 0; // idle source that will report a focus loss
    std::vector<std::unique_ptr<Control>> controls;

    ~Dialog() {
        if (pendingDeactivation != 0) g_source_remove(pendingDeactivation);
        for (auto& control : controls)
            if (control->store != nullptr) g_object_unref(control->store);
        if (css != nullptr) {
            gtk_style_context_remove_provider_for_screen(gdk_screen_get_default(),
                                                         GTK_STYLE_PROVIDER(css));
            g_object_unref(css);
        }
    }
};

std::map<DialogId, std::unique_ptr<Dialog>> dialogs;
DialogId nextId = 1;
DialogId runningHandlerDialog = 0;

Dialog* find(DialogId id) {
    const auto it = dialogs.find(id);
    return it == dialogs.end() ? nullptr : it->second.get();
}

Control* findControl(DialogId dialog, int controlId) {
    Dialog* d = find(dialog);
    if (d == nullptr || d->window == nullptr) return nullptr;
    for (auto& control : d->controls)
        if (control->table.id == controlId) return control.get();
    return nullptr;
}

gpointer idPointer(DialogId id) {
    return GINT_TO_POINTER(id);
}
DialogId idFrom(gpointer data) {
    return GPOINTER_TO_INT(data);
}

// Calls the handler with the dialog as currentDialog(). The handler may end
// the dialog, which can free its record, so it runs from a copy.
void deliver(Dialog& dialog, DialogEvent event, int controlId) {
    if (!dialog.handler) return;
    const DialogHandler handler = dialog.handler;
    const DialogId previous = runningHandlerDialog;
    runningHandlerDialog = dialog.id;
    handler(event, controlId);
    runningHandlerDialog = previous;
}

int selectedRow(GtkTreeSelection* selection) {
    GtkTreeModel* model = nullptr;
    GtkTreeIter iter;
    if (!gtk_tree_selection_get_selected(selection, &model, &iter)) return -1;
    GtkTreePath* path = gtk_tree_model_get_path(model, &iter);
    const int row = gtk_tree_path_get_indices(path)[0];
    gtk_tree_path_free(path);
    return row;
}

// Selects a row (or none, for -1) without reporting it. With no selection
// the cursor still rests on the first row: a tree view that gets the focus
// with no cursor selects its first row, which a list box never does.
void selectQuietly(Dialog& dialog, Control& control, int index) {
    ++dialog.quietSelection;
    GtkTreeView* tree = GTK_TREE_VIEW(control.focusable);
    const int rows = gtk_tree_model_iter_n_children(GTK_TREE_MODEL(control.store), nullptr);
    if (index >= 0 && index < rows) {
        GtkTreePath* path = gtk_tree_path_new_from_indices(index, -1);
        gtk_tree_view_set_cursor(tree, path, nullptr, FALSE);
        gtk_tree_selection_select_path(control.selection, path);
        gtk_tree_path_free(path);
    } else {
        if (rows > 0) {
            GtkTreePath* first = gtk_tree_path_new_first();
            gtk_tree_view_set_cursor(tree, first, nullptr, FALSE);
            gtk_tree_path_free(first);
        }
        gtk_tree_selection_unselect_all(control.selection);
    }
    control.lastSelection = selectedRow(control.selection);
    --dialog.quietSelection;
}

// Signals name their control by dialog and control id, never by pointer: a
// tree view still reports while it is torn down, after its dialog's record
// has gone.
struct ControlRef {
    DialogId dialog;
    int controlId;
};

template <typename Callback>
void connectControl(gpointer instance, const char* signal, Callback callback, DialogId dialog,
                    int controlId) {
    g_signal_connect_data(
        instance, signal, G_CALLBACK(callback), new ControlRef{dialog, controlId},
        [](gpointer data, GClosure*) { delete static_cast<ControlRef*>(data); }, GConnectFlags());
}

// What the user did with a control reaches the program from the loop, right
// after the input's own handling, as a message posted on Windows would: a
// screen reader that pressed a button through the accessibility interface
// gets its answer before a handler opens a message box, so it can read it.
struct PostedEvent {
    DialogId dialog;
    DialogEvent event;
    int controlId;
};

gboolean deliverPosted(gpointer data) {
    const auto* posted = static_cast<const PostedEvent*>(data);
    if (Dialog* dialog = find(posted->dialog))
        if (dialog->window != nullptr) deliver(*dialog, posted->event, posted->controlId);
    return G_SOURCE_REMOVE;
}

void post(DialogId dialog, DialogEvent event, int controlId) {
    g_idle_add_full(G_PRIORITY_DEFAULT, deliverPosted, new PostedEvent{dialog, event, controlId},
                    [](gpointer data) { delete static_cast<PostedEvent*>(data); });
}

void onSelectionChanged(GtkTreeSelection* selection, gpointer data) {
    const auto* ref = static_cast<const ControlRef*>(data);
    Dialog* dialog = find(ref->dialog);
    Control* control = findControl(ref->dialog, ref->controlId);
    if (dialog == nullptr || control == nullptr) return;
    const int row = selectedRow(selection);
    if (dialog->quietSelection > 0 || row == control->lastSelection) {
        control->lastSelection = row;
        return;
    }
    control->lastSelection = row;
    // Keys move on from the selected entry, as in a list box, also when it
    // was chosen without them (through the accessibility interface).
    if (row >= 0) {
        GtkTreePath* cursor = nullptr;
        gtk_tree_view_get_cursor(GTK_TREE_VIEW(control->focusable), &cursor, nullptr);
        if (cursor == nullptr || gtk_tree_path_get_indices(cursor)[0] != row) {
            GtkTreePath* path = gtk_tree_path_new_from_indices(row, -1);
            ++dialog->quietSelection;
            gtk_tree_view_set_cursor(GTK_TREE_VIEW(control->focusable), path, nullptr, FALSE);
            --dialog->quietSelection;
            gtk_tree_path_free(path);
        }
        if (cursor != nullptr) gtk_tree_path_free(cursor);
    }
    // A list box tells its dialog of a change only when it has LBS_NOTIFY.
    if ((control->table.style & style::kLbsNotify) != 0)
        post(dialog->id, DialogEvent::SelectionChanged, control->table.id);
}

void onClicked(GtkButton*, gpointer data) {
    const auto* ref = static_cast<const ControlRef*>(data);
    post(ref->dialog, DialogEvent::Clicked, ref->controlId);
}

// A focus change is reported once the events that came with it have been
// handled: with no window manager, giving a new window the focus yields
// focus in, out and in again at once, where Windows activates it once.
gboolean reportDeactivation(gpointer data) {
    if (Dialog* dialog = find(idFrom(data))) {
        dialog->pendingDeactivation = 0;
        deliver(*dialog, DialogEvent::Deactivated, 0);
    }
    return G_SOURCE_REMOVE;
}

gboolean onFocusIn(GtkWidget*, GdkEvent*, gpointer data) {
    Dialog* dialog = find(idFrom(data));
    if (dialog == nullptr) return FALSE;
    if (dialog->pendingDeactivation != 0) {
        // Deactivated and activated again before anyone heard of it.
        g_source_remove(dialog->pendingDeactivation);
        dialog->pendingDeactivation = 0;
        return FALSE;
    }
    deliver(*dialog, DialogEvent::Activated, 0);
    return FALSE;
}

gboolean onFocusOut(GtkWidget*, GdkEvent*, gpointer data) {
    Dialog* dialog = find(idFrom(data));
    if (dialog != nullptr && dialog->pendingDeactivation == 0)
        dialog->pendingDeactivation =
            g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, reportDeactivation, data, nullptr);
    return FALSE;
}

// Closing the window (WM_DELETE_WINDOW) destroys it, as the close command
// does on Windows; a modal dialog so closed ends with 0.
gboolean onDeleteEvent(GtkWidget*, GdkEvent*, gpointer data) {
    Dialog* dialog = find(idFrom(data));
    if (dialog != nullptr && dialog->modal && !dialog->ended) {
        dialog->ended = true;
        dialog->result = 0;
    }
    return FALSE; // the default handling destroys the window
}

void onDestroy(GtkWidget*, gpointer data) {
    const DialogId id = idFrom(data);
    Dialog* dialog = find(id);
    if (dialog == nullptr) return;
    deliver(*dialog, DialogEvent::Destroyed, 0);
    dialog = find(id);
    if (dialog == nullptr) return;
    dialog->window = nullptr;
    if (dialog->modal) {
        dialog->ended = true; // dialogRunModal frees the record
    } else {
        dialogs.erase(id);
    }
}

// Shown without a window manager, nothing would give the new window the
// focus; on Windows showing a dialog activates it.
gboolean onMapped(GtkWidget* window, GdkEvent*, gpointer) {
    if (!gtk_window_is_active(GTK_WINDOW(window))) gtk_window_present(GTK_WINDOW(window));
    return FALSE;
}

std::string cssFont(const FontSpec& font) {
    std::string css;
    if (!font.face.empty()) {
        css += "font-family: \"";
        for (char c : utf8From1252(font.face))
            if (c != '"' && c != '\\') css += c;
        css += "\", sans-serif; ";
    }
    if (font.points > 0) css += "font-size: " + std::to_string(font.points) + "pt; ";
    css += "font-weight: " + std::to_string(font.weight > 0 ? font.weight : 400) + ";";
    return css;
}

std::string dialogName(DialogId id) {
    return "verdel-dialog-" + std::to_string(id);
}
std::string controlName(DialogId id, int controlId) {
    return "verdel-control-" + std::to_string(id) + "-" + std::to_string(controlId);
}

// The dialog's font on everything in it, each control's own font on that
// control, and controls as tight as their Windows counterparts so that they
// fit the table's sizes.
void applyStyles(Dialog& dialog) {
    const std::string scope = "#" + dialogName(dialog.id);
    std::string css = scope + " { " + cssFont(dialog.table.font) + " }\n";
    css += scope + " button { min-height: 0; min-width: 0; padding: 0 4px; }\n";
    css += scope + " entry { min-height: 0; padding: 0 4px; }\n";
    for (const auto& control : dialog.controls) {
        const FontSpec& font = control->table.font;
        if (font.face.empty() && font.points == 0) continue;
        css += "#" + controlName(dialog.id, control->table.id) + " { " + cssFont(font) + " }\n";
    }
    dialog.css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(dialog.css, css.c_str(), -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(),
                                              GTK_STYLE_PROVIDER(dialog.css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

void buildListBox(Dialog& dialog, Control& control) {
    const ControlSpec& table = control.table;
    control.store = gtk_list_store_new(1, G_TYPE_STRING);
    for (const std::string& item : table.items) {
        GtkTreeIter iter;
        gtk_list_store_append(control.store, &iter);
        gtk_list_store_set(control.store, &iter, 0, utf8From1252(item).c_str(), -1);
    }
    GtkWidget* tree = gtk_tree_view_new_with_model(GTK_TREE_MODEL(control.store));
    gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(tree), FALSE);
    gtk_tree_view_set_enable_search(GTK_TREE_VIEW(tree), FALSE);
    GtkCellRenderer* renderer = gtk_cell_renderer_text_new();
    gtk_tree_view_append_column(GTK_TREE_VIEW(tree), gtk_tree_view_column_new_with_attributes(
                                                         "", renderer, "text", 0, nullptr));
    control.focusable = tree;
    control.selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(tree));
    // One entry at most, and once chosen always one, as in a list box.
    gtk_tree_selection_set_mode(control.selection, GTK_SELECTION_BROWSE);
    selectQuietly(dialog, control, -1);
    connectControl(control.selection, "changed", onSelectionChanged, dialog.id, table.id);

    GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER,
                                   (table.style & style::kVScroll) != 0 ? GTK_POLICY_AUTOMATIC
                                                                        : GTK_POLICY_NEVER);
    gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(scroller), FALSE);
    const bool framed =
        (table.style & style::kBorder) != 0 || (table.exStyle & style::kExClientEdge) != 0;
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroller),
                                        framed ? GTK_SHADOW_IN : GTK_SHADOW_NONE);
    gtk_container_add(GTK_CONTAINER(scroller), tree);
    gtk_widget_show(tree);
    control.outer = scroller;
}

GtkWidget* buildWindow(Dialog& dialog) {
    const DialogSpec& table = dialog.table;
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_set_name(window, dialogName(dialog.id).c_str());
    gtk_window_set_title(GTK_WINDOW(window), utf8From1252(table.title).c_str());
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_window_set_deletable(GTK_WINDOW(window), (table.style & style::kSysMenu) != 0);
    if (dialog.modal) gtk_window_set_modal(GTK_WINDOW(window), TRUE);
    if ((table.style & style::kDsCenter) != 0)
        gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
    else
        gtk_window_move(GTK_WINDOW(window), pixelsX(table.x), pixelsY(table.y));

    GtkWidget* layout = gtk_fixed_new();
    gtk_widget_set_size_request(layout, pixelsX(table.width), pixelsY(table.height));
    gtk_container_add(GTK_CONTAINER(window), layout);
    gtk_widget_show(layout);

    GList* focusChain = nullptr;
    for (const ControlSpec& controlSpec : table.controls) {
        auto control = std::make_unique<Control>();
        control->table = controlSpec;
        switch (controlSpec.kind) {
        case ControlKind::PushButton:
            control->outer = gtk_button_new_with_label(utf8From1252(controlSpec.text).c_str());
            control->focusable = control->outer;
            connectControl(control->outer, "clicked", onClicked, dialog.id, controlSpec.id);
            break;
        case ControlKind::Edit:
            control->outer = gtk_entry_new();
            control->focusable = control->outer;
            gtk_entry_set_text(GTK_ENTRY(control->outer), utf8From1252(controlSpec.text).c_str());
            gtk_entry_set_has_frame(GTK_ENTRY(control->outer),
                                    (controlSpec.style & style::kBorder) != 0 ||
                                        (controlSpec.exStyle & style::kExClientEdge) != 0);
            break;
        case ControlKind::ListBox:
            buildListBox(dialog, *control);
            break;
        }
        gtk_widget_set_name(control->outer, controlName(dialog.id, controlSpec.id).c_str());
        const int left = pixelsX(controlSpec.x);
        const int top = pixelsY(controlSpec.y);
        gtk_widget_set_size_request(control->outer,
                                    pixelsX(controlSpec.x + controlSpec.width) - left,
                                    pixelsY(controlSpec.y + controlSpec.height) - top);
        gtk_fixed_put(GTK_FIXED(layout), control->outer, left, top);
        if ((controlSpec.style & style::kVisible) != 0) gtk_widget_show(control->outer);
        focusChain = g_list_append(focusChain, control->outer);
        dialog.controls.push_back(std::move(control));
    }
    // Tab order is creation order, as in a Windows dialog.
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_container_set_focus_chain(GTK_CONTAINER(layout), focusChain);
    G_GNUC_END_IGNORE_DEPRECATIONS
    g_list_free(focusChain);

    applyStyles(dialog);
    g_signal_connect(window, "delete-event", G_CALLBACK(onDeleteEvent), idPointer(dialog.id));
    g_signal_connect(window, "destroy", G_CALLBACK(onDestroy), idPointer(dialog.id));
    g_signal_connect(window, "focus-in-event", G_CALLBACK(onFocusIn), idPointer(dialog.id));
    g_signal_connect(window, "focus-out-event", G_CALLBACK(onFocusOut), idPointer(dialog.id));
    g_signal_connect(window, "map-event", G_CALLBACK(onMapped), nullptr);
    return window;
}

Dialog* newDialog(const DialogSpec& table, DialogHandler handler, bool modal) {
    auto dialog = std::make_unique<Dialog>();
    dialog->id = nextId++;
    dialog->table = table;
    dialog->handler = std::move(handler);
    dialog->modal = modal;
    Dialog* raw = dialog.get();
    dialogs[raw->id] = std::move(dialog);
    raw->window = buildWindow(*raw);
    return raw;
}

// Initialised, then visible.
void showDialog(DialogId id) {
    Dialog* dialog = find(id);
    if (dialog == nullptr || dialog->window == nullptr) return;
    if (dialog->initPending) {
        dialog->initPending = false;
        deliver(*dialog, DialogEvent::Initialised, 0);
        dialog = find(id);
        // Ended while it was being initialised: it never shows.
        if (dialog == nullptr || dialog->window == nullptr || dialog->ended) return;
    }
    gtk_widget_show(dialog->window);
}

// While a modal loop of its own runs (a modal dialog, a message box), GTK
// also runs the apartment's queued calls, one per turn, as the nested loops
// of Windows dispatch posted messages.
class ApartmentInNestedLoop {
  public:
    ApartmentInNestedLoop() {
        const int fd = VcomApartmentFd();
        if (fd >= 0) source_ = g_unix_fd_add(fd, G_IO_IN, runOne, nullptr);
    }
    ~ApartmentInNestedLoop() {
        if (source_ != 0) g_source_remove(source_);
    }
    ApartmentInNestedLoop(const ApartmentInNestedLoop&) = delete;
    ApartmentInNestedLoop& operator=(const ApartmentInNestedLoop&) = delete;

  private:
    static gboolean runOne(gint, GIOCondition, gpointer) {
        VcomApartmentPumpOne();
        return G_SOURCE_CONTINUE;
    }
    guint source_ = 0;
};

// ---- close signals ------------------------------------------------------------------

volatile std::sig_atomic_t closeSignalled = 0;
int signalPipe[2] = {-1, -1};

void onCloseSignal(int) {
    const int saved = errno;
    closeSignalled = 1;
    if (signalPipe[1] >= 0) {
        const char byte = 1;
        const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
        (void)ignored;
    }
    errno = saved;
}

void drainSignalPipe() {
    char buffer[64];
    while (signalPipe[0] >= 0 && ::read(signalPipe[0], buffer, sizeof buffer) > 0) {
    }
}

} // namespace

bool displayAvailable() {
    return haveDisplay();
}

DialogId dialogCreate(const DialogSpec& table, DialogHandler handler) {
    if (!haveDisplay()) return 0;
    return newDialog(table, std::move(handler), false)->id;
}

void dialogShow(DialogId dialog) {
    showDialog(dialog);
}

bool dialogExists(DialogId id) {
    const Dialog* dialog = find(id);
    return dialog != nullptr && dialog->window != nullptr;
}

int dialogRunModal(const DialogSpec& table, DialogHandler handler) {
    if (!haveDisplay()) return -1;
    const DialogId id = newDialog(table, std::move(handler), true)->id;
    const ApartmentInNestedLoop apartmentCalls;
    showDialog(id);
    for (Dialog* dialog = find(id); dialog != nullptr && !dialog->ended; dialog = find(id))
        g_main_context_iteration(nullptr, TRUE);
    Dialog* dialog = find(id);
    if (dialog == nullptr) return 0;
    if (dialog->window != nullptr) gtk_widget_destroy(dialog->window);
    dialog = find(id);
    const int result = dialog != nullptr ? dialog->result : 0;
    dialogs.erase(id);
    return result;
}

void dialogEnd(DialogId id, int result) {
    Dialog* dialog = find(id);
    if (dialog == nullptr || dialog->window == nullptr) return;
    if (dialog->modal) {
        if (!dialog->ended) {
            dialog->ended = true;
            dialog->result = result;
            gtk_widget_hide(dialog->window);
        }
    } else {
        gtk_widget_destroy(dialog->window);
    }
}

DialogId currentDialog() {
    return runningHandlerDialog;
}

void listSelect(DialogId dialog, int controlId, int index) {
    Control* control = findControl(dialog, controlId);
    if (control == nullptr || control->selection == nullptr) return;
    selectQuietly(*find(dialog), *control, index);
}

int listSelection(DialogId dialog, int controlId) {
    Control* control = findControl(dialog, controlId);
    if (control == nullptr || control->selection == nullptr) return -1;
    return selectedRow(control->selection);
}

std::string listItemText(DialogId dialog, int controlId, int index) {
    Control* control = findControl(dialog, controlId);
    if (control == nullptr || control->store == nullptr || index < 0) return std::string();
    GtkTreeIter iter;
    if (!gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(control->store), &iter, nullptr, index))
        return std::string();
    gchar* text = nullptr;
    gtk_tree_model_get(GTK_TREE_MODEL(control->store), &iter, 0, &text, -1);
    std::string out = cp1252FromUtf8(text);
    g_free(text);
    return out;
}

void controlSetFocus(DialogId dialog, int controlId) {
    Control* control = findControl(dialog, controlId);
    if (control != nullptr) gtk_widget_grab_focus(control->focusable);
}

int focusedControl(DialogId id) {
    Dialog* dialog = find(id);
    if (dialog == nullptr || dialog->window == nullptr) return 0;
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(dialog->window));
    if (focus == nullptr) return 0;
    for (const auto& control : dialog->controls)
        if (focus == control->focusable || focus == control->outer) return control->table.id;
    return 0;
}

bool pumpOneMessage() {
    if (displayState == 1 && g_main_context_pending(nullptr)) {
        gtk_main_iteration_do(FALSE);
        return true;
    }
    return VcomApartmentPumpOne() != 0;
}

void waitForMessages(int timeoutMs) {
    std::vector<GPollFD> fds(16);
    int count = 0;
    int timeout = timeoutMs < 0 ? 0 : timeoutMs;
    GMainContext* context = g_main_context_default();
    const bool acquired = displayState == 1 && g_main_context_acquire(context);
    if (acquired) {
        // What GTK would wait for: its sources' descriptors and next timer.
        gint priority = 0;
        if (g_main_context_prepare(context, &priority)) timeout = 0;
        gint gtkTimeout = -1;
        for (;;) {
            count = g_main_context_query(context, priority, &gtkTimeout, fds.data(),
                                         static_cast<gint>(fds.size()));
            if (count <= static_cast<int>(fds.size())) break;
            fds.resize(static_cast<std::size_t>(count));
        }
        if (gtkTimeout >= 0 && gtkTimeout < timeout) timeout = gtkTimeout;
    }
    std::vector<pollfd> polled;
    for (int i = 0; i < count; ++i)
        polled.push_back(pollfd{fds[static_cast<std::size_t>(i)].fd,
                                static_cast<short>(fds[static_cast<std::size_t>(i)].events), 0});
    const int apartment = VcomApartmentFd();
    if (apartment >= 0) polled.push_back(pollfd{apartment, POLLIN, 0});
    if (signalPipe[0] >= 0) polled.push_back(pollfd{signalPipe[0], POLLIN, 0});
    if (closeSignalled) timeout = 0;
    ::poll(polled.data(), static_cast<nfds_t>(polled.size()), timeout);
    drainSignalPipe();
    if (acquired) g_main_context_release(context);
}

void catchCloseSignals() {
    if (signalPipe[0] < 0) {
        if (::pipe(signalPipe) != 0) {
            signalPipe[0] = signalPipe[1] = -1;
        } else {
            for (int fd : signalPipe) {
                ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
                ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            }
        }
    }
    struct sigaction action {};
    action.sa_handler = onCloseSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &action, nullptr);
}

bool closeRequested() {
    return closeSignalled != 0;
}

void messageBox(const std::string& text, const std::string& caption) {
    // Like the Windows box: an OK button, no icon.
    if (!haveDisplay()) return;
    GtkWidget* box = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER,
                                            GTK_BUTTONS_OK, "%s", utf8From1252(text).c_str());
    gtk_window_set_position(GTK_WINDOW(box), GTK_WIN_POS_CENTER);
    gtk_window_set_keep_above(GTK_WINDOW(box), TRUE);
    // A screen reader finds it by its caption, as on Windows, where a box
    // without one is captioned "Error".
    const std::string title = caption.empty() ? "Error" : utf8From1252(caption);
    gtk_window_set_title(GTK_WINDOW(box), title.c_str());
    atk_object_set_name(gtk_widget_get_accessible(box), title.c_str());
    g_signal_connect(box, "map-event", G_CALLBACK(onMapped), nullptr);
    const ApartmentInNestedLoop apartmentCalls;
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
}

} // namespace platform
