#!/usr/bin/env python3
"""Window-to-room mapping on a real X display (xvfb): the pointer moved to client (100, 50) over a 320 x 240
window whose one view shows the room area (1000, 500, 160, 120) is stored as the raw mouse position and maps
to the room point (1050, 525)."""
import os
import queue
import shutil
import subprocess
import sys
import threading
import time

from test_window_probe import ask_to_close, fail, run

MARK = "KV_MOUSEMAP_PROBE_DISPLAY"


def main():
    for tool in ("xvfb-run", "xdotool"):
        if not shutil.which(tool):
            fail(tool + " is missing (scripts/setup-deps)")
    if not os.environ.get(MARK):
        env = dict(os.environ, **{MARK: "1"})
        sys.exit(subprocess.run(["xvfb-run", "-a", "-s", "-screen 0 1024x768x24", sys.executable, __file__],
                                env=env).returncode)

    probe = os.path.join(os.environ.get("KV_BUILD_DIR", "build"), "tests", "probes", "mousemap_probe")
    env = {k: v for k, v in os.environ.items() if k not in ("SDL_VIDEODRIVER", "KV_NO_DIALOGS")}
    child = subprocess.Popen([probe], env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    lines = queue.Queue()
    threading.Thread(target=lambda: [lines.put(l.rstrip("\n")) for l in child.stdout], daemon=True).start()
    seen = []
    try:
        found = run("xdotool", "search", "--sync", "--onlyvisible", "--class", "QZKelvaneQZ")
        if found.returncode != 0 or not found.stdout.split():
            fail("no window of class QZKelvaneQZ appeared: " + found.stderr)
        window = int(found.stdout.split()[0])
        # Start elsewhere so the move to (100, 50) is a change the window sees.
        run("xdotool", "mousemove", "--window", str(window), "10", "10")
        run("xdotool", "mousemove", "--window", str(window), "100", "50")
        end = time.time() + 15
        while time.time() < end and not any(l.startswith("raw 100 50 ") for l in seen):
            try:
                seen.append(lines.get(timeout=0.1))
            except queue.Empty:
                pass
        ask_to_close(window)
        child.wait(timeout=20)
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    if "ready 320x240" not in seen:
        fail("the probe did not open a 320 x 240 window:\n" + "\n".join(seen))
    if "raw 100 50 room 1050 525" not in seen:
        fail("no mapped move to (100, 50):\n" + "\n".join(seen))
    print("mousemap_probe: ok")


if __name__ == "__main__":
    main()
