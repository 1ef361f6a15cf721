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
"""

import configparser
import glob
import os
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import time


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


def main():
    executable = sys.argv[1]
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
