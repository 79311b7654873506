#!/usr/bin/env bash
# kelvane -game under a real X server: the window carries the game's display name and the runtime's class,
# its client area is the header's 320 x 240 and black, and the run ends with status 0 at its frame limit.
# Without OpenGL (SDL's dummy driver) start-up stops with its logged failure and status 1.
set -u
fail() { echo "FAIL: $*"; exit 1; }
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
fx=$("$KV_FIXTURE" script tests/fixtures/window_cases.py) && cp "$fx"small_window.win "$tmp/game.win" || fail "fixture"
command -v xvfb-run >/dev/null || fail "xvfb-run is missing (scripts/setup-deps installs it)"

cat >"$tmp/look.sh" <<'LOOK'
# Runs the game, waits for its window to be shown, then records what X says of it.
out=$1; shift
KV_TEST_FRAME_LIMIT=150 "$@" &
pid=$!
id=
for _ in $(seq 500); do  # sanitizer builds start slowly
  id=$(xdotool search --classname QZKelvaneQZ 2>/dev/null | head -1)
  [ -n "$id" ] && xwininfo -id "$id" | grep -q IsViewable && break
  id=
  sleep 0.1
done
if [ -n "$id" ]; then
  xprop -id "$id" WM_CLASS _NET_WM_NAME >"$out.props"
  xwininfo -id "$id" >"$out.info"
  import -window "$id" "$out.png"
  convert "$out.png" -format '%[fx:maxima.r] %[fx:maxima.g] %[fx:maxima.b]' info: >"$out.colour"
fi
wait "$pid"
echo $? >"$out.rc"
LOOK

env -u SDL_VIDEODRIVER -u KV_TEST_UNPACED timeout 60 xvfb-run -a -s "-screen 0 1024x768x24" \
  bash "$tmp/look.sh" "$tmp/run" "$KV_BUILD_DIR/kelvane" -game "$tmp/game.win" -debugoutput "$tmp/run.log" \
  >"$tmp/xvfb.out" 2>&1
[ -s "$tmp/run.props" ] || fail "the window was never shown: $(tail -5 "$tmp/xvfb.out") $(tail -5 "$tmp/run.log")"
grep -qF 'WM_CLASS(STRING) = "QZKelvaneQZ", "QZKelvaneQZ"' "$tmp/run.props" || fail "class: $(cat "$tmp/run.props")"
grep -qF '_NET_WM_NAME(UTF8_STRING) = "Fenêtre Ωmega"' "$tmp/run.props" || fail "caption: $(cat "$tmp/run.props")"
grep -qE '^ +Width: 320$' "$tmp/run.info" && grep -qE '^ +Height: 240$' "$tmp/run.info" ||
  fail "client size: $(grep -E 'Width|Height' "$tmp/run.info")"
[ "$(cat "$tmp/run.colour")" = "0 0 0" ] || fail "the client area is not black: $(cat "$tmp/run.colour")"
[ "$(cat "$tmp/run.rc")" = 0 ] || fail "exit status $(cat "$tmp/run.rc"), expected 0"

# ---- no OpenGL ----
SDL_VIDEODRIVER=dummy timeout 30 "$KV_BUILD_DIR/kelvane" -game "$tmp/game.win" -debugoutput "$tmp/dummy.log" \
  -output "$tmp/dummy.out" </dev/null >"$tmp/dummy.stdout" 2>&1
rc=$?
[ "$rc" -eq 1 ] || fail "dummy driver: exit $rc, expected 1"
grep -q "Failed to create mainwindow" "$tmp/dummy.out" "$tmp/dummy.stdout" "$tmp/dummy.log" ||
  fail "dummy driver: no failure line: $(tail -3 "$tmp/dummy.log")"
grep -q "Entering main loop" "$tmp/dummy.log" && fail "dummy driver: the main loop was entered"
echo "window: ok"
