#!/usr/bin/python3
"""Reads and drives GTK windows through the accessibility tree (AT-SPI), as a
screen reader would. A module for the end-to-end drivers and a command line.
Run with /usr/bin/python3 (it needs Debian's python3-pyatspi) inside the
D-Bus session of the program under test (dbus-run-session).

  atspi_probe.py [--timeout S] [--app NAME] COMMAND [ARGS...]

  wait TITLE            waits for a window (frame, dialog, alert) of that name
  gone TITLE            waits until no such window is left
  describe TITLE        the window as JSON: {"name","role","buttons":[names],
                        "lists":[[{"name","selected"}...]...],"texts":[text...]}
  press TITLE BUTTON    presses a button by its name (its "click" action)
  select TITLE INDEX    selects entry INDEX of the window's (first) list
  alert [NAME]          a message dialog's text: {"name","text"}; without NAME
                        the first alert found
  alert-ok [NAME]       presses its OK button

Every step polls in 50 ms steps for up to --timeout seconds (10 unless
given); exit status 0 done, 1 not found in time, 2 usage. Names are exact.
"""
import json
import sys
import time

import pyatspi

STEP = 0.05
TIMEOUT = 10.0
WINDOW_ROLES = ("frame", "dialog", "alert", "window")


class NotFound(Exception):
    pass


def poll(what, find, timeout=None):
    """Calls find() until it gives something other than None (exceptions of
    a tree that changes under it count as not yet)."""
    deadline = time.time() + (TIMEOUT if timeout is None else timeout)
    while True:
        try:
            value = find()
            if value is not None:
                return value
        except Exception:  # objects vanish while they are read
            pass
        if time.time() >= deadline:
            raise NotFound("timed out waiting for " + what)
        time.sleep(STEP)


def applications(app=None):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        a = desktop.getChildAtIndex(i)
        if a is not None and (app is None or a.name == app):
            yield a


def children(acc):
    for i in range(acc.childCount):
        c = acc.getChildAtIndex(i)
        if c is not None:
            yield c


def walk(acc):
    yield acc
    for c in children(acc):
        yield from walk(c)


def windows(app=None, roles=WINDOW_ROLES):
    for a in applications(app):
        for w in children(a):
            if w.getRoleName() in roles:
                yield w


def seen():
    """What the desktop holds now, for messages: app: [role 'name', ...]."""
    try:
        return "; ".join("%s: %s" % (a.name, ", ".join("%s %r" % (w.getRoleName(), w.name)
                                                      for w in children(a)))
                         for a in applications())
    except Exception as e:
        return "(unreadable: %s)" % e


def find_window(name, app=None, roles=WINDOW_ROLES, timeout=None):
    try:
        return poll("window %r" % name,
                    lambda: next((w for w in windows(app, roles) if w.name == name), None),
                    timeout)
    except NotFound as e:
        raise NotFound("%s; the desktop holds %s" % (e, seen() or "nothing"))


def wait_gone(name, app=None, roles=WINDOW_ROLES, timeout=None):
    def gone():
        return True if not any(w.name == name for w in windows(app, roles)) else None
    return poll("window %r to go" % name, gone, timeout)


def is_selected(acc):
    return acc.getState().contains(pyatspi.STATE_SELECTED)


def buttons(window):
    return [a for a in walk(window) if a.getRoleName() == "push button"]


def lists(window):
    """The window's lists (tree views show as tables, list boxes as lists)."""
    return [a for a in walk(window) if a.getRoleName() in ("table", "list", "list box")]


def entries(lst):
    """A list's entries in order, each {"name", "selected"}. A table's column
    header is no entry."""
    out = []
    for c in children(lst):
        role = c.getRoleName()
        if role in ("table cell", "list item"):
            out.append({"name": c.name, "selected": is_selected(c)})
    return out


def texts(window):
    out = []
    for a in walk(window):
        if a.getRoleName() == "text":
            t = a.queryText()
            out.append(t.getText(0, t.characterCount))
    return out


def describe(window):
    return {"name": window.name, "role": window.getRoleName(),
            "buttons": [b.name for b in buttons(window)],
            "lists": [entries(lst) for lst in lists(window)],
            "texts": texts(window)}


def do_click(acc):
    action = acc.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    action.doAction(names.index("click"))


def press(window, name, timeout=None):
    button = poll("button %r" % name,
                  lambda: next((b for b in buttons(window) if b.name == name), None), timeout)
    do_click(button)


def select(window, index, timeout=None):
    """Selects entry `index` of the window's first list, as a screen reader
    user does (the table's row selection)."""
    lst = poll("a list", lambda: (lists(window) or [None])[0], timeout)
    if lst.getRoleName() == "table":
        lst.queryTable().addRowSelection(index)
    else:
        lst.querySelection().selectChild(index)


def selected_index(window):
    lst = lists(window)[0]
    for i, e in enumerate(entries(lst)):
        if e["selected"]:
            return i
    return -1


def extents(acc):
    """(x, y, width, height) on the screen."""
    box = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return (box.x, box.y, box.width, box.height)


def find_alert(name=None, app=None, timeout=None):
    return poll("an alert" if name is None else "alert %r" % name,
                lambda: next((w for w in windows(app, ("alert", "dialog"))
                              if name is None or w.name == name), None), timeout)


def alert_text(alert):
    """The message: the alert's non-empty labels, joined by newlines."""
    return "\n".join(a.name for a in walk(alert) if a.getRoleName() == "label" and a.name)


def alert_ok(alert, timeout=None):
    press(alert, "OK", timeout)


def main(argv):
    global TIMEOUT
    args = list(argv)
    app = None
    while args and args[0].startswith("--"):
        if args[0] == "--timeout" and len(args) > 1:
            TIMEOUT = float(args[1])
        elif args[0] == "--app" and len(args) > 1:
            app = args[1]
        else:
            return usage()
        args = args[2:]
    if not args:
        return usage()
    command, rest = args[0], args[1:]
    try:
        if command == "wait" and len(rest) == 1:
            w = find_window(rest[0], app)
            print(json.dumps({"name": w.name, "role": w.getRoleName()}))
        elif command == "gone" and len(rest) == 1:
            wait_gone(rest[0], app)
            print(json.dumps({"gone": True}))
        elif command == "describe" and len(rest) == 1:
            print(json.dumps(describe(find_window(rest[0], app))))
        elif command == "press" and len(rest) == 2:
            press(find_window(rest[0], app), rest[1])
            print(json.dumps({"pressed": rest[1]}))
        elif command == "select" and len(rest) == 2:
            select(find_window(rest[0], app), int(rest[1]))
            print(json.dumps({"selected": int(rest[1])}))
        elif command in ("alert", "alert-ok") and len(rest) <= 1:
            alert = find_alert(rest[0] if rest else None, app)
            if command == "alert":
                print(json.dumps({"name": alert.name, "text": alert_text(alert)}))
            else:
                alert_ok(alert)
                print(json.dumps({"ok": True}))
        else:
            return usage()
    except NotFound as e:
        print("atspi_probe: %s" % e, file=sys.stderr)
        return 1
    sys.stdout.flush()
    return 0


def usage():
    print(__doc__.strip().split("\n\n")[1], file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
