#!/usr/bin/env bash
# kelvane -game, frame-limited, on a game of one room whose SHDR chunk holds a good pair, a pair with a syntax
# error in the pixel text and a record without sources (tests/fixtures/shader_cases.py game_three): the load logs
# the compiler's error for the second and the invalid-shader line for the third, each with its name, and the run
# exits 0. With a snapshot of frame 2 asked for, the file is an 8-bit RGBA PNG of the window's size (160 x 120).
set -u
fail() { echo "FAIL: $*"; exit 1; }
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
fx=$("$KV_FIXTURE" script tests/fixtures/shader_cases.py) && cp "$fx"game_three.win "$tmp/" || fail "fixture"

run() {  # log, extra environment...
  local log=$1
  shift
  env SDL_VIDEODRIVER=offscreen KV_TEST_FRAME_LIMIT=3 KV_TEST_UNPACED=1 "$@" timeout 60 \
    "$KV_BUILD_DIR/kelvane" -headless -debugoutput "$tmp/$log" -game "$tmp/game_three.win" >"$tmp/out" 2>"$tmp/err"
  local rc=$?
  [ "$rc" -ne 124 ] || fail "$log: hung"
  [ "$rc" -eq 0 ] || fail "$log: exit $rc: $(tail -5 "$tmp/err")"
}

run plain.log
grep -q '^Error in fragment shader "sh_broken"' "$tmp/plain.log" ||
  fail "no compile error for sh_broken: $(grep -i shader "$tmp/plain.log")"
grep -qF 'Invalid shader (is it marked as incompatible type for this target?) "sh_empty":' "$tmp/plain.log" ||
  fail "no invalid-shader line for sh_empty: $(grep -i shader "$tmp/plain.log")"
! grep -q '"sh_good"' "$tmp/plain.log" || fail "sh_good reported: $(grep sh_good "$tmp/plain.log")"

# The snapshot switch writes the named file.
run snap.log KV_TEST_SNAPSHOT="2:$tmp/frame2.png"
png="$tmp/frame2.png"
[ -s "$png" ] || fail "no snapshot written: $(grep -i snapshot "$tmp/snap.log")"
got=$(identify -format '%w %h %z %[channels]' "$png") || fail "identify: not an image"
case "$got" in
  "160 120 8 srgba"|"160 120 8 rgba") ;;
  *) fail "snapshot is '$got', want the 160 x 120 window as an 8-bit RGBA image" ;;
esac
echo "shaders: ok"
