#!/usr/bin/python3
"""End to end: the real vantrell executable converts a folder of photos.

Runs on a session bus of its own (dbus-run-session) and starts its own X
server (Xvfb on a free display).
The application is started with a folder of photos on its command line; the
job is set through the window with real mouse and keyboard events (xdotool),
the widgets being found through the accessibility tree (AT-SPI); Convert All
runs into a folder chosen in the folder dialog; then the output files are
checked: count, names, type, size, orientation, metadata.

    batch_end_to_end.py <vantrell executable> [screenshot folder]
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # nothing written into the source tree
import desktop  # noqa: E402
from desktop import click, find_all

VANTRELL = sys.argv[1]
SHOTS = sys.argv[2] if len(sys.argv) > 2 else None
HERE = os.path.dirname(os.path.abspath(__file__))
RESOURCES = os.path.join(os.path.dirname(os.path.dirname(HERE)), "resources")
CONVERT = "/usr/bin/convert"
PHOTOS = 14


def fail(message):
    print("FAIL:", message, flush=True)
    screenshot("failure.png")
    raise SystemExit(1)


def run(*command):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)


# --- Photos --------------------------------------------------------------------------------

def exif_segment(orientation, software):
    """An APP1 EXIF segment (little-endian TIFF) with Orientation and Software."""
    text = software.encode() + b"\0"
    entries = 2
    ifd_size = 2 + entries * 12 + 4
    text_offset = 8 + ifd_size
    ifd = struct.pack("<H", entries)
    ifd += struct.pack("<HHII", 0x0112, 3, 1, orientation)  # SHORT, value in place
    ifd += struct.pack("<HHII", 0x0131, 2, len(text), text_offset)
    ifd += struct.pack("<I", 0)
    tiff = b"II*\0" + struct.pack("<I", 8) + ifd + text
    body = b"Exif\0\0" + tiff
    return b"\xff\xe1" + struct.pack(">H", len(body) + 2) + body


def with_exif(path, orientation, software="VantrellE2E"):
    data = open(path, "rb").read()
    assert data[:2] == b"\xff\xd8"
    open(path, "wb").write(data[:2] + exif_segment(orientation, software) + data[2:])


def make_photos(folder):
    os.makedirs(folder)
    # Landscape photos; enough of them that the progress sheet stays up a moment.
    # One cloud picture, rolled to a different place for each photo.
    clouds = os.path.join(os.path.dirname(folder), "clouds.miff")
    run(CONVERT, "-seed", "1", "-size", "3000x2000", "plasma:fractal", clouds)
    for i in range(1, PHOTOS + 1):
        path = os.path.join(folder, f"photo{i:02d}.jpg")
        run(CONVERT, clouds, "-roll", f"+{i * 197}+{i * 131}", "-quality", "90", path)
        with_exif(path, 1)
    # Stored landscape, shown portrait: EXIF orientation 6.
    portrait = os.path.join(folder, "portrait.jpg")
    run(CONVERT, "-size", "1600x1200", "gradient:red-blue", "-quality", "90", portrait)
    with_exif(portrait, 6)
    # A PNG with alpha, and a text file the list refuses.
    run(CONVERT, "-size", "640x480", "gradient:white-none", "PNG32:" + os.path.join(folder, "overlay.png"))
    open(os.path.join(folder, "notes.txt"), "w").write("not an image\n")
    return {"photo%02d.jpg" % i: (3000, 2000) for i in range(1, PHOTOS + 1)} | {
        "portrait.jpg": (1200, 1600), "overlay.png": (640, 480)}


# --- Accessibility tree and input ----------------------------------------------------------

def application():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == "Vantrell":
            return app
    return None


def find(role=None, name=None, showing=True):
    app = application()
    for node in find_all(app, role, name):
        if not showing or node.getState().contains(pyatspi.STATE_SHOWING):
            return node
    return None


def wait_for(what, condition, timeout=60):
    return desktop.wait_for(what, condition, fail, timeout)


def type_text(text):
    run("xdotool", "type", "--delay", "15", text)


def key(*keys):
    run("xdotool", "key", *keys)
    time.sleep(0.2)


def screenshot(name):
    if SHOTS:
        os.makedirs(SHOTS, exist_ok=True)
        run("import", "-window", "root", os.path.join(SHOTS, name))


def label_text(prefix):
    for node in find_all(application(), "label"):
        if (node.name or "").startswith(prefix) and node.getState().contains(pyatspi.STATE_SHOWING):
            return node.name
    return None


def progress_sheet():
    """The progress sheet's text while it shows."""
    found = desktop.progress_sheet(application())
    return found[0].name if found else None


# --- Output checks ---------------------------------------------------------------------------

def header(path, field):
    return subprocess.run(["vipsheader", "-f", field, path], capture_output=True, text=True).stdout.strip()


def check_outputs(folder, expected):
    names = sorted(os.listdir(folder))
    want = [f"holiday{i}.jpg" for i in range(1, len(expected) + 1)]
    if names != sorted(want):
        fail(f"outputs {names}, expected {sorted(want)}")
    # The list sorts by name: overlay, photo01..08, portrait.
    order = sorted(expected)
    for number, source in enumerate(order, start=1):
        path = os.path.join(folder, f"holiday{number}.jpg")
        data = open(path, "rb").read()
        if data[:3] != b"\xff\xd8\xff":
            fail(f"{path} is no JPEG")
        w, h = expected[source]
        size = (int(header(path, "width")), int(header(path, "height")))
        if size != (w // 2, h // 2):
            fail(f"{path} from {source}: {size}, expected {(w // 2, h // 2)}")
        orientation = header(path, "orientation")
        if orientation not in ("", "1"):
            fail(f"{path}: orientation {orientation}")
        if source.endswith(".jpg") and b"VantrellE2E" not in data:
            fail(f"{path}: the source's metadata was not kept")
    print(f"checked {len(names)} outputs", flush=True)


# --- The run ----------------------------------------------------------------------------------

def shut_down(process, server, work):
    """Ends the application (when started), the X server, and removes the work folder."""
    if process:
        process.terminate()
        try:
            process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            process.kill()
    server.terminate()
    server.wait()
    shutil.rmtree(work, ignore_errors=True)


def main():
    global pyatspi
    work = tempfile.mkdtemp(prefix="vantrell-e2e-")
    process = None
    server = desktop.start_x_server()
    import pyatspi  # after DISPLAY is set
    try:
        photos = os.path.join(work, "photos")
        expected = make_photos(photos)
        out = os.path.join(work, "converted")
        os.makedirs(out)
        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb",
                   VANTRELL_RESOURCES=os.environ.get("VANTRELL_RESOURCES", RESOURCES),
                   HOME=work, XDG_CONFIG_HOME=os.path.join(work, "config"),
                   XDG_DATA_HOME=os.path.join(work, "data"), TMPDIR=work)
        process = subprocess.Popen([VANTRELL, photos], env=env)

        wait_for("the main window", lambda: find("frame", "Vantrell"))
        frame = find("frame", "Vantrell")
        frame.queryComponent().grabFocus()
        wait_for("the list to fill", lambda: label_text(f"{len(expected)} image"), timeout=120)

        # The preview of the first entry.
        click(wait_for("the preview button", lambda: find("check box", "Preview")))
        wait_for("the preview caption", lambda: label_text("1 of %d (" % len(expected)))
        time.sleep(0.5)
        screenshot("preview-window.png")
        click(find("check box", "Preview"))

        # The job: JPEG, renamed holiday1, holiday2, ..., half size.
        click(wait_for("the format menu", lambda: find("combo box", "Same as source")))
        click(wait_for("the JPEG item", lambda: find("list item", "JPEG")))
        click(find("check box", "Optimise"))  # JPEG files, losslessly
        click(find("check box", "Rename"))
        name_field = wait_for("the name field", lambda: find("text", "Text"))
        click(name_field)
        type_text("holiday")
        click(find("check box", "Resize"))
        width_field = wait_for("the width field", lambda: find("text", "Width"))
        click(width_field)
        key("ctrl+a")
        type_text("50")
        key("Tab")
        screenshot("job-set.png")

        # Convert All: the folder dialog, then the batch.
        click(find("push button", "Convert All"))
        dialog_field = wait_for("the folder dialog", lambda: find("text", "Directory:") or find("text", "Folder:"))
        click(dialog_field)
        key("ctrl+a")
        type_text(out)
        key("Return")
        if find("push button", "Choose"):
            click(find("push button", "Choose"))
        # A fast machine may end the batch between two looks; the sheet's
        # own behaviour is covered by the widget tests.
        wait_for("the progress sheet or the report",
                 lambda: progress_sheet() or find("push button", "Open Destination"), timeout=30)
        sheet = progress_sheet()
        if sheet:
            screenshot("progress-sheet.png")
        print("progress sheet:", sheet or "(the batch ended before it was seen)", flush=True)
        wait_for("the report", lambda: find("push button", "Open Destination"), timeout=180)
        time.sleep(0.3)
        screenshot("finished-alert.png")
        click(find("push button", "OK"))

        check_outputs(out, expected)
        print("1 passed, 0 failed", flush=True)
    finally:
        shut_down(process, server, work)


if __name__ == "__main__":
    main()
