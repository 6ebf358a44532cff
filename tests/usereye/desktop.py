"""A private desktop for the user's-eye checks: an X server of our own
(Xvfb), a window manager, a fresh home folder and a private session bus with
the accessibility bus on it, so that a check reads the real IDE the way a
screen reader does and nothing of the machine's own session leaks in.
"""

import os
import shutil
import subprocess
import tempfile
import time

# The tools every check needs, and where the packages are listed.
TOOLS = ["Xvfb", "openbox", "xdotool", "dbus-run-session"]
PACKAGES = "scripts/packages/usereye.txt"


def children(node):
    """An accessible object's children; one that cannot be read is left out
    (the IDE may take it down while the tree is walked)."""
    try:
        count = node.childCount
    except Exception:
        return
    for i in range(count):
        try:
            child = node.getChildAtIndex(i)
        except Exception:
            continue
        if child is not None:
            yield child


def wait_for(what, limit, probe, fail):
    """What `probe` gives once it gives anything, tried every tenth of a
    second; `fail` says so after `limit` seconds."""
    end = time.monotonic() + limit
    while True:
        result = probe()
        if result:
            return result
        if time.monotonic() > end:
            fail("timed out after %ds waiting for %s" % (limit, what))
        time.sleep(0.1)


def missing_tools(extra=()):
    """What is not installed, as a user would name it to install it."""
    missing = [t for t in list(TOOLS) + list(extra) if not shutil.which(t)]
    if not os.path.exists("/usr/libexec/at-spi-bus-launcher"):
        missing.append("at-spi-bus-launcher (at-spi2-core)")
    try:
        subprocess.run(["/usr/bin/python3", "-c", "import pyatspi"], check=True, capture_output=True)
    except (OSError, subprocess.CalledProcessError):
        missing.append("pyatspi (python3-pyatspi)")
    return missing


def _start_x():
    """Starts Xvfb on a free display; returns (process, ':N') or (process, None)."""
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24", "-nolisten",
                             "tcp", "-noreset"], pass_fds=[write_fd], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    os.close(write_fd)
    number = b""
    end = time.monotonic() + 30
    while not number.endswith(b"\n") and time.monotonic() < end:
        chunk = os.read(read_fd, 16)
        if not chunk:
            break
        number += chunk
    os.close(read_fd)
    return xvfb, (":" + number.decode().strip()) if number.strip() else None


def run(name, script, args, timeout, fail, path=(), keep=False):
    """Runs `script --inner ARGS... WORK` inside a private desktop and session
    bus and returns its exit status. WORK is a scratch folder (removed after,
    unless `keep`); `path` folders go before PATH; `fail` reports and exits."""
    work = tempfile.mkdtemp(prefix=name + ".")
    procs = []
    try:
        xvfb, display = _start_x()
        procs.append(xvfb)
        if not display:
            fail("the X server did not start")
        env = dict(os.environ)
        for var in ("DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY", "SESSION_MANAGER", "QT_SCALE_FACTOR",
                    "QT_SCREEN_SCALE_FACTORS", "NO_AT_BRIDGE", "QT_ACCESSIBILITY"):
            env.pop(var, None)
        home = os.path.join(work, "home")
        os.makedirs(os.path.join(home, ".config"))
        runtime = os.path.join(work, "run")
        os.makedirs(runtime, mode=0o700)
        env.update(DISPLAY=display, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                   XDG_DATA_HOME=os.path.join(home, ".local", "share"), XDG_CACHE_HOME=os.path.join(home, ".cache"),
                   XDG_RUNTIME_DIR=runtime, QT_QPA_PLATFORM="xcb")
        if path:
            env["PATH"] = os.pathsep.join(list(path) + [env.get("PATH", "/usr/bin:/bin")])
        procs.append(subprocess.Popen(["openbox", "--sm-disable"], env=env, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL))
        inner = subprocess.run(["dbus-run-session", "--", "/usr/bin/python3", os.path.abspath(script), "--inner"] +
                               list(args) + [work], env=env, timeout=timeout)
        return inner.returncode
    except subprocess.TimeoutExpired:
        fail("the check did not end within %ds" % timeout)
    finally:
        for p in reversed(procs):
            p.terminate()
        for p in procs:
            try:
                p.wait(timeout=5)
            except subprocess.TimeoutExpired:
                p.kill()
        if keep:
            print(name + ": scratch folder kept: " + work)
        else:
            shutil.rmtree(work, ignore_errors=True)
