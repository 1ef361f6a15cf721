#!/usr/bin/python3
"""Files named on the command line reach the list whatever they are called: names that are not UTF-8, that Qt
would take for its own options, and "--"; a second start hands more to the first. Convert All then writes every
output under its source's own bytes. Usage: command_line_files.py <vantrell>
"""

import os
import shutil
import subprocess
import sys
import tempfile

import batch_end_to_end as e2e


def main():
    work = tempfile.mkdtemp(prefix="vantrell-args-")
    first = None
    server = e2e.desktop.start_x_server()
    import pyatspi  # after DISPLAY is set
    e2e.pyatspi = pyatspi
    try:
        photos, sample, runtime = (os.path.join(work, name) for name in ("photos", "sample.jpg", "runtime"))
        os.makedirs(photos)
        e2e.run(e2e.CONVERT, "-size", "64x48", "gradient:red-blue", sample)
        # The first start: "--" ends the options; after it "--" is a name.
        first_names = [b"-reverse", b"caf\xe9.jpg", b"--", b"--", b"-platform"]
        second_names = [b"-style", b"\xff\xfe photo"]
        for name in first_names[:2] + first_names[3:] + second_names:
            shutil.copyfile(sample, os.path.join(os.fsencode(photos), name))
        os.makedirs(runtime, mode=0o700)
        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb",
                   VANTRELL_RESOURCES=os.environ.get("VANTRELL_RESOURCES", e2e.RESOURCES),
                   HOME=work, XDG_CONFIG_HOME=os.path.join(work, "config"), XDG_RUNTIME_DIR=runtime,
                   XDG_DATA_HOME=os.path.join(work, "data"), TMPDIR=work)
        first = subprocess.Popen([os.fsencode(e2e.VANTRELL)] + first_names, env=env, cwd=photos)
        e2e.wait_for("the main window", lambda: e2e.find("frame", "Vantrell"))
        e2e.wait_for("four images from the first start", lambda: e2e.label_text("4 images"), timeout=120)

        second = subprocess.run([os.fsencode(e2e.VANTRELL)] + second_names, env=env, cwd=photos, timeout=60)
        if second.returncode != 0:
            e2e.fail(f"the second start ended with {second.returncode}")
        e2e.wait_for("six images after the hand-over", lambda: e2e.label_text("6 images"), timeout=120)

        # Convert All into a new folder: every output keeps its source's bytes.
        out = os.path.join(work, "out")
        os.makedirs(out)
        e2e.click(e2e.find("push button", "Convert All"))
        field = e2e.wait_for("the folder dialog", lambda: e2e.find("text", "Directory:") or e2e.find("text", "Folder:"))
        e2e.click(field)
        e2e.key("ctrl+a")
        e2e.type_text(out)
        e2e.key("Return")
        if e2e.find("push button", "Choose"):
            e2e.click(e2e.find("push button", "Choose"))
        e2e.wait_for("the report", lambda: e2e.find("push button", "Open Destination"), timeout=120)
        e2e.click(e2e.find("push button", "OK"))
        written = os.listdir(os.fsencode(out))
        stems = sorted(os.path.splitext(name)[0] for name in written)
        sources = sorted(os.path.splitext(name)[0] for name in first_names[:2] + first_names[3:] + second_names)
        if stems != sources or any(b"\xef\xbf\xbd" in name for name in written):
            e2e.fail(f"outputs {sorted(written)}, expected the stems {sources}")
        print("1 passed, 0 failed", flush=True)
    finally:
        e2e.shut_down(first, server, work)


if __name__ == "__main__":
    main()
