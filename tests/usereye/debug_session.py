#!/usr/bin/python3
"""A debugging session in the real IDE, as a user has it: keys and mouse only
on a private X server, and the window read back through its accessibility
tree (AT-SPI on a private session bus), the way a screen reader reads it.

A program from the test corpus (a game written for a 68HC12 board) is opened
through File/Open; the assembler is told on the Options sheet to tell
upper and lower case apart (the program needs it) and the program's start is
typed at its end. A breakpoint is set by clicking the editor's gutter, F5
runs to it, and the register fields read through AT-SPI must equal what
`qorbsim --stop-at ADDR --regs` says for the same object file. Three Step
Into (F11) later they are compared again. A value typed into the A field
must reach memory with the next step (the program's `std`), read in the
Memory pane through AT-SPI and checked against qorbsim's memory there; the
Watch pane shows the same byte.

Usage: debug_session.py BUILD-DIR [PICTURE-DIR]
  PICTURE-DIR  where the window's pictures go (default: BUILD-DIR/tests/
               usereye/debug_shots); docs/manual/images for the manual's.
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
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
PROGRAM = os.path.join(ROOT, "tests", "asm_quality", "corpus", "hc12", "68HC12_Frogger", "Frogger.asm")
# The line the breakpoint goes on (`ldd #$c003` after `ldx #bottomLane` in
# the routine that sets the variables up: it runs once, and the lines after
# it are straight code that stores D through X) and the symbol X holds.
BREAK_LINE = 285
TABLE = "bottomLane"
TYPED_A = 0x5A
REGISTERS = ["A", "B", "D", "X", "Y", "SP", "PC", "CCR"]


FAILURE_PICTURE = None  # where the screen goes when a check fails (inside the session)


def fail(message):
    print("debug_session: FAILED: " + message, file=sys.stderr)
    if FAILURE_PICTURE and os.environ.get("DISPLAY"):
        # What the screen showed then, for the one who reads the log.
        if subprocess.run(["import", "-window", "root", FAILURE_PICTURE], capture_output=True).returncode == 0:
            print("debug_session: the screen at the failure: " + FAILURE_PICTURE, file=sys.stderr)
    sys.exit(1)


START = time.monotonic()


def note(message):
    print("debug_session: [%5.1fs] %s" % (time.monotonic() - START, message), flush=True)


def wait_for(what, limit, probe):
    return desktop.wait_for(what, limit, probe, fail)


# --- outside the private session: tools, X server, window manager ----------

def outer(build, shots):
    missing = desktop.missing_tools(["import", "convert"])
    if missing:
        text = "missing " + ", ".join(missing) + " (packages in " + desktop.PACKAGES + ")"
        if os.environ.get("QORB_USEREYE_OPTIONAL") == "1":
            print("debug_session: skipped, " + text)
            sys.exit(SKIP)
        fail(text)
    for prog in ("ide/oxbrin", "asm/qorb12", "sim/qorbsim", "spawn/zkspawn"):
        if not os.access(os.path.join(build, prog), os.X_OK):
            fail(os.path.join(build, prog) + " is missing: build first")
    os.makedirs(shots, exist_ok=True)
    # The programs a user has installed side by side.
    return desktop.run("debugeye", __file__, [build, shots], 170, fail,
                       path=[os.path.join(build, "asm"), os.path.join(build, "spawn")],
                       keep=os.environ.get("QORB_USEREYE_KEEP") == "1")


# --- what qorbsim says --------------------------------------------------------

def qorbsim(build, s19, stop, dump=None):
    """Registers (and memory bytes) when the program first reaches `stop`."""
    # The IDE's Target page is left at its default board, flat.
    cmd = [os.path.join(build, "sim", "qorbsim"), "-m68hc12", "--board", "flat", "--stop-at", "0x%04X" % stop,
           "--regs"]
    if dump:
        cmd += ["--dump", "0x%04X:%d" % dump]
    run = subprocess.run(cmd + [s19], capture_output=True, text=True, timeout=30)
    if run.returncode != 0:
        fail("qorbsim did not stop at $%04X (status %d): %s" % (stop, run.returncode, run.stdout + run.stderr))
    regs = dict(re.findall(r"(\w+)=([0-9A-F]+)", run.stdout))
    if "PC" not in regs:
        fail("qorbsim printed no registers: " + run.stdout)
    values = {k: int(v, 16) if k != "CYCLES" else int(v) for k, v in regs.items()}
    values["D"] = values["A"] << 8 | values["B"]
    memory = {}
    for line in run.stdout.splitlines():
        m = re.match(r"^([0-9A-F]{4}):((?: [0-9A-F]{2})+)", line)
        if m:
            for i, byte in enumerate(m.group(2).split()):
                memory[int(m.group(1), 16) + i] = int(byte, 16)
    return values, memory


def listing_addresses(lst):
    """Source line -> address of its code, from the assembler's listing."""
    lines = {}
    with open(lst, encoding="latin-1") as f:
        for text in f:
            m = re.match(r"^\s*(\d+):\s+([0-9A-F]{4}) [0-9A-F]{2}", text)
            if m:
                lines.setdefault(int(m.group(1)), int(m.group(2), 16))
    return lines


def symbol_value(lst, name):
    with open(lst, encoding="latin-1") as f:
        for text in f:
            m = re.match(r"^\s*\d+:\s+([0-9A-F]{4}) \S+\s+" + re.escape(name) + r"\s", text)
            if m:
                return int(m.group(1), 16)
    fail("the listing does not define " + name)


# --- inside the private session bus ---------------------------------------

class Ide:
    """The running IDE: its accessibility tree, keys, mouse and pictures."""

    def __init__(self, pyatspi, proc, shots):
        self.at = pyatspi
        self.proc = proc
        self.shots = shots
        self.app = None
        self.window = None

    def alive(self):
        if self.proc.poll() is not None:
            fail("oxbrin ended (status %s)" % self.proc.returncode)

    def find_app(self):
        desktop = self.at.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            try:
                if app is not None and app.get_process_id() == self.proc.pid:
                    return app
            except Exception:
                pass
        self.alive()
        return None

    def frames(self, role="frame"):
        out = []
        for i in range(self.app.childCount):
            try:
                f = self.app.getChildAtIndex(i)
                if f is not None and f.getRoleName() == role and f.getState().contains(self.at.STATE_SHOWING):
                    out.append(f)
            except Exception:
                pass
        return out

    def walk(self, node, depth=0):
        try:
            role, name = node.getRoleName(), node.name or ""
        except Exception:
            return
        if depth > 40:
            return
        yield node, role, name
        if role in ("menu bar", "popup menu"):
            return
        for child in desktop.children(node):
            yield from self.walk(child, depth + 1)

    def find(self, role, name_test):
        """The first object of the main window with that role whose name passes."""
        self.alive()
        for top in self.frames():
            for node, r, n in self.walk(top):
                if r == role and name_test(n):
                    return node
        return None

    def find_any(self, name_test):
        """The first object of the main window, whatever its role, whose name passes."""
        self.alive()
        for top in self.frames():
            for node, _, n in self.walk(top):
                if name_test(n):
                    return node
        return None

    def node(self, role, name, limit=20):
        test = name if callable(name) else (lambda n: n == name)
        return wait_for("a %s named %s in the accessibility tree" % (role, name), limit,
                        lambda: self.find(role, test))

    @staticmethod
    def text(node):
        try:
            t = node.queryText()
            return t.getText(0, t.characterCount)
        except Exception:
            return None

    def extents(self, node):
        e = node.queryComponent().getExtents(self.at.DESKTOP_COORDS)
        return e.x, e.y, e.width, e.height

    def x_window(self, title_regex):
        def probe():
            self.alive()
            out = subprocess.run(["xdotool", "search", "--all", "--onlyvisible", "--pid", str(self.proc.pid), "--name",
                                  title_regex], capture_output=True, text=True, timeout=20).stdout.split()
            return out[0] if out else None
        return wait_for("a window titled '%s'" % title_regex, 30, probe)

    def activate(self, win):
        """Gives the window the focus, as a click on it would, and waits
        until it has it (a new dialog mostly has it already)."""
        def active():
            out = subprocess.run(["xdotool", "getactivewindow"], capture_output=True, text=True, timeout=20)
            return out.stdout.strip() == win
        if not active():
            subprocess.run(["xdotool", "windowactivate", win], capture_output=True, timeout=20)
            wait_for("window %s to get the focus" % win, 20, active)

    def pane(self, title, key, shown):
        """Shows or hides a pane with its key, as the View menu says, and
        waits until the window has it so."""
        def showing():
            for top in self.frames():
                for i in range(top.childCount):
                    try:
                        child = top.getChildAtIndex(i)
                        if child.getRoleName() == "frame" and child.name == title:
                            return child.getState().contains(self.at.STATE_SHOWING)
                    except Exception:
                        pass
            return False
        if showing() != shown:
            self.keys(key)
            wait_for("the %s pane to %s" % (title, "show" if shown else "go"), 10, lambda: showing() == shown)

    def drag(self, x, y, to_y):
        """Drags with the left button from (x, y) straight up or down to to_y."""
        subprocess.run(["xdotool", "mousemove", "--sync", str(x), str(y), "mousedown", "1"], check=True, timeout=20)
        steps = 8
        for k in range(1, steps + 1):
            time.sleep(0.05)
            subprocess.run(["xdotool", "mousemove", "--sync", str(x), str(y + (to_y - y) * k // steps)],
                           check=True, timeout=20)
        subprocess.run(["xdotool", "mouseup", "1"], check=True, timeout=20)

    def drag_x(self, x, y, to_x):
        """Drags with the left button from (x, y) straight left or right to to_x."""
        subprocess.run(["xdotool", "mousemove", "--sync", str(x), str(y), "mousedown", "1"], check=True, timeout=20)
        for k in range(1, 9):
            time.sleep(0.05)
            subprocess.run(["xdotool", "mousemove", "--sync", str(x + (to_x - x) * k // 8), str(y)], check=True,
                           timeout=20)
        subprocess.run(["xdotool", "mouseup", "1"], check=True, timeout=20)

    def pane_extents(self, title):
        for top in self.frames():
            for i in range(top.childCount):
                child = top.getChildAtIndex(i)
                if child.getRoleName() == "frame" and child.name == title:
                    return self.extents(child)
        fail("no pane titled " + title)

    def keys(self, *names):
        subprocess.run(["xdotool", "key", "--clearmodifiers", "--delay", "80", *names], check=True, timeout=30)

    def type(self, text):
        subprocess.run(["xdotool", "type", "--clearmodifiers", "--delay", "30", "--", text], check=True,
                       timeout=60)

    def click(self, x, y):
        subprocess.run(["xdotool", "mousemove", "--sync", str(x), str(y), "click", "1"], check=True, timeout=20)

    def shot(self, name, folder=None):
        time.sleep(0.4)  # the last repaint reaches the server
        path = os.path.join(folder or self.shots, name + ".png")
        subprocess.run(["import", "-window", "root", path], check=True, capture_output=True, timeout=30)
        note("picture " + path)
        return path


def pixel(png, x, y):
    out = subprocess.run(["convert", png, "-crop", "1x1+%d+%d" % (x, y), "-depth", "8", "txt:-"],
                         capture_output=True, text=True, timeout=20).stdout
    m = re.search(r"\((\d+),(\d+),(\d+)", out.splitlines()[-1] if out else "")
    if not m:
        fail("could not read the pixel at %d,%d of %s: %s" % (x, y, png, out))
    return tuple(int(v) for v in m.groups())


def tinted_band(png, x, top, height):
    """The one band of rows (top, height) whose colour in column x differs
    from the column's most common colour (the editor's background)."""
    out = subprocess.run(["convert", png, "-crop", "1x%d+%d+%d" % (height, x, top), "+repage", "-depth", "8",
                          "txt:-"], capture_output=True, text=True, timeout=20).stdout
    colours = {}
    for line in out.splitlines():
        m = re.match(r"^0,(\d+): \((\d+),(\d+),(\d+)", line)
        if m:
            colours[top + int(m.group(1))] = tuple(int(v) for v in m.group(2, 3, 4))
    if not colours:
        return None
    values = list(colours.values())
    background = max(set(values), key=values.count)
    rows = sorted(y for y, c in colours.items() if c != background)
    if not rows or rows[-1] - rows[0] + 1 != len(rows) or not 8 <= len(rows) <= 60:
        return None
    return rows[0], len(rows)


def inner(build, work, shots):
    import pyatspi  # the system Python's bindings

    global FAILURE_PICTURE
    FAILURE_PICTURE = os.path.join(shots, "failed.png")

    launcher = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    proc = None
    try:
        project = os.path.join(work, "project")
        os.makedirs(project)
        shutil.copy(PROGRAM, project)
        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        time.sleep(0.5)  # the bus launcher registers its address
        proc = subprocess.Popen([os.path.join(build, "ide", "oxbrin")], cwd=project, env=env,
                                stdout=open(os.path.join(work, "oxbrin.log"), "w"), stderr=subprocess.STDOUT)
        ide = Ide(pyatspi, proc, shots)
        session(ide, build, project)
    finally:
        if proc:
            proc.terminate()
            try:
                proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                proc.kill()
        launcher.terminate()
    return 0


def session(ide, build, project):
    started = time.monotonic()
    source = os.path.join(project, "Frogger.asm")
    ide.app = wait_for("oxbrin in the accessibility tree", 40, ide.find_app)
    main = ide.x_window("^Oxbrin$")
    ide.activate(main)

    # --- the program, opened as a user opens it ----------------------------
    ide.keys("ctrl+o")
    ide.activate(ide.x_window("^Open$"))
    ide.type(source)
    ide.keys("Return")
    main = ide.x_window("Frogger\\.asm")
    ide.activate(main)
    editor = ide.node("text", lambda n: "Frogger.asm" in n)
    note("opened " + source)

    # It spells one name twice in different case: the assembler is to tell
    # them apart (Options sheet, Assembler page, Options field).
    ide.keys("alt+F7")
    sheet = ide.x_window("^Options$")
    ide.activate(sheet)

    def page_shown():
        # The page's own controls show only while it is the current one.
        for dialog in ide.frames("dialog"):
            for node, role, name in ide.walk(dialog):
                if role == "check box" and "warnings" in name:
                    return node.getState().contains(ide.at.STATE_SHOWING)
        return False

    for _ in range(8):
        if page_shown():
            break
        ide.keys("ctrl+Tab")
        time.sleep(0.3)
    if not page_shown():
        fail("ctrl+Tab did not reach the Assembler page of the Options sheet")
    ide.keys("alt+o", "End")
    ide.type(" -case")
    ide.keys("Return")
    wait_for("the Options sheet to close", 20, lambda: not ide.frames("dialog"))
    note("assembler options: -case added on the Options sheet")

    # Its start is not in the object file (no END line): the user says where
    # it starts, as the last line.
    ide.activate(main)
    ide.keys("ctrl+End", "Return")
    ide.type("\tend\tMain")
    ide.keys("ctrl+s")
    wait_for("the start line on disk", 20,
             lambda: re.search(r"\n\s*end\s+Main\s*$", open(source, encoding="latin-1").read()))
    note("start typed as the last line: end Main")

    # --- a breakpoint, clicked into the gutter -----------------------------
    ide.keys("ctrl+g")
    ide.activate(ide.x_window("^Go To"))
    ide.type(str(BREAK_LINE))
    ide.keys("Return")
    wait_for("the Go To dialog to close", 20, lambda: not ide.frames("dialog"))
    ide.activate(main)
    time.sleep(0.3)
    # Go To left the caret on the line and the editor tints the caret's
    # line across its width: that band, found on the screen right of the
    # gutter, is where the click goes. (The text's character extents
    # cannot be used: the editor's accessible text reports every line of
    # a scrolled plain-text view at the same height.)
    wait_for("the status bar to show the caret on line %d" % BREAK_LINE, 10,
             lambda: ide.find("label", lambda n: n.startswith("Ln %d," % BREAK_LINE)))
    gutter = wait_for("the editor's gutter (named 'Line numbers')", 20,
                      lambda: ide.find_any(lambda n: n == "Line numbers"))
    gx, gy, gw, gh = ide.extents(gutter)
    ex, ey, ew, eh = ide.extents(editor)
    picture = ide.shot("goto", project)
    band = tinted_band(picture, ex + ew - 40, gy, gh)
    if band is None:
        fail("no tinted caret line right of the gutter (column x=%d, y %d to %d)" % (ex + ew - 40, gy, gy + gh))
    top, height = band
    note("line %d is at y %d to %d on the screen" % (BREAK_LINE, top, top + height - 1))
    line_y = top + height // 2
    # A breakpoint is a dark red disc at the gutter's left edge: not there
    # before the click, there after it.
    disc_x = gx + 1 + max(8, height - 2) // 2

    def red(colour):
        return colour[0] > 110 and colour[1] < 70 and colour[2] < 70
    if red(pixel(picture, disc_x, line_y)):
        fail("the gutter is red at line %d before any breakpoint was set" % BREAK_LINE)
    ide.click(gx + gw // 2, line_y)
    time.sleep(0.3)
    disc = pixel(ide.shot("debug-breakpoint-set"), disc_x, line_y)
    if not red(disc):
        fail("no breakpoint disc in the gutter at line %d after the click (the pixel there is %s)"
             % (BREAK_LINE, disc))
    note("breakpoint drawn on line %d (gutter clicked at %d,%d)" % (BREAK_LINE, gx + gw // 2, line_y))

    # --- F5: built and run to the breakpoint ---------------------------------
    ide.pane("Varnel", "ctrl+4", True)  # the register pane
    ide.pane("Register", "ctrl+5", True)  # the register bar
    ide.activate(main)
    ide.keys("F5")
    pane = ide.node("text", "Registers")
    listing = os.path.join(project, "Frogger.lst")

    def stopped(after_cycles=None):
        text = ide.text(pane) or ""
        m = re.search(r"Cycles: (\d+)", text)
        here = re.search(r"^> ([0-9a-fA-F]{4})", text, re.M)
        if not m or not here:
            return None
        if after_cycles is not None and int(m.group(1)) == after_cycles:
            return None
        return int(here.group(1), 16), int(m.group(1))

    pc, cycles = wait_for("the program to stop at the breakpoint (register pane)", 60, stopped)
    if not os.path.exists(listing):
        fail("F5 built no listing (Frogger.lst); the Output pane says: "
             + (ide.text(ide.find("text", lambda n: n == "Output")) or "")[-400:])
    addresses = listing_addresses(listing)
    s19 = os.path.join(project, "Frogger.s19")
    if pc != addresses.get(BREAK_LINE):
        fail("stopped at $%04X, but line %d's code is at %s" % (pc, BREAK_LINE, addresses.get(BREAK_LINE)))
    compare(ide, build, s19, pc, cycles, "at the breakpoint (line %d)" % BREAK_LINE)
    ide.pane("Output", "ctrl+2", False)  # the build's, shown by F5: room for the others
    # The panes below the editor get more room: their top edge dragged up.
    x, y, w, h = ide.pane_extents("Varnel")
    ide.drag(x + w // 2, y - 3, y - 110)
    ide.shot("debug-stopped")

    # --- three Step Into ---------------------------------------------------------
    code_lines = sorted(line for line in addresses if line > BREAK_LINE)
    for step in range(3):
        ide.keys("F11")
        pc, cycles = wait_for("step %d to stop" % (step + 1), 30, lambda: stopped(cycles))
    expected = addresses[code_lines[2]]
    if pc != expected:
        fail("after three steps the PC is $%04X, expected line %d at $%04X" % (pc, code_lines[2], expected))
    compare(ide, build, s19, pc, cycles, "after three steps (line %d)" % code_lines[2])
    ide.shot("debug-stepped")

    # --- a value typed into A reaches memory -------------------------------------------
    field = ide.node("text", "A")
    x, y, w, h = ide.extents(field)
    ide.click(x + w // 2, y + h // 2)
    ide.keys("ctrl+a")
    ide.type("%02X" % TYPED_A)
    ide.keys("Return")
    wait_for("the A field to read %02X" % TYPED_A, 10,
             lambda: (ide.text(field) or "").strip().upper() == "%02X" % TYPED_A)
    d_field = ide.node("text", "D")
    wait_for("D to follow A", 10, lambda: (ide.text(d_field) or "").upper().startswith("%02X" % TYPED_A))
    ide.activate(main)
    ide.keys("F11")  # std 2,x
    pc, cycles = wait_for("the store to be stepped", 30, lambda: stopped(cycles))
    table = symbol_value(listing, TABLE)
    stored = table + 2
    _, memory = qorbsim(build, s19, pc, dump=(table & 0xFFF0, 32))
    if memory.get(stored) is None:
        fail("qorbsim dumped no byte at $%04X" % stored)

    ide.pane("Varnel", "ctrl+4", False)  # the Memory pane gets the width of the window
    ide.pane("Memory", "ctrl+6", True)
    address = ide.node("text", "Memory address")
    x, y, w, h = ide.extents(address)
    ide.click(x + w // 2, y + h // 2)
    ide.keys("ctrl+a")
    ide.type(TABLE)
    ide.keys("Return")
    grid = ide.node("table", "Memory")
    row = table & 0xFFF0
    shown = wait_for("the Memory pane to show $%04X" % row, 20, lambda: memory_row(ide, grid, row))
    for a in range(row, row + 16):
        want = TYPED_A if a == stored else memory.get(a)
        if shown.get(a) != want:
            fail("the Memory pane shows $%02X at $%04X, expected $%02X (%s)" % (
                shown.get(a, -1), a, want, "the value typed into A" if a == stored else "qorbsim's memory"))
    note("Memory pane: $%04X holds $%02X (typed into A); the other bytes of the row agree with qorbsim"
         % (stored, TYPED_A))
    ide.shot("debug-memory")

    ide.pane("Watch", "ctrl+7", True)
    # Room for the Watch pane's columns: the edge between it and the Memory
    # pane dragged left, into the Memory pane's empty space.
    x, y, w, h = ide.pane_extents("Watch")
    ide.drag_x(x - 4, y + h // 2, x - 75)
    expression = ide.node("text", "Watch expression")
    x, y, w, h = ide.extents(expression)
    ide.click(x + w // 2, y + h // 2)
    bytes_now = dict(memory)
    bytes_now[stored] = TYPED_A
    watched = {TABLE: table, TABLE + "+2": stored}
    for text in watched:
        ide.type(text)
        ide.keys("Return")
    watches = ide.node("table", "Watches")
    expected = [[text, "$%02X" % bytes_now[a], "$%02X%02X" % (bytes_now[a], bytes_now[a + 1]), str(bytes_now[a]),
                 "%{:08b}".format(bytes_now[a])] for text, a in watched.items()]

    def rows_shown():
        rows = table_rows(ide, watches) or []
        # The decimal column adds the signed value of a byte of $80 or more.
        got = [r[:3] + [r[3].split()[0] if r[3] else ""] + r[4:5] for r in rows if len(r) >= 5]
        return got if len(got) == len(expected) else None
    rows = wait_for("the Watch pane's two rows", 20, rows_shown)
    if rows != expected:
        fail("the Watch pane shows %s, expected %s" % (rows, expected))
    note("Watch pane: %s" % table_rows(ide, watches))
    ide.shot("debug-watch")
    note("PASSED in %.0fs" % (time.monotonic() - started))


def register_fields(ide):
    values = {}
    for reg in REGISTERS:
        field = ide.node("text", reg)
        text = (ide.text(field) or "").strip()
        if not text:
            fail("the %s field is empty while the program is paused" % reg)
        try:
            values[reg] = int(text, 2 if reg == "CCR" else 16)
        except ValueError:
            fail("the %s field reads '%s', not a value" % (reg, text))
    return values


def compare(ide, build, s19, pc, cycles, where):
    shown = register_fields(ide)
    expected, _ = qorbsim(build, s19, pc)
    bad = ["%s shows %X, qorbsim %X" % (r, shown[r], expected[r]) for r in REGISTERS if shown[r] != expected[r]]
    if cycles != expected["CYCLES"]:
        bad.append("cycles %d, qorbsim %d" % (cycles, expected["CYCLES"]))
    if bad:
        fail("the register fields %s differ from qorbsim --stop-at $%04X: %s" % (where, pc, "; ".join(bad)))
    note("registers %s agree with qorbsim: %s, %d cycles"
         % (where, " ".join("%s=%X" % (r, shown[r]) for r in REGISTERS), cycles))


def table_rows(ide, table):
    try:
        t = table.queryTable()
        rows = []
        for r in range(t.nRows):
            cells = []
            for c in range(t.nColumns):
                cell = t.getAccessibleAt(r, c)
                cells.append((cell.name or Ide.text(cell) or "").strip() if cell else "")
            rows.append(cells)
        return [r for r in rows if any(r)]
    except Exception:
        return None


def memory_row(ide, table, address):
    """The 16 bytes from `address` as the Memory pane's cells name them
    ("$0019: C0"), by address; None until the pane shows them all."""
    shown = {}
    for cells in table_rows(ide, table) or []:
        for cell in cells:
            m = re.fullmatch(r"\$([0-9A-Fa-f]{4}): ([0-9A-Fa-f]{2})", cell)
            if m:
                shown[int(m.group(1), 16)] = int(m.group(2), 16)
    row = {a: shown.get(a) for a in range(address, address + 16)}
    return row if None not in row.values() else None


if __name__ == "__main__":
    if len(sys.argv) >= 5 and sys.argv[1] == "--inner":
        sys.exit(inner(sys.argv[2], sys.argv[4], sys.argv[3]))
    if len(sys.argv) not in (2, 3):
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    build_dir = os.path.abspath(sys.argv[1])
    picture_dir = os.path.abspath(sys.argv[2]) if len(sys.argv) == 3 else os.path.join(build_dir, "tests", "usereye",
                                                                                      "debug_shots")
    sys.exit(outer(build_dir, picture_dir))
