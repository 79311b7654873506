#!/usr/bin/env python3
"""The main window on a real X display (xvfb): its class is QZKelvaneQZ, Shift+A, a left click and the
wheel reach the input layer as the game expects them, and closing the window (the request a window manager
sends) ends the main loop. A 320 x 240 back buffer of four coloured quadrants, presented in the window after
it was enlarged to 640 x 480, shows the quadrants upright and doubled."""
import ctypes
import os
import shutil
import subprocess
import sys
import tempfile
import time

MARK = "KV_WINDOW_PROBE_DISPLAY"


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def run(*args, timeout=30):
    return subprocess.run(list(args), capture_output=True, text=True, timeout=timeout)


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class XEvent(ctypes.Union):
    _fields_ = [("client", ClientMessage), ("pad", ctypes.c_long * 24)]


def ask_to_close(window):
    """WM_DELETE_WINDOW, as a window manager's close button sends it."""
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.POINTER(XEvent)]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(None)
    if not display:
        fail("cannot open the X display")
    event = XEvent()
    event.client.type = 33  # ClientMessage
    event.client.window = window
    event.client.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
    event.client.format = 32
    event.client.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    event.client.data[1] = 0  # CurrentTime
    x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
    x11.XFlush(display)
    x11.XCloseDisplay(display)


def wait_for_lines(path, count, seconds=15):
    end = time.time() + seconds
    lines = []
    while time.time() < end:
        with open(path) as f:
            lines = f.read().splitlines()
        if len(lines) >= count:
            break
        time.sleep(0.05)
    return lines


def main():
    for tool in ("xvfb-run", "xdotool", "xprop"):
        if not shutil.which(tool):
            fail(tool + " is missing (scripts/setup-deps)")
    if not os.environ.get(MARK):
        env = dict(os.environ, **{MARK: "1"})
        sys.exit(subprocess.run(["xvfb-run", "-a", "-s", "-screen 0 1024x768x24", sys.executable, __file__],
                                env=env).returncode)

    probe = os.path.join(os.environ.get("KV_BUILD_DIR", "build"), "tests", "probes", "window_probe")
    work = tempfile.mkdtemp()
    log = os.path.join(work, "input.txt")
    env = {k: v for k, v in os.environ.items() if k not in ("SDL_VIDEODRIVER", "KV_NO_DIALOGS")}
    child = subprocess.Popen([probe, log], env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    try:
        found = run("xdotool", "search", "--sync", "--onlyvisible", "--class", "QZKelvaneQZ")
        if found.returncode != 0 or not found.stdout.split():
            fail("no window of class QZKelvaneQZ appeared: " + found.stderr)
        window = int(found.stdout.split()[0])
        wm_class = run("xprop", "-id", str(window), "WM_CLASS").stdout.strip()
        if wm_class != 'WM_CLASS(STRING) = "QZKelvaneQZ", "QZKelvaneQZ"':
            fail("WM_CLASS: " + wm_class)

        run("xdotool", "windowfocus", "--sync", str(window))
        run("xdotool", "key", "shift+a")
        run("xdotool", "mousemove", "--window", str(window), "30", "40")
        run("xdotool", "click", "1")
        run("xdotool", "click", "4")
        run("xdotool", "click", "5")
        # xdotool lets go of the modifier first.
        expected = ["down 16", "down 160", "down 65", "char 65", "up 16", "up 160", "up 65",
                    "mdown 1 30 40", "mup 1 30 40", "wheel up", "wheel down"]
        lines = wait_for_lines(log, len(expected))
        if lines != expected:
            fail("input log:\n" + "\n".join(lines) + "\nexpected:\n" + "\n".join(expected))

        ask_to_close(window)
        out, _ = child.communicate(timeout=20)
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
        shutil.rmtree(work, ignore_errors=True)
    if child.returncode != 0 or "running=0" not in out.splitlines():
        fail("closing did not end the loop (status %d):\n%s" % (child.returncode, out))
    check_present()
    print("window_probe: ok")


# Quadrant centres in the 640 x 480 window and the colour each must show.
QUADRANTS = [((160, 120), "red"), ((480, 120), "lime"), ((480, 360), "white"), ((160, 360), "blue")]


def check_present():
    for tool in ("import", "compare", "convert"):
        if not shutil.which(tool):
            fail(tool + " is missing (scripts/setup-deps installs imagemagick)")
    probe = os.path.join(os.environ.get("KV_BUILD_DIR", "build"), "tests", "probes", "present_probe")
    work = tempfile.mkdtemp()
    env = {k: v for k, v in os.environ.items() if k not in ("SDL_VIDEODRIVER", "KV_NO_DIALOGS")}
    child = subprocess.Popen([probe], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, text=True)
    try:
        # The probe's start-up log comes first.
        seen = []
        for line in child.stdout:
            seen.append(line.rstrip("\n"))
            if line.startswith("ready"):
                break
        if not seen or seen[-1] != "ready 320x240":
            fail("present probe never got ready:\n" + "\n".join(seen))
        found = run("xdotool", "search", "--sync", "--onlyvisible", "--class", "QZKelvaneQZ")
        window = found.stdout.split()[0]
        geometry = run("xwininfo", "-id", window).stdout
        if "Width: 640" not in geometry or "Height: 480" not in geometry:
            fail("the window was not enlarged:\n" + geometry)
        time.sleep(0.2)  # a few presents at the new size
        shot = os.path.join(work, "shot.png")
        taken = run("import", "-window", window, shot)
        if taken.returncode != 0:
            fail("import: " + taken.stderr)
        for (x, y), colour in QUADRANTS:
            part = os.path.join(work, "part.png")
            run("convert", shot, "-crop", "200x200+%d+%d" % (x - 100, y - 100), "+repage", part)
            solid = os.path.join(work, "solid.png")
            run("convert", "-size", "200x200", "xc:" + colour, solid)
            differ = run("compare", "-metric", "AE", part, solid, "null:")
            if differ.stderr.strip() != "0":
                fail("quadrant at %d,%d is not %s: %s pixels differ" % (x, y, colour, differ.stderr.strip()))
    finally:
        if child.poll() is None:
            child.stdin.close()
            try:
                child.wait(timeout=20)
            except subprocess.TimeoutExpired:
                child.kill()
                child.wait()
        shutil.rmtree(work, ignore_errors=True)
    if child.returncode != 0:
        fail("present probe ended with %d" % child.returncode)


if __name__ == "__main__":
    main()
