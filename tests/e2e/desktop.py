"""What the end-to-end scripts share: an X server of their own, and finding and clicking widgets through AT-SPI.
pyatspi is imported only once DISPLAY names the new server."""

import ctypes
import os
import subprocess
import time


def start_x_server():
    """Xvfb on a display it picks itself, so parallel runs never collide; DISPLAY names it."""
    read, write = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1440x900x24", "-nolisten", "tcp"],
                              pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read, "rb") as pipe:
        number = pipe.readline()
    if not number.endswith(b"\n"):
        server.kill()
        raise RuntimeError("Xvfb did not start")
    os.environ["DISPLAY"] = ":" + number.decode().strip()
    return server


def find_all(node, role=None, name=None, found=None, depth=0):
    """Every node below `node` (itself included) with the role and name asked for."""
    found = [] if found is None else found
    if node is None or depth > 40:
        return found
    try:
        if (role is None or node.getRoleName() == role) and (name is None or node.name == name):
            found.append(node)
        children = list(node)
    except Exception:
        return found
    for child in children:
        find_all(child, role, name, found, depth + 1)
    return found


def wait_for(what, condition, fail, timeout=60):
    """The condition's first true value; `fail` is called with a message when none comes in time."""
    end = time.time() + timeout
    while time.time() < end:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    return fail(f"timed out waiting for {what}")


def click(node, button="1"):
    """A real mouse click in the middle of the node."""
    import pyatspi
    x, y, w, h = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    subprocess.run(["xdotool", "mousemove", str(x + w // 2), str(y + h // 2), "click", button], check=True,
                   stdout=subprocess.DEVNULL)
    time.sleep(0.3)


def progress_sheet(app):
    """(label, progress bar) of the progress sheet among the top-level windows while it shows a batch, else None."""
    for window in list(app) if app else []:
        try:
            if window.getRoleName() != "dialog":
                continue
            labels = [label for label in find_all(window, "label") if (label.name or "").startswith("Converting")]
            bars = find_all(window, "progress bar")
            if labels and bars:
                return labels[0], bars[0]
        except Exception:
            continue
    return None


def press_close_box(window):
    """WM_DELETE_WINDOW as a window manager sends it: an XClientMessageEvent as longs on a 64-bit system."""
    x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
    x11.XOpenDisplay.restype, x11.XInternAtom.restype = ctypes.c_void_p, ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
    x11.XFlush.argtypes = x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(None)
    if not display:
        raise RuntimeError("no X display for the close box")
    protocols, delete = (x11.XInternAtom(display, atom, 0) for atom in (b"WM_PROTOCOLS", b"WM_DELETE_WINDOW"))
    # type 33 (ClientMessage), serial, send_event, display, window, message_type, format, data (CurrentTime)
    x11.XSendEvent(display, window, 0, 0, (ctypes.c_long * 24)(33, 0, 0, 0, window, protocols, 32, delete, 0))
    x11.XFlush(display)
    x11.XCloseDisplay(display)
