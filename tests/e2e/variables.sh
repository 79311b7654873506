#!/usr/bin/env bash
# Built-in variables written by game code, seen through the event trace: each game of
# tests/fixtures/variables_cases.py runs headless for a fixed number of frames and its trace must equal
# golden/variables_<case>.txt, at bytecode version 14 (built-ins bound by name) and 15 (bound through
# their VARI records) alike.
#
# Frames are numbered from 0 and the first step runs in frame 0. The frame limit counts main-loop frames;
# a frame that ends in a room change does not advance the frame number, so the first step of the new room
# carries the same number as the step that asked for it.
#
# alarm    alarm[0] = 3 in create fires alarm 0 in the third step (frame 2), once; alarm[1] = 1 fires in
#          frame 0 and, re-armed to 2 by its own event, in frames 2 and 4; alarm[2] = 0 never fires (it
#          only counts down to -1); alarm[12] = 2 sets alarm 0 and fires in frame 1.
# outside  Sprite-less instances: the box is the point (x, y), inside while 0 <= x <= 64 (and y too).
#          Every step moves x by hspeed before the Outside Room check, so after frame f: x = 52 + 4 (f + 1)
#          is 64 in frame 2 (still inside) and 68 in frame 3, the one Outside Room event; x = 8 - 4 (f + 1)
#          is 0 in frame 1 (inside) and -4 in frame 2.
# lives    lives -1 -> 0 -> 3 and health 100 -> 0.25 in create fire nothing; the first step's lives = 0
#          and health = 0 fire No More Lives and No More Health on both instances inside the write,
#          before the next instance's step; the later writes of 0 over 0 fire nothing.
# timeline Moments 0, 5 and 10 run in frames 0, 5 and 10; with timeline_loop the position then wraps
#          to 0, so they run again in frames 11, 16 and 21 and 0 once more in 22; without it, never again.
# flow     room = n from alarm events: Room End, the next room's creates, its creation code, Room Start.
#          The persistent keeper gets no create event after rm_a and keeps id 100002 (rm_b's record with
#          that id takes its state); room = 2.5 goes to room 2; revisiting the persistent rm_kept gives
#          Room Start only, and its alarm, left at 0, runs down without firing. Game Start only in rm_a.
#          Ten main-loop frames: four of them end in a room change, so the game ends at frame number 6.
# goto_in_create  room = 1 in a first-room create event: the later create events are skipped, both
#          instance creation codes run, Room End in rm_start, then rm_next starts before the first frame;
#          no Game Start at all.
set -u
fail() { echo "FAIL: $*"; exit 1; }
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
fx=$("$KV_FIXTURE" script tests/fixtures/variables_cases.py) && cp -r "$fx" "$tmp/fx" || fail "fixture"
golden="$KV_SOURCE_DIR/tests/e2e/golden"

# A headless run ends right after the first room creation code that runs, so games with one in a later
# room run windowed (offscreen) to reach their frame limit.
run() {  # game, frame limit, ["windowed"], then more arguments -> status in $rc, trace in $tmp/<game>.log
  local game=$1 frames=$2 mode=-headless; shift 2
  if [ "${1-}" = windowed ]; then mode=; shift; fi
  KV_TEST_EVENT_LOG="$tmp/$game.log" KV_TEST_FRAME_LIMIT=$frames KV_TEST_UNPACED=1 SDL_VIDEODRIVER=offscreen \
    timeout 60 "$KV_BUILD_DIR/kelvane" $mode -game "$tmp/fx/$game.win" "$@" >"$tmp/$game.out" 2>"$tmp/$game.err"
  rc=$?
  touch "$tmp/$game.log"
}

check_trace() {  # game, golden case
  diff "$golden/variables_$2.txt" "$tmp/$1.log" >"$tmp/diff" || fail "$1: trace differs from the golden:
$(cat "$tmp/diff")"
}

while read -r name frames mode; do
  for game in "$name" "${name}_v15"; do
    run "$game" "$frames" $mode
    [ "$rc" -eq 0 ] || fail "$game: exit $rc, expected 0: $(tail -5 "$tmp/$game.err")"
    check_trace "$game" "$name"
  done
done <<'EOF'
alarm 6
outside 8
lives 3
timeline 23
flow 10 windowed
goto_in_create 2 windowed
EOF

# room = 99 in the first step of obj_bad: a fatal report in the game's log, and the game ends in that
# frame: obj_after's step is skipped, Room End and Game End follow at once, well before the frame limit.
# The report ends the game without ending the process (only errors raised by built-ins and the
# interpreter do that), so the run ends as any game end does, with status 0.
for game in bad_room bad_room_v15; do
  run "$game" 5 -output "$tmp/$game.output"
  [ "$rc" -eq 0 ] || fail "$game: exit $rc, expected 0: $(tail -5 "$tmp/$game.err")"
  check_trace "$game" bad_room
  [ -f "$tmp/$game.output" ] || fail "$game: no -output file"
  [ "$(grep -c '^ERROR!!! :: ' "$tmp/$game.output")" -eq 1 ] || fail "$game: not one report:
$(cat "$tmp/$game.output")"
  for line in "FATAL ERROR in" "for object obj_bad:" "Unexisting room number: 99"; do
    grep -qxF "$line" "$tmp/$game.output" || fail "$game: no line \"$line\" in the log:
$(cat "$tmp/$game.output")"
  done
done
echo "variables: ok"
