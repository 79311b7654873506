#!/usr/bin/env bash
# Keyboard and mouse from a real X server (xvfb, XTEST events from xdotool) into the step's game-side state:
# the input probe shows Right held over several steps, Shift under its generic and sided codes, typed text
# with non-ASCII characters, the left button with pointer 0 and one step of wheel each way; the same run
# recorded and then played back alone prints the same lines; and a game run by kelvane gets one key-press,
# a keyboard event in every held step and one key-release for Right, each in the step of its change.
set -u
fail() { echo "FAIL: $*"; exit 1; }
command -v xvfb-run >/dev/null || fail "xvfb-run is missing (scripts/setup-deps)"
command -v xdotool >/dev/null || fail "xdotool is missing (scripts/setup-deps)"
command -v xwininfo >/dev/null || fail "xwininfo is missing (scripts/setup-deps)"
[ -n "${INPUT_XDOTOOL_DISPLAY:-}" ] ||
  exec env -u SDL_VIDEODRIVER INPUT_XDOTOOL_DISPLAY=1 xvfb-run -a -s "-screen 0 1024x768x24 -noreset" bash "$0" "$@"
python=${KV_PYTHON:-python3}
probe="$KV_BUILD_DIR/tests/probes/input_probe"
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

# The window titled $1, once it is mapped (no focus goes to an unmapped window); SDL titles are UTF-8
# properties that xdotool's name search does not read, so xwininfo finds it. At most 60 seconds.
find_window() {
  local info
  for _ in $(seq 1 3000); do
    info=$(xwininfo -name "$1" 2>/dev/null)
    case $info in *IsViewable*) awk '/Window id:/ {print $4; exit}' <<<"$info"; return 0 ;; esac
    sleep 0.02
  done
  return 1
}

drive() {  # window id
  # Without a window manager a focus request can be lost while the window settles, and --sync then waits
  # for ever: each try is bounded and repeated.
  for _ in 1 2 3 4 5 6; do timeout -s KILL 5 xdotool windowfocus --sync "$1" && break; sleep 0.2; done
  xdotool mousemove --window "$1" 60 50
  sleep 0.1
  xdotool keydown Right; sleep 0.5; xdotool keyup Right
  sleep 0.1
  xdotool key shift+a
  sleep 0.1
  xdotool type --delay 30 "héllo"
  sleep 0.1
  xdotool mousedown 1; sleep 0.2; xdotool mouseup 1
  sleep 0.1
  xdotool click 4
  sleep 0.1
  xdotool click 5
}

# é gets a key of its own before any client starts (the server keeps it: -noreset): xdotool would otherwise
# remap a spare key for each character and put it back at once, and a client that reads the key after that
# types nothing.
"$python" - <<'KEYMAP' || fail "cannot give \u00e9 a key"
import ctypes, sys
x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XDisplayKeycodes.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int)]
x.XGetKeyboardMapping.restype = ctypes.POINTER(ctypes.c_ulong)
x.XGetKeyboardMapping.argtypes = [ctypes.c_void_p, ctypes.c_ubyte, ctypes.c_int, ctypes.POINTER(ctypes.c_int)]
x.XChangeKeyboardMapping.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.POINTER(ctypes.c_ulong), ctypes.c_int]
x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
d = x.XOpenDisplay(None)
if not d:
    sys.exit(1)
low, high = ctypes.c_int(), ctypes.c_int()
x.XDisplayKeycodes(d, ctypes.byref(low), ctypes.byref(high))
per = ctypes.c_int()
syms = x.XGetKeyboardMapping(d, low.value, high.value - low.value + 1, ctypes.byref(per))
free = [low.value + i for i in range(high.value - low.value + 1)
        if all(syms[i * per.value + j] == 0 for j in range(per.value))]
if not free:
    sys.exit(1)
eacute = (ctypes.c_ulong * 2)(0xE9, 0xC9)
x.XChangeKeyboardMapping(d, free[-1], 2, eacute, 1)
x.XSync(d, 0)
KEYMAP

# ---- the probe, recording ----
KV_PROBE_STEPS=300 timeout -s KILL 60 "$probe" -record "$tmp/run.rec" >"$tmp/live.jsonl" 2>"$tmp/live.err" &
pid=$!
id=$(find_window "Input Probe") || { kill -9 $pid; fail "the probe's window never appeared: $(cat "$tmp/live.err")"; }
drive "$id"
wait $pid || fail "probe: exit $?: $(tail -3 "$tmp/live.err")"
[ -s "$tmp/run.rec" ] || fail "nothing was recorded"

"$python" - "$tmp/live.jsonl" <<'CHECK' || fail "probe lines: see above"
import json, sys
# The window's own start-up lines come first; the steps are the JSON lines.
steps = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8") if line.startswith("{")]
problems = []
def need(ok, what):
    if not ok:
        problems.append(what)
RIGHT = 39
pressed = [s["step"] for s in steps if RIGHT in s["pressed"]]
released = [s["step"] for s in steps if RIGHT in s["released"]]
down = [s["step"] for s in steps if RIGHT in s["down"]]
need(len(pressed) == 1, "Right pressed in %s" % pressed)
need(len(released) == 1, "Right released in %s" % released)
if len(pressed) == 1 and len(released) == 1:
    need(down == list(range(pressed[0], released[0])), "Right down in %s, pressed %s, released %s" % (down, pressed, released))
    need(len(down) >= 2, "Right down in only %s" % down)
# shift+a may go down and up between two steps: pressed and released show it either way.
for code in (16, 160):
    need(sum(1 for s in steps if code in s["pressed"]) == 1, "Shift %d pressed in more or less than one step" % code)
    need(sum(1 for s in steps if code in s["released"]) == 1, "Shift %d released in more or less than one step" % code)
need(all((16 in s["down"]) == (160 in s["down"] or 161 in s["down"]) for s in steps), "generic and sided Shift differ")
need(steps[-1]["string"] == "Ah\u00e9llo", "keyboard_string %r" % steps[-1]["string"])
held = [s for s in steps if 0 in s["bdown"]]
need(len(held) >= 2, "the left button held in %d steps" % len(held))
need(all(s["pointer0"] == 0x80000003 for s in held), "pointer 0 while held: %s" % sorted({s["pointer0"] for s in held}))
need(steps[-1]["pointer0"] == 0, "pointer 0 after the release: %#x" % steps[-1]["pointer0"])
need(sum(1 for s in steps if 0 in s["bpressed"]) == 1, "left button pressed in more or less than one step")
need(sum(1 for s in steps if 0 in s["breleased"]) == 1, "left button released in more or less than one step")
need(sum(s["wup"] for s in steps) == 1, "wheel up in %d steps" % sum(s["wup"] for s in steps))
need(sum(s["wdown"] for s in steps) == 1, "wheel down in %d steps" % sum(s["wdown"] for s in steps))
for p in problems:
    print(p)
sys.exit(1 if problems else 0)
CHECK

# ---- the probe alone, playing the record back ----
KV_PROBE_STEPS=300 timeout -s KILL 60 "$probe" -playback "$tmp/run.rec" >"$tmp/played.jsonl" 2>"$tmp/played.err" ||
  fail "playback: exit $?: $(tail -3 "$tmp/played.err")"
# Pointer 0 is the window's own table, not the recorded block.
strip() { grep '^{' "$1" | sed -E 's/,"pointer0":[0-9]+//'; }
diff <(strip "$tmp/live.jsonl") <(strip "$tmp/played.jsonl") >"$tmp/diff" ||
  fail "playback differs from the live run: $(head -6 "$tmp/diff")"

# ---- a game: key events for Right ----
fx=$("$KV_FIXTURE" script tests/fixtures/input_cases.py) && cp "$fx"right_key.win "$tmp/game.win" || fail "fixture"
KV_TEST_FRAME_LIMIT=360 KV_TEST_EVENT_LOG="$tmp/events.log" timeout -s KILL 60 "$KV_BUILD_DIR/kelvane" \
  -game "$tmp/game.win" -debugoutput "$tmp/game.debug" >"$tmp/game.out" 2>&1 &
pid=$!
id=$(find_window "Input Keys") || { kill -9 $pid; fail "the game's window never appeared: $(tail -3 "$tmp/game.debug")"; }
drive "$id"
wait $pid || fail "kelvane: exit $?: $(tail -3 "$tmp/game.debug")"
"$python" - "$tmp/events.log" <<'CHECK' || fail "game events: see above"
import sys
frames = {9: [], 5: [], 10: []}
for line in open(sys.argv[1]):
    f = line.split()
    if f[0] == "E" and int(f[3]) in frames and int(f[4]) == 39:
        frames[int(f[3])].append(int(f[1]))
press, held, release = frames[9], frames[5], frames[10]
problems = []
if len(press) != 1 or len(release) != 1:
    problems.append("key-press in frames %s, key-release in %s" % (press, release))
elif held != list(range(press[0], release[0])) or len(held) < 2:
    problems.append("keyboard in frames %s, press %s, release %s" % (held, press, release))
for p in problems:
    print(p)
sys.exit(1 if problems else 0)
CHECK
echo "input_xdotool: ok"
