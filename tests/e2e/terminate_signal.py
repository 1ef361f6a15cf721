#!/usr/bin/python3
"""A termination signal ends Vantrell as closing its window does.

Runs the executable (argv[1]) on the X server of xvfb-run with its own
configuration, data and runtime folders, waits until it listens for other
starts, sends SIGTERM and expects a clean exit that wrote the general
preference file. Prints "terminated cleanly" on success.
"""

import glob
import os
import signal
import subprocess
import sys
import tempfile
import time


def main():
    executable = sys.argv[1]
    with tempfile.TemporaryDirectory() as work:
        runtime = os.path.join(work, "runtime")
        os.makedirs(runtime, mode=0o700)
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
        app.send_signal(signal.SIGTERM)
        try:
            code = app.wait(timeout=60)
        except subprocess.TimeoutExpired:
            app.kill()
            sys.exit("the application did not end after SIGTERM")
        if code != 0:
            sys.exit(f"the application ended with {code}")
        prefs = glob.glob(os.path.join(work, "config", "vantrell", "*-Pref.plist"))
        if not prefs:
            sys.exit("no preference file was written")
        print("terminated cleanly")


if __name__ == "__main__":
    main()
