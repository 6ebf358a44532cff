#!/usr/bin/python3
"""The IDE as a screen reader sees it: the real oxbrin on a private X server,
read through its accessibility tree (AT-SPI on a private session bus).

Every window, pane, bar, control and field that is on the screen must carry a
name; the status bar's fields, the Output and Terminal panes, the register
fields and the Options pages' controls are checked by the names a user of a
screen reader hears.

Usage: atspi_names.py BUILD-DIR
Environment: QORB_USEREYE_OPTIONAL=1 turns missing tools into a skip (77).
"""

import os
import re
import shutil
import subprocess
import sys
import time

import desktop

SKIP = 77
# Roles whose objects the user reaches and must hear a name for. Fillers,
# scroll bars, separators and the like are structure, not controls.
CONTROL_ROLES = {
    "push button", "toggle button", "check box", "radio button", "combo box", "text", "entry",
    "password text", "spin button", "page tab", "slider", "menu item", "check menu item",
    "tool bar", "status bar", "frame", "dialog", "page tab list", "list", "table", "tree",
}
REGISTERS = ["A", "B", "D", "X", "Y", "SP", "PC", "CCR"]
STATUS_FIELDS = ["Caret position", "Caps Lock", "Num Lock", "Scroll Lock"]


def fail(message):
    print("atspi_names: FAILED: " + message, file=sys.stderr)
    sys.exit(1)


def wait_for(what, limit, probe):
    return desktop.wait_for(what, limit, probe, fail)


# --- outside the private session: tools, X server, window manager ----------

def outer(build):
    missing = desktop.missing_tools()
    if missing:
        text = "missing " + ", ".join(missing) + " (packages in " + desktop.PACKAGES + ")"
        if os.environ.get("QORB_USEREYE_OPTIONAL") == "1":
            print("atspi_names: skipped, " + text)
            sys.exit(SKIP)
        fail(text)
    oxbrin = os.path.join(build, "ide", "oxbrin")
    if not os.access(oxbrin, os.X_OK):
        fail(oxbrin + " is missing: build first")
    return desktop.run("atspi", __file__, [build], 150, fail)


# --- inside the private session bus ---------------------------------------

def inner(build, work):
    import pyatspi  # the system Python's bindings

    launcher = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    ide = None
    try:
        root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
        project = os.path.join(work, "project")
        os.makedirs(project)
        for name in ("blink.asm", "regs.inc"):
            shutil.copy(os.path.join(root, "examples", "hc12", name), project)
        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        time.sleep(0.5)  # the bus launcher registers its address
        ide = subprocess.Popen([os.path.join(build, "ide", "oxbrin"), os.path.join(project, "blink.asm")],
                               cwd=project, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        check(pyatspi, ide)
    finally:
        if ide:
            ide.terminate()
            try:
                ide.wait(timeout=10)
            except subprocess.TimeoutExpired:
                ide.kill()
        launcher.terminate()
    print("atspi_names: PASSED")
    return 0


def node_info(pyatspi, node):
    try:
        return node.getRoleName(), node.name or "", node.getState().contains(pyatspi.STATE_SHOWING)
    except Exception:  # an object that went away while we looked
        return None


def walk(pyatspi, node, depth=0):
    """Every object below `node` with its role, name and whether it shows."""
    info = node_info(pyatspi, node)
    if info is None or depth > 40:
        return
    yield node, info
    for child in desktop.children(node):
        yield from walk(pyatspi, child, depth + 1)


def text_of(node):
    try:
        t = node.queryText()
        return t.getText(0, t.characterCount)
    except Exception:
        return ""


def description(node):
    try:
        return node.description or ""
    except Exception:
        return ""


def keys(window_id, *names):
    subprocess.run(["xdotool", "windowactivate", "--sync", window_id], capture_output=True, timeout=20)
    subprocess.run(["xdotool", "key", "--clearmodifiers", "--delay", "80", *names], check=True, timeout=20)


def label_of(pyatspi, node):
    """The text of the label a control is labelled by (its buddy)."""
    try:
        for rel in node.getRelationSet():
            if rel.getRelationType() == pyatspi.RELATION_LABELLED_BY and rel.getNTargets() > 0:
                return (rel.getTarget(0).name or "").replace("&", "")
    except Exception:
        pass
    return ""


def heard(pyatspi, node, name):
    """What a screen reader announces a control as: its own name, or (for a
    combo box, whose name is its value) the label it is labelled by."""
    try:
        combo = node.getRoleName() == "combo box"
    except Exception:
        combo = False
    if name.strip() and not combo:
        return name
    return label_of(pyatspi, node) or name


def unnamed(pyatspi, nodes, where, showing_only=True):
    """The controls (on the screen, or all of them) that have no name."""
    bad = []
    for node, (role, name, showing) in nodes:
        if role == "list" and node_info(pyatspi, node.parent) and node_info(pyatspi, node.parent)[0] == "combo box":
            continue  # a combo box's drop-down list, named by the box
        if (showing or not showing_only) and role in CONTROL_ROLES and not heard(pyatspi, node, name).strip():
            try:
                parent = node.parent.name if node.parent else ""
            except Exception:
                parent = "?"
            bad.append("%s %s (in '%s')" % (where, role, parent))
    return bad


def check(pyatspi, ide):
    def find_app():
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            try:
                if app is not None and app.get_process_id() == ide.pid:
                    return app
            except Exception:
                pass
        if ide.poll() is not None:
            fail("oxbrin ended (status %s)" % ide.returncode)
        return None

    app = wait_for("oxbrin in the accessibility tree", 40, find_app)

    def top_level(role, name_test):
        for i in range(app.childCount):
            f = app.getChildAtIndex(i)
            info = node_info(pyatspi, f)
            if info and info[0] == role and info[2] and name_test(info[1]):
                return f
        return None

    frame = wait_for("the main window naming blink.asm", 30, lambda: top_level("frame", lambda n: "blink.asm" in n))
    problems = []

    # The panes, shown with their keys (Ctrl+2 the Output pane, Alt+3 the
    # Terminal pane without connecting).
    window = wait_for("the main window's X id", 20, lambda: subprocess.run(
        ["xdotool", "search", "--onlyvisible", "--pid", str(ide.pid), "--name", "blink"],
        capture_output=True, text=True).stdout.split())[0]
    keys(window, "ctrl+2", "alt+3")

    def pane_shown(title):
        for i in range(frame.childCount):
            info = node_info(pyatspi, frame.getChildAtIndex(i))
            if info and info[0] == "frame" and info[1] == title and info[2]:
                return True
        return False

    for pane in ("Output", "Terminal"):
        wait_for("the %s pane on the screen" % pane, 20, lambda pane=pane: pane_shown(pane))
    time.sleep(0.5)
    nodes = list(walk(pyatspi, frame))

    def named(role, name):
        return [n for n, (r, nm, _) in nodes if r == role and nm == name]

    # The status bar's fields, by the names a screen reader says.
    bars = [n for n, (r, _, _) in nodes if r == "status bar"]
    if not bars:
        fail("no status bar in the tree")
    labels = {}
    for n, (r, nm, _) in walk(pyatspi, bars[0]):
        if r == "label":
            labels[nm] = n
            labels[description(n)] = n
    for field in STATUS_FIELDS + ["Serial port", "Download progress"]:
        if field not in labels:
            problems.append("status bar has no field named or described as '%s' (has %s)"
                            % (field, sorted(k for k in labels if k)))
    # A value field says its value: the caret position is read as it shows.
    if "Caret position" in labels:
        position = wait_for("the caret position in the status bar", 20,
                            lambda: re.fullmatch(r"Ln \d+, Col \d+", labels["Caret position"].name or ""))
        print("atspi_names: caret position reads '%s'" % position.group(0))

    for pane in ("Output", "Terminal"):
        if not named("text", pane):
            problems.append("no text named '%s' (the pane's text)" % pane)
    # The register fields, by register name (shown or not).
    for reg in REGISTERS:
        if not named("text", reg):
            problems.append("no register field named '%s'" % reg)
    if not [n for n, (r, nm, _) in nodes if r == "text" and "blink.asm" in nm]:
        problems.append("the source window's text is not named after its file")
    problems += unnamed(pyatspi, nodes, "main window:")

    # The Options sheet (Alt+F7 opens it): every control of every page,
    # the hidden pages' too.
    keys(window, "alt+F7")
    sheet = wait_for("the Options sheet", 20, lambda: top_level("dialog", lambda n: n == "Options"))
    sheet_nodes = list(walk(pyatspi, sheet))
    titles = [nm for _, (r, nm, _) in sheet_nodes if r == "page tab"]
    for wanted in ("General", "Terminal", "Tools", "Assembler", "Target"):
        if wanted not in titles:
            problems.append("the Options sheet has no page '%s' (has %s)" % (wanted, titles))
    problems += unnamed(pyatspi, sheet_nodes, "Options:", showing_only=False)
    # Fields heard by their labels.
    expected = {"Editor:", "Editor font size", "Editor tab stop", "Output:", "Terminal:", "Port:", "Baudrate:",
                "Enter sends:", "Log file:", "Assembler:", "Warning level:", "Options:", "Local echo"}
    names = {heard(pyatspi, n, nm).replace("&", "") for n, (_, nm, _) in sheet_nodes}
    for name in sorted(expected - names):
        problems.append("no control of the Options sheet is heard as '%s'" % name)
    sheet_window = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(ide.pid), "--name",
                                   "^Options$"], capture_output=True, text=True).stdout.split()
    if sheet_window:
        keys(sheet_window[0], "Escape")

    if problems:
        fail("%d problem(s):\n  " % len(problems) + "\n  ".join(problems))


if __name__ == "__main__":
    if len(sys.argv) >= 4 and sys.argv[1] == "--inner":
        sys.exit(inner(sys.argv[2], sys.argv[3]))
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    sys.exit(outer(os.path.abspath(sys.argv[1])))
