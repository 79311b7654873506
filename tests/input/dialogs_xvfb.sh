#!/usr/bin/env bash
# The real dialogs on an X display (xvfb): the message box is an SDL box titled with the game's name that
# Return closes, answering 1; refused boxes (KV_NO_DIALOGS=1, -headless) are logged and answer at once;
# the save dialog is zenity's, answered by typing a path and Return.
set -u
fail() { echo "FAIL: $*"; exit 1; }
probe="$KV_BUILD_DIR/tests/probes/dialog_probe"
command -v xvfb-run >/dev/null || fail "xvfb-run is missing (scripts/setup-deps)"
command -v xdotool >/dev/null || fail "xdotool is missing (scripts/setup-deps)"
command -v xwininfo >/dev/null || fail "xwininfo is missing (scripts/setup-deps)"
command -v zenity >/dev/null || fail "zenity is missing (scripts/setup-deps)"
# xvfb-run's own errors (a display number taken by a concurrent run, say) go to standard error.
[ -n "${DIALOGS_DISPLAY:-}" ] || exec env DIALOGS_DISPLAY=1 xvfb-run -a -e /dev/stderr bash "$0" "$@"
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
# The chooser needs no session bus or accessibility bridge; without these GTK can wait for a bus that a bare
# X server never starts.
export NO_AT_BRIDGE=1 DBUS_SESSION_BUS_ADDRESS=disabled: GTK_USE_PORTAL=0 GIO_USE_VFS=local
# Each step is logged, so a run that the test timeout stops shows where it stood.
step() { echo "dialogs_xvfb: $*" >&2; }
# xdotool can block on a window that goes away; every call is bounded.
xdo() { timeout -s KILL 10 xdotool "$@"; }

# The window titled $1, once it is mapped (no focus goes to an unmapped window); empty after 25 seconds of
# wall time, however slowly a loaded machine runs each look, or as soon as process $2 (when given) has ended.
# The box's and the chooser's titles are UTF-8 names that xdotool's name search does not read, so xwininfo
# finds them.
find_window() {
  local info end=$((SECONDS + 25))
  while [ $SECONDS -lt $end ]; do
    [ -z "${2:-}" ] || kill -0 "$2" 2>/dev/null || return
    info=$(timeout -s KILL 5 xwininfo -name "$1" 2>/dev/null)
    case $info in *IsViewable*) awk '/Window id:/ {print $4; exit}' <<<"$info"; return ;; esac
    sleep 0.05
  done
}

# Focus $1; without a window manager a focus request can be lost while a window settles, and xdotool's --sync
# then waits for ever, so each try is bounded and repeated.
focus() {
  local end=$((SECONDS + 15))
  while [ $SECONDS -lt $end ]; do
    timeout -s KILL 3 xdotool windowfocus --sync "$1" && return 0
    sleep 0.2
  done
  return 1
}

# ---- the message box: a real box, closed with Return ----
caption="Probe Game Caption"
step "message box"
env -u KV_NO_DIALOGS -u SDL_VIDEODRIVER timeout -s KILL 40 "$probe" box "$caption" >"$tmp/box.out" 2>&1 &
pid=$!
id=$(find_window "$caption" $pid)
[ -n "$id" ] || { kill -9 $pid; fail "box: no window titled '$caption': $(cat "$tmp/box.out")"; }
focus "$id" || { kill -9 $pid; fail "box: the window never took the focus"; }
xdo key --clearmodifiers Return
wait $pid; rc=$?
[ "$rc" -eq 0 ] || fail "box: exit $rc: $(cat "$tmp/box.out")"
grep -qx "result=1" "$tmp/box.out" || fail "box: $(cat "$tmp/box.out")"

# ---- refused boxes: logged, answered at once, no window ----
step "refused boxes"
for how in nodialogs headless; do
  if [ $how = nodialogs ]; then
    env -u SDL_VIDEODRIVER KV_NO_DIALOGS=1 timeout -s KILL 10 "$probe" box "$caption" >"$tmp/refused.out" 2>&1
  else
    env -u KV_NO_DIALOGS -u SDL_VIDEODRIVER timeout -s KILL 10 "$probe" box "$caption" -headless >"$tmp/refused.out" 2>&1
  fi
  rc=$?
  [ "$rc" -eq 0 ] || fail "$how: exit $rc (a box waited?): $(cat "$tmp/refused.out")"
  grep -qx "$caption: A message from the probe." "$tmp/refused.out" || fail "$how: not logged: $(cat "$tmp/refused.out")"
  grep -qx "result=1" "$tmp/refused.out" || fail "$how: $(cat "$tmp/refused.out")"
done

# ---- zenity's save dialog, answered by typing a path ----
mkdir -p "$tmp/folder"
picked="$tmp/folder/typed name.txt"
title="Probe Save"
step "save chooser"
# A chooser that ends before its window shows (a loaded machine can make GTK give up at start) is started
# once more; what it printed is shown either way.
for try in 1 2; do
  env -u KV_NO_DIALOGS -u SDL_VIDEODRIVER timeout -s KILL 50 "$probe" save "$title" "$tmp/folder" >"$tmp/save.out" 2>"$tmp/save.err" &
  pid=$!
  id=$(find_window "$title" $pid)
  [ -z "$id" ] || break
  kill -9 $pid 2>/dev/null
  wait $pid
  step "no chooser window (try $try): $(cat "$tmp/save.out" "$tmp/save.err")"
done
[ -n "$id" ] || fail "save: no chooser titled '$title'"
# The name field has the focus with the proposed name selected: typing replaces it. Waits let the chooser
# take each step before the next.
sleep 1
focus "$id" || { kill -9 $pid; fail "save: the chooser never took the focus"; }
step "typing the name"
xdo key --clearmodifiers ctrl+a
xdo type --delay 30 "$picked"
sleep 0.5
xdo key --clearmodifiers Return
wait $pid; rc=$?
[ "$rc" -eq 0 ] || fail "save: exit $rc: $(cat "$tmp/save.out" "$tmp/save.err")"
grep -qxF "chosen=$picked" "$tmp/save.out" || fail "save: expected chosen=$picked: $(cat "$tmp/save.out")"
grep -qx "cwd same" "$tmp/save.out" || fail "save: the working folder changed"
echo "dialogs_xvfb: ok"
