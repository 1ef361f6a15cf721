#!/usr/bin/python3
"""End to end: closing Vantrell while a batch started from the menu bar (File, Convert All, real clicks) runs
under its progress sheet, by the close box, by Ctrl+Q on the sheet and by SIGTERM; each on an X server and
session bus of its own. Expected: a clean exit, the batch stopped after its current file (fewer outputs than
photos, each a whole PNG), the general preference file written and the preview folder removed.

    close_during_batch.py <vantrell executable> [screenshot folder]
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # nothing written into the source tree
import desktop  # noqa: E402
from desktop import click, find_all, press_close_box

VANTRELL = sys.argv[1]
SHOTS = sys.argv[2] if len(sys.argv) > 2 and sys.argv[2] != "--way" else None
RESOURCES = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "resources")
PHOTOS = 40
RUNNING = {"pid": None}


class Failure(Exception): pass  # noqa: E701


def fail(message):
    raise Failure(message)


def run(*command):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)


def screenshot(name):
    if SHOTS:
        os.makedirs(SHOTS, exist_ok=True), run("import", "-window", "root", os.path.join(SHOTS, name))


def quietly(test, node):
    try:
        return test(node)
    except Exception:
        return False


def application():
    """This run's Vantrell (an earlier run killed after a failure may still be listed)."""
    return next((app for app in pyatspi.Registry.getDesktop(0) if quietly(
        lambda a: a is not None and a.name == "Vantrell" and a.get_process_id() == RUNNING["pid"], app)), None)


def find(role, name=None, prefix=None):
    """A showing node of the application with the role and name (or name prefix) asked for."""
    return next((node for node in find_all(application(), role, name) if quietly(
        lambda n: (n.name or "").startswith(prefix or "") and n.getState().contains(pyatspi.STATE_SHOWING), node)), None)


def wait_for(what, condition, timeout=60):
    return desktop.wait_for(what, condition, fail, timeout)


def check_after(work, out, code):
    outputs = sorted(os.listdir(out))
    broken = [name for name in outputs if not name.endswith(".png") or
              (lambda data: data[:8] != b"\x89PNG\r\n\x1a\n" or data[-12:-4] != b"\0\0\0\0IEND")(
                  open(os.path.join(out, name), "rb").read())]
    config = os.path.join(work, "config", "vantrell")
    prefs = [name for name in os.listdir(config) if name.endswith("-Pref.plist")] if os.path.isdir(config) else []
    for bad, message in ((code != 0, f"the application ended with {code}"),
                         (not outputs or len(outputs) >= PHOTOS, f"{len(outputs)} outputs: the batch did not stop early"),
                         (broken, f"not whole PNGs: {broken}"), (not prefs, "no general preference file was written"),
                         (os.path.exists(os.path.join(work, "data", "VantrellPreview")), "the preview folder is still there")):
        if bad:
            fail(message)
    return len(outputs)


def close_during_batch(way):
    work = tempfile.mkdtemp(prefix=f"vantrell-close-{way}-")
    photos, out, preview, runtime = (os.path.join(work, name) for name in
                                     ("photos", "converted", os.path.join("data", "VantrellPreview"), "runtime"))
    process = None
    try:
        # PNG photos large enough that the batch runs for a while; an old preview to be removed; a runtime
        # folder of its own, so that a run killed after a failure leaves no single-instance socket behind.
        os.makedirs(photos)
        run("/usr/bin/convert", "-size", "2400x1600", "gradient:orange-navy", "-swirl", "120", f"{photos}/photo01.png")
        for i in range(2, PHOTOS + 1):
            shutil.copyfile(f"{photos}/photo01.png", f"{photos}/photo{i:02d}.png")
        os.makedirs(out), os.makedirs(preview), os.makedirs(runtime, mode=0o700)
        open(os.path.join(preview, "old.png"), "wb").write(b"old")
        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=runtime,
                   VANTRELL_RESOURCES=os.environ.get("VANTRELL_RESOURCES", RESOURCES), HOME=work, TMPDIR=work,
                   XDG_CONFIG_HOME=os.path.join(work, "config"), XDG_DATA_HOME=os.path.join(work, "data"))
        process = subprocess.Popen([VANTRELL, photos], env=env)
        RUNNING["pid"] = process.pid

        wait_for("the main window", lambda: find("frame", "Vantrell")).queryComponent().grabFocus()
        wait_for("the list to fill", lambda: find("label", prefix=f"{PHOTOS} images"), timeout=120)
        window = int(subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Vantrell$"],
                                    capture_output=True, text=True, check=True).stdout.split()[0])
        # The list's context menu on the first row: a popup is not under the application in the tree, so
        # only its picture is taken.
        x, y, w, _ = wait_for("the image list", lambda: find("table", "Images")).queryComponent().getExtents(
            pyatspi.DESKTOP_COORDS)
        run("xdotool", "mousemove", str(x + w // 2), str(y + 60), "click", "3", "sleep", "0.5")
        screenshot(f"xvfb-context-menu-{way}.png")
        run("xdotool", "key", "Escape", "sleep", "0.3")

        click(wait_for("the File menu", lambda: find("menu item", "File") or find("menu", "File")))
        convert_all = wait_for("the Convert All item", lambda: find("menu item", "Convert All"))
        screenshot(f"xvfb-file-menu-{way}.png")
        click(convert_all)
        click(wait_for("the folder dialog", lambda: find("text", "Directory:") or find("text", "Folder:")))
        run("xdotool", "key", "ctrl+a", "type", "--delay", "10", out)
        run("xdotool", "key", "Return", "sleep", "0.3")
        if choose := find("push button", "Choose"):
            click(choose)
        _, bar = wait_for("the progress sheet", lambda: desktop.progress_sheet(application()))
        wait_for("the first output", lambda: os.listdir(out))
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
            fail(f"{way}: the application did not end")
        process = None
        print(f"{way}: ended cleanly after {check_after(work, out, code)} of {PHOTOS} files", flush=True)
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


if __name__ == "__main__":
    if len(sys.argv) > 3 and sys.argv[-2] == "--way":
        server = desktop.start_x_server()
        try:
            import pyatspi  # after DISPLAY is set
            sys.exit(0 if close_during_batch(sys.argv[-1]) else 1)
        finally:
            server.terminate()
            server.wait()
    # Each way on a session bus and accessibility registry of its own: an application killed after a failure
    # would slow every later lookup.
    results = [subprocess.run(["dbus-run-session", "--", sys.executable, os.path.abspath(__file__), VANTRELL,
                               SHOTS or "", "--way", way]).returncode == 0 for way in ("close-box", "ctrl-q", "sigterm")]
    print(f"{sum(results)} passed, {len(results) - sum(results)} failed", flush=True)
    sys.exit(0 if all(results) else 1)
