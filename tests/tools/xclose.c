/* Test-only: asks an X window to close the way a window manager does when
 * its close box is pressed (a WM_DELETE_WINDOW client message), for test
 * displays that run no window manager.
 *
 *   xclose WINDOW_ID        (decimal or 0x hex, as xdotool prints it)
 *   xclose --name TITLE     every top-level window named exactly TITLE
 *
 * Exit status: 0 sent, 1 no such window or no display, 2 usage. */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void sendDelete(Display* display, Window window) {
    XEvent event;
    memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.format = 32;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
}

/* The window's name: _NET_WM_NAME (UTF-8) when set, else WM_NAME. */
static int nameIs(Display* display, Window window, const char* title) {
    Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* value = NULL;
    int same = 0;
    if (XGetWindowProperty(display, window, netName, 0, 4096, False, utf8, &type, &format, &count,
                           &after, &value) == Success &&
        value != NULL) {
        same = type == utf8 && strlen((const char*)value) == count &&
               strcmp((const char*)value, title) == 0;
        XFree(value);
        return same;
    }
    char* name = NULL;
    if (XFetchName(display, window, &name) && name != NULL) {
        same = strcmp(name, title) == 0;
        XFree(name);
    }
    return same;
}

int main(int argc, char** argv) {
    if (argc < 2 || (strcmp(argv[1], "--name") == 0 && argc < 3)) {
        fprintf(stderr, "usage: xclose WINDOW_ID | xclose --name TITLE\n");
        return 2;
    }
    Display* display = XOpenDisplay(NULL);
    if (display == NULL) {
        fprintf(stderr, "xclose: cannot open the display\n");
        return 1;
    }
    int sent = 0;
    if (strcmp(argv[1], "--name") == 0) {
        Window root, parent, *kids = NULL;
        unsigned int count = 0;
        if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &kids, &count)) {
            for (unsigned int i = 0; i < count; ++i)
                if (nameIs(display, kids[i], argv[2])) {
                    sendDelete(display, kids[i]);
                    ++sent;
                }
            if (kids != NULL) XFree(kids);
        }
    } else {
        sendDelete(display, (Window)strtoul(argv[1], NULL, 0));
        sent = 1;
    }
    XCloseDisplay(display);
    if (sent == 0) fprintf(stderr, "xclose: no window named %s\n", argv[2]);
    return sent > 0 ? 0 : 1;
}
