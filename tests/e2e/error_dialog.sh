#!/usr/bin/env bash
# The code-error dialog on a real X display (xvfb): Escape answers Ignore on a non-fatal report and the
# program goes on; Return answers Abort on a fatal one and the process ends with status 1; Copy puts the
# whole text on the clipboard.
set -u
fail() { echo "FAIL: $*"; exit 1; }
probe="$KV_BUILD_DIR/tests/probes/error_dialog_probe"
command -v xvfb-run >/dev/null || fail "xvfb-run is missing (scripts/setup-deps)"
command -v xdotool >/dev/null || fail "xdotool is missing (scripts/setup-deps)"
command -v xwininfo >/dev/null || fail "xwininfo is missing (scripts/setup-deps)"
# One X server for the three dialogs: each run ends with its process, and its windows with it.
[ -n "${ERROR_DIALOG_DISPLAY:-}" ] || exec env ERROR_DIALOG_DISPLAY=1 xvfb-run -a bash "$0" "$@"
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

# mode key: runs the probe, answers its dialog with the key, leaves the status in $tmp/rc.
cat >"$tmp/answer.sh" <<'SCRIPT'
probe=$1 mode=$2 key=$3 out=$4
env -u KV_NO_DIALOGS -u SDL_VIDEODRIVER timeout -s KILL 60 "$probe" "$mode" >"$out" 2>&1 &
pid=$!
if [ "$key" != none ]; then
  # The box titles itself with a UTF-8 name that xdotool's name search does not read: find it by title
  # with xwininfo, wait until it is mapped (no focus goes to an unmapped window), then give it the focus
  # and the key. At most 30 seconds.
  id=""
  for _ in $(seq 1 1500); do
    info=$(xwininfo -name "Code Error" 2>/dev/null)
    case $info in *IsViewable*) id=$(awk '/Window id:/ {print $4; exit}' <<<"$info"); break ;; esac
    sleep 0.02
  done
  [ -n "$id" ] || { kill -9 $pid; exit 90; }
  xdotool windowfocus --sync "$id" key --clearmodifiers "$key"
fi
wait $pid
SCRIPT

run() {  # mode key expected-status
  bash "$tmp/answer.sh" "$probe" "$1" "$2" "$tmp/out.txt"
  local rc=$?
  [ "$rc" -ne 90 ] || fail "$1: no dialog appeared: $(cat "$tmp/out.txt")"
  [ "$rc" -ne 137 ] || fail "$1: hung: $(cat "$tmp/out.txt")"
  [ "$rc" -eq "$3" ] || fail "$1: exit $rc, expected $3: $(cat "$tmp/out.txt")"
}

run ignore Escape 0
grep -q "^continued quitting=0$" "$tmp/out.txt" || fail "ignore: $(cat "$tmp/out.txt")"
grep -q "^ERROR!!! :: " "$tmp/out.txt" || fail "ignore: not printed: $(cat "$tmp/out.txt")"

run fatal Return 1
! grep -q "not reached" "$tmp/out.txt" || fail "fatal: went on"
grep -q "^ERROR!!! :: " "$tmp/out.txt" || fail "fatal: not printed: $(cat "$tmp/out.txt")"

run copy none 0
grep -q "^clipboard ok$" "$tmp/out.txt" || fail "copy: $(cat "$tmp/out.txt")"
echo "error_dialog: ok"
