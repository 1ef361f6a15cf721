#!/usr/bin/python3
"""A termination signal ends Vantrell as closing its window does.

Runs the executable (argv[1]) on the X server of xvfb-run with its own
configuration, data and runtime folders, waits until it listens for other
starts, checks that its window's class is the one the desktop entry names
(so that task bars tie the window to its launcher), sends SIGTERM and
expects a clean exit that wrote the general preference file. Prints
"terminated cleanly" on success.

With --hostile-preferences the preference folder first holds files that
would crash a careless reader or make it build gigabytes; the application
must start with defaults and keep the general file aside when it writes a
new one. With --unwritable-preferences a folder and a FIFO stand where
preference files go: the application must start, end on SIGTERM without
waiting for anyone to answer, and leave both in place.

With --state STATE [--shots FOLDER] the window is first brought into a
state (the end-of-batch report, a question, the preferences sheet, the
preview, a drag of rows out of the list), then ended by each way that can
reach it in that state (close box, Quit menu, Ctrl+Q, SIGTERM, SIGINT, a
second SIGTERM), each on a fresh start: every way must end the process
promptly with the general preference file written and the preview folder
removed. Prints "terminated cleanly" when all did; screenshots of each
state go to the folder.
"""

import configparser
import glob
import os
import plistlib
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import desktop  # noqa: E402
from desktop import press_close_box  # noqa: E402


HERE = os.path.dirname(os.path.abspath(__file__))
DESKTOP_ENTRY = os.path.join(HERE, "..", "..", "resources", "org.vantrell.Vantrell.desktop")


def window_classes():
    """The WM_CLASS class names of the X server's Vantrell windows."""
    found = subprocess.run(["xdotool", "search", "--class", "vantrell"], capture_output=True, text=True).stdout
    classes = set()
    for window in found.split():
        text = subprocess.run(["xprop", "-id", window, "WM_CLASS"], capture_output=True, text=True).stdout
        names = [part.strip().strip('"') for part in text.split("=", 1)[-1].split(",")]
        if len(names) == 2:
            classes.add(names[1])
    return classes


BUNDLE = "org.vantrell.Vantrell"


def hostile_files():
    """Closing tags hidden in a comment ahead of 200,000 nested arrays; one
    4 KB data object referred to 10,000 times; 150,000 keys."""
    nested = (b'<?xml version="1.0"?><plist version="1.0"><array><!--' + b"</array>" * 200000 + b"-->" +
              b"<array>" * 200000 + b"</array>" * 200001 + b"</plist>")
    shared = b"bplist00"
    data_at = len(shared)
    shared += b"\x4f\x11" + struct.pack(">H", 4096) + b"x" * 4096
    array_at = len(shared)
    shared += b"\xaf\x11" + struct.pack(">H", 10000) + struct.pack(">H", 1) * 10000
    table = len(shared)
    shared += struct.pack(">II", array_at, data_at) + b"\0" * 6 + b"\x04\x02" + struct.pack(">QQQ", 2, 0, table)
    keys = (b'<?xml version="1.0"?><plist version="1.0"><dict>' +
            b"".join(b"<key>k%d</key><integer>1</integer>" % i for i in range(150000)) + b"</dict></plist>")
    return {"-Pref.plist": nested, "-ResizePref.plist": shared, "-WaterMarkPref.plist": keys,
            "-PhotoPref.plist": nested}


# The ways of ending that can reach the window in each state. The Quit menu
# is reachable only while no modal window holds the main window; the
# keyboard belongs to a drag while it runs.
WAYS = {
    "report": ("close-box", "ctrl-q", "sigterm", "sigint", "second-sigterm"),
    "question": ("close-box", "ctrl-q", "sigterm", "sigint"),
    "preferences": ("close-box", "ctrl-q", "sigterm", "sigint"),
    "preview": ("quit-menu", "ctrl-q", "close-box", "sigterm", "second-sigterm"),
    "drag": ("sigterm", "sigint", "close-box", "second-sigterm"),
}
# Seconds within which an ending counts as prompt (a drag's staging batch
# finishes its current photo first).
PROMPT = 30


class Failure(Exception):
    pass


def xdotool(*arguments):
    return subprocess.run(["xdotool", *map(str, arguments)], capture_output=True, text=True).stdout


def windows_of(pid):
    """{window id: name} of the process's visible windows."""
    found = {}
    for window in xdotool("search", "--onlyvisible", "--pid", pid).split():
        found[int(window)] = xdotool("getwindowname", window).strip()
    return found


def fail(message):
    raise Failure(message)


def wait_for(what, condition, timeout=60):
    return desktop.wait_for(what, condition, fail, timeout)


def geometry(window):
    values = dict(line.split("=", 1) for line in xdotool("getwindowgeometry", "--shell", window).split())
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def focus(window):
    xdotool("windowfocus", window)
    time.sleep(0.4)


def write_state_files(work, state):
    """Photos, a stored destination folder, an old preview folder and, for the question, a job preset
    that optimises PNG output (its question comes before the batch starts)."""
    photos, out = os.path.join(work, "photos"), os.path.join(work, "converted")
    os.makedirs(photos), os.makedirs(out)
    os.makedirs(os.path.join(work, "data", "VantrellPreview"))
    open(os.path.join(work, "data", "VantrellPreview", "old.png"), "wb").write(b"old")
    # A drag's staging batch may still be running when the drag is ended.
    size, count = ("2400x1600", 6) if state == "drag" else ("320x240", 2)
    subprocess.run(["/usr/bin/convert", "-size", size, "gradient:orange-navy", "-swirl", "90",
                    os.path.join(photos, "photo1.png")], check=True)
    for i in range(2, count + 1):
        shutil.copyfile(os.path.join(photos, "photo1.png"), os.path.join(photos, f"photo{i}.png"))
    preferences = os.path.join(work, "config", "vantrell")
    os.makedirs(preferences)
    general = {"UseAsDestinationFolder": 1, "DestinationURL": ("file://" + out).encode()}
    if state == "question":
        general["PhotoPresetIndex"] = 1
        preset = {"PhotoPresetIndex": 0, "OptimizationState": True, "OptimizationType": 2, "ImageType": 0,
                  "ConversionState": True}
        with open(os.path.join(preferences, BUNDLE + "-PhotoPref.plist"), "wb") as f:
            plistlib.dump({"Optimised PNG": preset}, f)
    with open(os.path.join(preferences, BUNDLE + "-Pref.plist"), "wb") as f:
        plistlib.dump(general, f)
    return sorted(os.path.join(photos, name) for name in os.listdir(photos))


def bring_into_state(state, pid, main):
    """The window brought into the state; the window that has the keyboard in it."""
    x, y, width, height = geometry(main)
    if state in ("report", "question"):
        focus(main)
        xdotool("key", "ctrl+shift+Return")
        text = "converted" if state == "report" else "PNG optimisation"
        return wait_for(f"the {state}", lambda: next((w for w, n in windows_of(pid).items() if text in n), None))
    if state == "preferences":
        focus(main)
        xdotool("key", "ctrl+comma")
        return wait_for("the preferences sheet",
                        lambda: next((w for w, n in windows_of(pid).items() if n == "Preferences"), None))
    if state == "preview":
        # The Preview button spans the foot of the middle pane.
        xdotool("mousemove", x + width // 2 - 80, y + height - 20, "click", "1")
        return wait_for("the preview window",
                        lambda: next((w for w, n in windows_of(pid).items() if n == "Preview"), None))
    # A drag of the first row, held over the middle of the window: the row
    # is converted for the drop meanwhile.
    xdotool("mousemove", x + 60, y + 160, "mousedown", "1")
    for step in range(1, 9):
        xdotool("mousemove", x + 60 + step * 40, y + 160 + step * 20)
        time.sleep(0.1)
    time.sleep(1.5)
    return main


def end_by(way, process, main, keyboard):
    x, y, _, _ = geometry(main)
    if way == "close-box":
        press_close_box(main)
    elif way == "ctrl-q":
        focus(keyboard)
        xdotool("key", "ctrl+q")
    elif way == "quit-menu":
        # Without a window manager the preview may lie over the menu bar.
        xdotool("windowraise", main)
        focus(main)
        # Quit is the File menu's last item.
        xdotool("mousemove", x + 20, y + 10, "click", "1", "sleep", "0.5", "key", "Up", "Return")
    elif way == "sigint":
        process.send_signal(signal.SIGINT)
    else:
        process.send_signal(signal.SIGTERM)
        if way == "second-sigterm":
            time.sleep(0.5)
            if process.poll() is None:
                process.send_signal(signal.SIGTERM)


def end_in_state(executable, state, way, shots):
    work = tempfile.mkdtemp(prefix=f"vantrell-end-{state}-{way}-")
    process = None
    try:
        photos = write_state_files(work, state)
        runtime = os.path.join(work, "runtime")
        os.makedirs(runtime, mode=0o700)
        env = dict(os.environ, HOME=work, XDG_CONFIG_HOME=os.path.join(work, "config"),
                   XDG_DATA_HOME=os.path.join(work, "data"), XDG_RUNTIME_DIR=runtime, TMPDIR=work,
                   QT_QPA_PLATFORM="xcb")
        env.pop("VANTRELL_EXIT_AFTER_SHOW", None)
        general = os.path.join(work, "config", "vantrell", BUNDLE + "-Pref.plist")
        stored = os.stat(general).st_mtime_ns
        process = subprocess.Popen([executable, *photos], env=env)
        main = wait_for("the main window", lambda: next(
            (w for w, n in windows_of(process.pid).items() if n == "Vantrell"), None), timeout=90)
        time.sleep(3)  # the photos are listed and the first one shown
        keyboard = bring_into_state(state, process.pid, main)
        if shots:
            os.makedirs(shots, exist_ok=True)
            subprocess.run(["import", "-window", "root", os.path.join(shots, f"xvfb-end-{state}-{way}.png")])
        end_by(way, process, main, keyboard)
        try:
            code = process.wait(timeout=PROMPT)
        except subprocess.TimeoutExpired:
            raise Failure(f"still running {PROMPT} s after {way}")
        process = None
        if code not in ((0, -signal.SIGTERM) if way == "second-sigterm" else (0,)):
            raise Failure(f"ended with {code}")
        with open(general, "rb") as f:
            written = plistlib.load(f)
        if os.stat(general).st_mtime_ns == stored or "OverWriteFile" not in written:
            raise Failure("the general preference file was not written")
        if os.path.exists(os.path.join(work, "data", "VantrellPreview")):
            raise Failure("the preview folder is still there")
        print(f"{state}, {way}: ended cleanly", flush=True)
        return True
    except Failure as failure:
        print(f"FAIL {state}, {way}: {failure}", flush=True)
        if shots:
            subprocess.run(["import", "-window", "root", os.path.join(shots, f"xvfb-end-failure-{state}-{way}.png")])
        return False
    finally:
        xdotool("mouseup", "1")
        if process:
            process.kill()
            process.wait()
        shutil.rmtree(work, ignore_errors=True)


def main():
    executable = sys.argv[1]
    if "--state" in sys.argv:
        state = sys.argv[sys.argv.index("--state") + 1]
        shots = sys.argv[sys.argv.index("--shots") + 1] if "--shots" in sys.argv else None
        ended = [end_in_state(executable, state, way, shots) for way in WAYS[state]]
        print(f"{sum(ended)} of {len(ended)} ways ended cleanly", flush=True)
        if all(ended):
            print("terminated cleanly")
        sys.exit(0 if all(ended) else 1)
    entry = configparser.ConfigParser(interpolation=None)
    entry.optionxform = str
    entry.read(DESKTOP_ENTRY)
    wm_class = entry["Desktop Entry"].get("StartupWMClass")
    if not wm_class:
        sys.exit("the desktop entry names no StartupWMClass")
    hostile = "--hostile-preferences" in sys.argv[2:]
    unwritable = "--unwritable-preferences" in sys.argv[2:]
    with tempfile.TemporaryDirectory() as work:
        runtime = os.path.join(work, "runtime")
        os.makedirs(runtime, mode=0o700)
        preferences = os.path.join(work, "config", "vantrell")
        written = hostile_files() if hostile else {}
        os.makedirs(preferences)
        for suffix, content in written.items():
            with open(os.path.join(preferences, BUNDLE + suffix), "wb") as f:
                f.write(content)
        folder, fifo = (os.path.join(preferences, BUNDLE + suffix) for suffix in ("-Pref.plist", "-ResizePref.plist"))
        if unwritable:
            os.makedirs(folder)
            os.mkfifo(fifo)
        env = dict(os.environ, HOME=work, XDG_CONFIG_HOME=os.path.join(work, "config"),
                   XDG_DATA_HOME=os.path.join(work, "data"), XDG_RUNTIME_DIR=runtime, TMPDIR=work,
                   QT_QPA_PLATFORM="xcb")
        env.pop("VANTRELL_EXIT_AFTER_SHOW", None)
        app = subprocess.Popen([executable], env=env)
        deadline = time.time() + 90
        while time.time() < deadline and app.poll() is None:
            if [p for p in glob.glob(os.path.join(runtime, "vantrell-*")) if not p.endswith(".lock")]:
                break
            time.sleep(0.1)
        else:
            app.kill()
            sys.exit("the application did not start listening")
        time.sleep(3)  # the window comes up
        classes = window_classes()
        if wm_class not in classes:
            app.kill()
            sys.exit(f"window classes {sorted(classes)} do not include the desktop entry's {wm_class}")
        app.send_signal(signal.SIGTERM)
        try:
            code = app.wait(timeout=60)
        except subprocess.TimeoutExpired:
            app.kill()
            sys.exit("the application did not end after SIGTERM")
        if code != 0:
            sys.exit(f"the application ended with {code}")
        if unwritable:
            if not os.path.isdir(folder) or not stat.S_ISFIFO(os.stat(fifo).st_mode):
                sys.exit("a folder or FIFO in place of a preference file was moved")
            print("terminated cleanly")
            return
        prefs = glob.glob(os.path.join(preferences, "*-Pref.plist"))
        if not prefs:
            sys.exit("no preference file was written")
        if hostile:
            with open(os.path.join(preferences, BUNDLE + "-Pref.plist.unreadable"), "rb") as f:
                if f.read() != written["-Pref.plist"]:
                    sys.exit("the unreadable general file was not kept as it was")
        print("terminated cleanly")


if __name__ == "__main__":
    main()
