#!/usr/bin/env bash
# kelvane -headless through the whole start-up: the runtime's log shows every stage in order (the golden
# file, with the game's path, folder and length put back in), the first room's events and creation codes
# run, and the process ends with status 0 right after the room's own creation code. options.ini beside the
# game is logged and its Trace switch traces every code entry that runs. Start-ups that fail end with
# status 1 before the main loop, their message on standard error or in the logs, and show no dialog.
set -u
problems=()
fail() { problems+=("$*"); }
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
golden="$KV_SOURCE_DIR/tests/e2e/golden/startup_log.txt"
fx=$("$KV_FIXTURE" script tests/fixtures/startup_cases.py) && cp -r "$fx" "$tmp/fx" || { echo "FAIL: fixture"; exit 1; }

# The log with this run's paths and length turned back into the golden file's placeholders.
normalise() {  # log game-path folder
  local text
  text=$(cat "$1"; echo x); text=${text%x}
  text=${text//"$2"/@GAME@}
  text=${text//"$3"/@DIR@}
  text=${text//"($(stat -c %s "$2"))"/(@LENGTH@)}
  printf '%s' "$text"
}

run() {  # name game [kelvane options ...] -> status in $rc; $tmp/<name>.{log,out,trace,stdout,stderr}
  local name=$1 game=$2; shift 2
  rm -f "$tmp/$name".*
  KV_TEST_EVENT_LOG="$tmp/$name.trace" SDL_VIDEODRIVER=offscreen timeout 60 "$KV_BUILD_DIR/kelvane" "$@" \
    -debugoutput "$tmp/$name.log" -output "$tmp/$name.out" -game "$game" \
    </dev/null >"$tmp/$name.stdout" 2>"$tmp/$name.stderr"
  rc=$?
}

# Code entries: 0 obj_start's create, 1 its Game Start, 2 the instance's creation code, 3 the room's.
expected_trace="E 0 0 0 0 0 100001
C 0 0 2 100001
E 0 0 7 2 0 100001
C 0 0 3 0"

# ---- a game that starts ----------------------------------------------------------------------------------
mkdir -p "$tmp/run" && cp "$tmp/fx/startup_game.win" "$tmp/run/game.win"
cd "$tmp/run" || exit 1
run plain game.win -headless
if [ "$rc" -ne 0 ]; then
  fail "plain: exit $rc, expected 0: $(tail -5 "$tmp/plain.log")"
else
  [ ! -s "$tmp/plain.stdout" ] || fail "plain: a headless run printed to standard output: $(cat "$tmp/plain.stdout")"
  [ ! -s "$tmp/plain.stderr" ] || fail "plain: standard error: $(cat "$tmp/plain.stderr")"
  diff <(normalise "$tmp/plain.log" "$tmp/run/game.win" "$tmp/run/") "$golden" >"$tmp/diff.txt" ||
    fail "plain: log differs from the golden file:
$(cat "$tmp/diff.txt")"
  [ "$(cat "$tmp/plain.trace")" = "$expected_trace" ] || fail "plain: trace differs:
$(diff <(echo "$expected_trace") "$tmp/plain.trace")"
fi

# The same game in the newer bytecode.
run v15 "$tmp/fx/startup_game_v15.win" -headless
[ "$rc" -eq 0 ] || fail "v15: exit $rc, expected 0: $(tail -5 "$tmp/v15.log")"
[ "$(cat "$tmp/v15.trace" 2>/dev/null)" = "$expected_trace" ] || fail "v15: trace differs:
$(diff <(echo "$expected_trace") "$tmp/v15.trace")"

# options.ini beside the game: its contents are logged, and Trace=1 names every code entry that runs.
mkdir -p "$tmp/ini" && cp "$tmp/fx/startup_game.win" "$tmp/ini/game.win"
printf '[DEFAULT]\nTrace=1\n' >"$tmp/ini/options.ini"
run ini "$tmp/ini/game.win" -headless
[ "$rc" -eq 0 ] || fail "options.ini: exit $rc, expected 0"
grep -q "^!!!!No INI File" "$tmp/ini.log" && fail "options.ini: reported missing"
contents="$tmp/ini/options.ini file contents: [DEFAULT]
Trace=1
"
[[ "$(cat "$tmp/ini.log")" == *"$contents"* ]] || fail "options.ini: its contents are not in the log"
scripts=$(grep "^script = " "$tmp/ini.log")
expected_scripts="script = ksl_Object_obj_start_Create_0
script = ksl_InstanceCode_rm_start_0
script = ksl_Object_obj_start_Other_2
script = ksl_RoomCode_rm_start"
[ "$scripts" = "$expected_scripts" ] || fail "options.ini: Trace=1 should name each code entry run; the log has:
${scripts:-(no \"script = \" line)}"

# ---- start-ups that fail: status 1, no dialog, never the main loop -------------------------------------------
failing() {  # name game channel text [more texts ...]
  local name=$1 game=$2 channel=$3; shift 3
  # Without KV_NO_DIALOGS only -headless keeps the boxes off the screen; a box that opened would hang here.
  ( unset KV_NO_DIALOGS; run "$name" "$game" -headless; exit "$rc" )
  rc=$?
  [ "$rc" -ne 124 ] || { fail "$name: hung (a dialog?)"; return; }
  [ "$rc" -eq 1 ] || fail "$name: exit $rc, expected 1"
  [ ! -s "$tmp/$name.stdout" ] || fail "$name: printed to standard output: $(cat "$tmp/$name.stdout")"
  [ ! -s "$tmp/$name.trace" ] || fail "$name: game code ran: $(cat "$tmp/$name.trace")"
  ! grep -q "^Run_Start$" "$tmp/$name.log" || fail "$name: start-up reached Run_Start"
  local at=0 text line
  for text in "$@"; do
    # Each text on a line of its own, after the one before it.
    line=$(grep -nxF -- "$text" "$tmp/$name.$channel" | cut -d: -f1 | awk -v at="$at" '$1 > at' | head -1)
    [ -n "$line" ] || { fail "$name: '$text' missing (in order) from the $channel: $(cat "$tmp/$name.$channel")"; return; }
    at=$line
  done
}

caption="Game"  # the fixtures' display name
failing constant "$tmp/fx/bad_constant.win" stderr \
  "$caption: Constant name 9lives  is not valid." "$caption: Failed to define the constants."
grep -q "^Code_Constant_Prepare() $" "$tmp/constant.log" && ! grep -q "^Script_Prepare() $" "$tmp/constant.log" ||
  fail "constant: the preparation did not stop at the constants"
failing chunk "$tmp/fx/unknown_chunk.win" log "unknown Chunk ZZZZ:$((0x5A5A5A5A))" "Failed to load the game"
grep -q "^PrepareGame()$" "$tmp/chunk.log" && fail "chunk: preparation ran after pass 2 failed"
failing script "$tmp/fx/script_without_code.win" stderr "$caption: Failed to compile the scripts."
grep -qx "ERROR!!! :: COMPILATION ERROR in Script: scr_text" "$tmp/script.out" ||
  fail "script: the report is not in the game's log: $(cat "$tmp/script.out" 2>/dev/null)"

# No game file at all: with KV_NO_DIALOGS=1 the file dialog is answered with a cancel; -headless offers none
# and says instead how to give a game.
mkdir -p "$tmp/bin" "$tmp/empty"
cp "$KV_BUILD_DIR/kelvane" "$tmp/bin/kelvane"  # no data.win beside it
cd "$tmp/empty" || exit 1
for mode in dialogs headless; do
  flags=(); [ "$mode" = headless ] && flags=(-headless)
  KV_NO_DIALOGS=1 SDL_VIDEODRIVER=offscreen timeout 60 "$tmp/bin/kelvane" "${flags[@]}" -debugoutput "$tmp/nogame.log" \
    </dev/null >/dev/null 2>"$tmp/nogame.stderr"
  rc=$?
  [ "$rc" -eq 1 ] || fail "no game ($mode): exit $rc, expected 1"
  grep -q "^Get Resolution$" "$tmp/nogame.log" && fail "no game ($mode): start-up went on"
  if [ "$mode" = headless ]; then
    hint="No game to run. Give one with -game FILE, or put data.win beside the program (in $tmp/bin/)."
    [ "$(cat "$tmp/nogame.stderr")" = "$hint" ] ||
      fail "no game (headless): standard error is not just the hint: $(cat "$tmp/nogame.stderr")"
  else
    grep -q "Choose a game file" "$tmp/nogame.stderr" || fail "no game: the file dialog was not offered"
  fi
  rm -f "$tmp/nogame.log"
done

if [ ${#problems[@]} -ne 0 ]; then
  printf 'FAIL: %s\n' "${problems[@]}"
  exit 1
fi
echo "startup: ok"
