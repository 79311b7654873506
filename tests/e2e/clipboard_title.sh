#!/usr/bin/env bash
# The clipboard and title built-ins on a real X display (xvfb): the window is found by its class and is the
# one window_handle names; set_application_title shows in _NET_WM_NAME; text set by the game is what xclip
# reads while the window serves it, text xclip offers comes back, and an emptied clipboard has no text.
set -u
fail() { echo "FAIL: $*"; exit 1; }
probe="$KV_BUILD_DIR/tests/probes/clipboard_probe"
for tool in xvfb-run xclip xprop xdotool xwininfo; do
  command -v $tool >/dev/null || fail "$tool is missing (scripts/setup-deps)"
done
[ -n "${CLIPBOARD_DISPLAY:-}" ] || exec env CLIPBOARD_DISPLAY=1 xvfb-run -a bash "$0" "$@"
tmp=$(mktemp -d)
pid=
cleanup() { [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null; rm -rf "$tmp"; }
trap cleanup EXIT

env -u SDL_VIDEODRIVER timeout -s KILL 90 "$probe" "$tmp" >"$tmp/out.txt" 2>&1 &
pid=$!
# waits until the probe printed the line (at most 30 seconds)
wait_line() {
  for _ in $(seq 1500); do
    grep -q "$1" "$tmp/out.txt" && return 0
    kill -0 $pid 2>/dev/null || fail "probe ended: $(cat "$tmp/out.txt")"
    sleep 0.02
  done
  fail "no '$1': $(cat "$tmp/out.txt")"
}

wait_line '^handle '
id=
for _ in $(seq 500); do
  id=$(xdotool search --classname QZKelvaneQZ 2>/dev/null | head -1)
  [ -n "$id" ] && xwininfo -id "$id" | grep -q IsViewable && break
  id=
  sleep 0.1
done
[ -n "$id" ] || fail "no window: $(cat "$tmp/out.txt")"
handle=$(awk '/^handle / {print $2}' "$tmp/out.txt")
[ "$handle" = "$id" ] || fail "window_handle $handle, the window is $id"

touch "$tmp/set"
wait_line '^set$'
title=$(xprop -id "$id" _NET_WM_NAME)
[ "$title" = '_NET_WM_NAME(UTF8_STRING) = "Tîtle"' ] || fail "title: $title"
got=$(timeout 20 xclip -o -selection clipboard) || fail "xclip -o failed"
[ "$got" = "héllo" ] || fail "xclip read '$got'"

# xclip keeps serving its text in the background until the game takes the clipboard back.
printf 'w\xc3\xb6rld' | timeout 30 xclip -i -selection clipboard || fail "xclip -i failed"
touch "$tmp/read"
wait_line '^empty '
wait_line '^got $'
grep -q '^got 77c3b6726c64$' "$tmp/out.txt" || fail "clipboard_get_text: $(cat "$tmp/out.txt")"
grep -q '^has 1$' "$tmp/out.txt" || fail "clipboard_has_text: $(cat "$tmp/out.txt")"
grep -q '^empty 0$' "$tmp/out.txt" || fail "emptied: $(cat "$tmp/out.txt")"
left=$(timeout 20 xclip -o -selection clipboard 2>/dev/null)
[ -z "$left" ] || fail "xclip still reads '$left'"
touch "$tmp/end"
wait $pid
rc=$?
pid=
[ "$rc" -eq 0 ] || fail "probe exit $rc: $(cat "$tmp/out.txt")"
echo "clipboard_title: ok"
