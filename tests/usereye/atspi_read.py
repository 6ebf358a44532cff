#!/usr/bin/python3
"""Reads what the running IDE shows, the way a screen reader does: through its
accessibility tree on the session bus (AT-SPI).

Usage: atspi_read.py PID position|output|terminal
  position  the status bar's caret position field ("Ln 9, Col 8")
  output    the Output pane's text
  terminal  the Terminal pane's text
Prints the text; exit status 1 when the IDE or the field is not found.
"""

import sys

import pyatspi

import desktop


def info(node):
    try:
        return node.getRoleName(), node.name or "", node.description or ""
    except Exception:
        return None


def walk(node, depth=0):
    i = info(node)
    if i is None or depth > 40:
        return
    yield node, i
    if i[0] in ("menu bar", "popup menu"):
        return  # hundreds of items, none of them wanted here
    for child in desktop.children(node):
        yield from walk(child, depth + 1)


def app_of(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for k in range(desktop.childCount):
        app = desktop.getChildAtIndex(k)
        try:
            if app is not None and app.get_process_id() == pid:
                return app
        except Exception:
            pass
    return None


def main():
    if len(sys.argv) != 3 or sys.argv[2] not in ("position", "output", "terminal"):
        print(__doc__, file=sys.stderr)
        return 2
    app = app_of(int(sys.argv[1]))
    if app is None:
        return 1
    what = sys.argv[2]
    for k in range(app.childCount):
        top = app.getChildAtIndex(k)
        if top is None or (info(top) or ("",))[0] != "frame":
            continue
        for node, (role, name, description) in walk(top):
            if what == "position" and role == "label" and description == "Caret position":
                print(name)
                return 0
            if role == "text" and name == what.capitalize():
                try:
                    text = node.queryText()
                    print(text.getText(0, text.characterCount))
                    return 0
                except Exception:
                    return 1
    return 1


if __name__ == "__main__":
    sys.exit(main())
