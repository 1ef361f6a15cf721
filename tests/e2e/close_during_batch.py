#!/usr/bin/python3
"""End to end: closing Vantrell while a batch runs under its progress sheet.

For each way out (the window's close box as a window manager sends it, the
Quit shortcut typed while the sheet has the keyboard, SIGTERM), the real
executable is started on an X server of its own with a folder of photos, the
batch is started from the menu bar (File, Convert All, found through the
accessibility tree and clicked with real mouse events), and the window is
closed once the progress sheet shows. Expected: a clean exit, the batch
stopped after its current file (fewer outputs than photos, every output a
whole PNG, nothing half-written), the general preference file written and the
preview folder removed.

    close_during_batch.py <vantrell executable> [screenshot folder]

It runs itself once per way, each on a session bus of its own (dbus-run-session).
"""

import ctypes
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # nothing written into the source tree
import desktop  # noqa: E402
from desktop import click, find_all

VANTRELL = sys.argv[1]
SHOTS = sys.argv[2] if len(sys.argv) > 2 and sys.argv[2] != "--way" else None
HERE = os.path.dirname(os.path.abspath(__file__))
RESOURCES = os.path.join(os.path.dirname(os.path.dirname(HERE)), "resources")
PHOTOS = 40


class Failure(Exception):
    pass


def run(*command):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)


def screenshot(name):
    if SHOTS:
        os.makedirs(SHOTS, exist_ok=True)
        run("import", "-window", "root", os.path.join(SHOTS, name))


# --- The close box: WM_DELETE_WINDOW, as a window manager sends it ---------------------------

class XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class XEvent(ctypes.Union):
    _fields_ = [("xclient", XClientMessageEvent), ("pad", ctypes.c_long * 24)]


def press_close_box(window):
    x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.POINTER(XEvent)]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(None)
    if not display:
        raise Failure("no X display for the close box")
    event = XEvent()
    event.xclient.type = 33  # ClientMessage
    event.xclient.window = window
    event.xclient.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
    event.xclient.format = 32
    event.xclient.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    event.xclient.data[1] = 0  # CurrentTime
    x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
    x11.XFlush(display)
    x11.XCloseDisplay(display)


# --- Accessibility tree and input ------------------------------------------------------------

RUNNING = {"pid": None}


def application():
    """This run's Vantrell (an earlier run killed after a failure may still be listed)."""
    for app in pyatspi.Registry.getDesktop(0):
        try:
            if app is not None and app.name == "Vantrell" and app.get_process_id() == RUNNING["pid"]:
                return app
        except Exception:
            continue
    return None


def find(role=None, name=None):
    for node in find_all(application(), role, name):
        try:
            if node.getState().contains(pyatspi.STATE_SHOWING):
                return node
        except Exception:
            continue
    return None


def fail(message):
    raise Failure(message)


def wait_for(what, condition, timeout=60):
    return desktop.wait_for(what, condition, fail, timeout)


def label_starting(prefix):
    for node in find_all(application(), "label"):
        try:
            if (node.name or "").startswith(prefix) and node.getState().contains(pyatspi.STATE_SHOWING):
                return node
        except Exception:
            continue
    return None


def progress_sheet():
    """The progress sheet's progress bar while it shows a batch."""
    found = desktop.progress_sheet(application())
    return found[1] if found else None


# --- Photos and outputs -------------------------------------------------------------------------

def make_photos(folder):
    """PNG photos large enough that the batch runs for a while."""
    os.makedirs(folder)
    first = os.path.join(folder, "photo01.png")
    run("/usr/bin/convert", "-size", "2400x1600", "gradient:orange-navy", "-swirl", "120", first)
    for i in range(2, PHOTOS + 1):
        shutil.copyfile(first, os.path.join(folder, f"photo{i:02d}.png"))


def whole_png(path):
    data = open(path, "rb").read()
    return data[:8] == b"\x89PNG\r\n\x1a\n" and data[-12:-4] == b"\x00\x00\x00\x00IEND"


def check_after(work, out, code):
    if code != 0:
        raise Failure(f"the application ended with {code}")
    outputs = sorted(os.listdir(out))
    if not outputs or len(outputs) >= PHOTOS:
        raise Failure(f"{len(outputs)} outputs: the batch did not stop early")
    for name in outputs:
        if not name.endswith(".png") or not whole_png(os.path.join(out, name)):
            raise Failure(f"{name} is not a whole PNG")
    prefs = [n for n in os.listdir(os.path.join(work, "config", "vantrell")) if n.endswith("-Pref.plist")]
    if not prefs:
        raise Failure("no general preference file was written")
    if os.path.exists(os.path.join(work, "data", "VantrellPreview")):
        raise Failure("the preview folder is still there")
    return len(outputs)


# --- One run --------------------------------------------------------------------------------------

def close_during_batch(way):
    work = tempfile.mkdtemp(prefix=f"vantrell-close-{way}-")
    process = None
    try:
        photos = os.path.join(work, "photos")
        make_photos(photos)
        out = os.path.join(work, "converted")
        os.makedirs(out)
        preview = os.path.join(work, "data", "VantrellPreview")
        os.makedirs(preview)
        open(os.path.join(preview, "old.png"), "wb").write(b"old")
        # A runtime folder of its own: a run killed after a failure leaves no
        # single-instance socket behind for the next one.
        runtime = os.path.join(work, "runtime")
        os.makedirs(runtime, mode=0o700)
        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=runtime,
                   VANTRELL_RESOURCES=os.environ.get("VANTRELL_RESOURCES", RESOURCES),
                   HOME=work, XDG_CONFIG_HOME=os.path.join(work, "config"),
                   XDG_DATA_HOME=os.path.join(work, "data"), TMPDIR=work)
        process = subprocess.Popen([VANTRELL, photos], env=env)
        RUNNING["pid"] = process.pid

        frame = wait_for("the main window", lambda: find("frame", "Vantrell"))
        frame.queryComponent().grabFocus()
        wait_for("the list to fill", lambda: label_starting(f"{PHOTOS} images"), timeout=120)
        window = int(subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Vantrell$"],
                                    capture_output=True, text=True, check=True).stdout.split()[0])

        # The list's context menu, on the first row.
        x, y, w, h = wait_for("the image list", lambda: find("table", "Images")).queryComponent().getExtents(
            pyatspi.DESKTOP_COORDS)
        run("xdotool", "mousemove", str(x + w // 2), str(y + 60), "click", "3")
        # A popup menu is announced to screen readers when it opens, not kept
        # under the application in the tree: only its picture is taken here.
        time.sleep(0.5)
        screenshot(f"xvfb-context-menu-{way}.png")
        run("xdotool", "key", "Escape")
        time.sleep(0.3)

        # File, Convert All: from the menu bar, as the user would.
        click(wait_for("the File menu", lambda: find("menu item", "File") or find("menu", "File")))
        convert_all = wait_for("the Convert All item", lambda: find("menu item", "Convert All"))
        screenshot(f"xvfb-file-menu-{way}.png")
        click(convert_all)
        field = wait_for("the folder dialog", lambda: find("text", "Directory:") or find("text", "Folder:"))
        click(field)
        run("xdotool", "key", "ctrl+a")
        run("xdotool", "type", "--delay", "10", out)
        run("xdotool", "key", "Return")
        time.sleep(0.3)
        if find("push button", "Choose"):
            click(find("push button", "Choose"))
        bar = wait_for("the progress sheet", progress_sheet, timeout=60)
        wait_for("the first output", lambda: os.listdir(out), timeout=60)
        screenshot(f"xvfb-progress-sheet-{way}.png")

        if way == "close-box":
            press_close_box(window)
        elif way == "ctrl-q":
            click(bar)  # the sheet takes the keyboard
            run("xdotool", "key", "ctrl+q")
        else:
            process.send_signal(signal.SIGTERM)
        try:
            code = process.wait(timeout=120)
        except subprocess.TimeoutExpired:
            raise Failure(f"{way}: the application did not end")
        process = None
        written = check_after(work, out, code)
        print(f"{way}: ended cleanly after {written} of {PHOTOS} files", flush=True)
        return True
    except Failure as failure:
        print(f"FAIL {way}: {failure}", flush=True)
        screenshot(f"xvfb-failure-{way}.png")
        return False
    finally:
        if process:
            process.kill()
            process.wait()
        shutil.rmtree(work, ignore_errors=True)


def run_one(way):
    """One way out, on an X server of its own (inside a session bus of its own)."""
    global pyatspi
    server = desktop.start_x_server()
    try:
        import pyatspi  # after DISPLAY is set
        return close_during_batch(way)
    finally:
        server.terminate()
        server.wait()


def main():
    if len(sys.argv) > 3 and sys.argv[-2] == "--way":
        sys.exit(0 if run_one(sys.argv[-1]) else 1)
    # Each way runs on a session bus and accessibility registry of its own:
    # an application killed after a failure would slow every later lookup.
    results = []
    for way in ("close-box", "ctrl-q", "sigterm"):
        command = ["dbus-run-session", "--", sys.executable, os.path.abspath(__file__), VANTRELL, SHOTS or "",
                   "--way", way]
        results.append(subprocess.run(command).returncode == 0)
    passed = sum(results)
    print(f"{passed} passed, {len(results) - passed} failed", flush=True)
    sys.exit(0 if passed == len(results) else 1)


if __name__ == "__main__":
    main()
