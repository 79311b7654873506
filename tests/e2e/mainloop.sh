#!/usr/bin/env bash
# Whole runs of the main loop on the frames game (tests/fixtures/mainloop_cases.py): five frame-limited
# frames give the event trace of golden/mainloop_frames.txt, and a second run the same file; with -exit a
# second game runs in the same process after the first, each with its own start-up log and frame limit;
# without -game, the game picked in the file chooser (a stub zenity) runs.
set -u
fail() { echo "FAIL: $*"; exit 1; }
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
fx=$("$KV_FIXTURE" script tests/fixtures/mainloop_cases.py) && mkdir "$tmp/fx" && cp "$fx"frames.* "$fx"frames_v15.* "$tmp/fx/" ||
  fail "fixture"
golden="$KV_SOURCE_DIR/tests/e2e/golden/mainloop_frames.txt"

run() {  # trace file, then kelvane's arguments -> status in $rc
  local trace=$1; shift
  SDL_VIDEODRIVER=offscreen KV_TEST_FRAME_LIMIT=5 KV_TEST_UNPACED=1 KV_TEST_EVENT_LOG="$trace" timeout 60 \
    "$KV_BUILD_DIR/kelvane" -headless "$@" >"$tmp/stdout" 2>"$tmp/stderr"
  rc=$?
}

# ---- five frames, twice ----
run "$tmp/first.log" -game "$tmp/fx/frames.win"
[ "$rc" -eq 0 ] || fail "frames: exit $rc, expected 0: $(tail -5 "$tmp/stderr")"
diff "$golden" "$tmp/first.log" >"$tmp/diff" || fail "frames: trace differs from the golden:
$(cat "$tmp/diff")"
run "$tmp/second.log" -game "$tmp/fx/frames.win"
[ "$rc" -eq 0 ] || fail "frames, second run: exit $rc"
cmp -s "$tmp/first.log" "$tmp/second.log" || fail "a second run gave another trace:
$(diff "$tmp/first.log" "$tmp/second.log")"

# ---- the run cycle: -exit runs the second game after the first ----
run "$tmp/cycle.log" -game "$tmp/fx/frames.win" -debugoutput "$tmp/cycle.debug" -exit "$tmp/fx/frames_v15.win"
[ "$rc" -eq 0 ] || fail "run cycle: exit $rc, expected 0: $(tail -5 "$tmp/cycle.debug")"
# Each game's start-up log is whole, in order: banner, load, preparation, room start, main loop.
landmarks=$(grep -E '^\*.* Runner v|^RunnerLoadGame: |^Finished PrepareGame\(\)|^Run_Start$|^Entering main loop\.$' \
  "$tmp/cycle.debug" | sed -E 's/^\*.* Runner v.*/banner/')
expected="banner
RunnerLoadGame: $tmp/fx/frames.win
Finished PrepareGame() 
Run_Start
Entering main loop.
banner
RunnerLoadGame: $tmp/fx/frames_v15.win
Finished PrepareGame() 
Run_Start
Entering main loop."
[ "$landmarks" = "$expected" ] || fail "run cycle: the log's start-ups differ:
$(diff <(echo "$expected") <(echo "$landmarks"))"
# Both games run their five frames and end: the trace is the golden twice.
diff <(cat "$golden" "$golden") "$tmp/cycle.log" >"$tmp/diff" || fail "run cycle: trace differs from the golden twice:
$(cat "$tmp/diff")"

# ---- no -game: the file chooser names the game ----
# The chooser is a program with its own window: offered whenever dialogs are not switched off and there is
# a display for it, whatever video driver the game itself runs on.
mkdir -p "$tmp/bin"
printf '#!/bin/sh\necho "$*" >"%s/zenity.args"\necho "%s"\n' "$tmp" "$tmp/fx/frames.win" >"$tmp/bin/zenity"
chmod +x "$tmp/bin/zenity"
env -u KV_NO_DIALOGS DISPLAY=:99 SDL_VIDEODRIVER=offscreen PATH="$tmp/bin:$PATH" KV_TEST_FRAME_LIMIT=3 \
  KV_TEST_EVENT_LOG="$tmp/chosen.log" timeout 60 "$KV_BUILD_DIR/kelvane" >"$tmp/stdout" 2>"$tmp/stderr"
rc=$?
[ "$rc" -eq 0 ] || fail "chosen game: exit $rc, expected 0: $(tail -5 "$tmp/stderr")"
[ -f "$tmp/zenity.args" ] || fail "chosen game: the chooser was not asked"
grep -q -- "--file-selection" "$tmp/zenity.args" || fail "chosen game: zenity ran without --file-selection: $(cat "$tmp/zenity.args")"
# Three frames (0-2) and the end of the game at frame 3: the golden's first three frames and its end.
expected_chosen=$(grep -E '^E [0-2] ' "$golden"; grep -E '^E 5 ' "$golden" | sed 's/^E 5 /E 3 /')
[ "$(cat "$tmp/chosen.log")" = "$expected_chosen" ] || fail "chosen game: trace differs:
$(diff <(echo "$expected_chosen") "$tmp/chosen.log")"
echo "mainloop: ok"
