#!/usr/bin/env bash
# kelvane -headless -debugoutput <log> loads a game: the log holds the loader's lines in order (the golden
# file, with the game's path, folder and length put back in), and the game, which has no rooms, starts and
# ends with status 0. The same holds for "data.win" beside the executable, also when -debug is given: with
# data.win known before the command line is read, -debug is ignored and is not taken for anything else.
set -u
fail() { echo "FAIL: $*"; exit 1; }
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
golden="$KV_SOURCE_DIR/tests/e2e/golden/loader_log.txt"
fx=$("$KV_FIXTURE" script tests/fixtures/wad_cases.py) && mkdir "$tmp/fx" && cp "$fx"e2e_game.* "$tmp/fx/" || fail "fixture"

# The log with this run's paths and length turned back into the golden file's placeholders.
normalise() {  # log game-path folder
  local text
  text=$(cat "$1"; echo x); text=${text%x}
  text=${text//"$2"/@GAME@}
  text=${text//"$3"/@DIR@}
  text=${text//"($(stat -c %s "$2"))"/(@LENGTH@)}
  printf '%s' "$text"
}

check_run() {  # name game-path folder log rc stdout
  [ "$5" -eq 0 ] || fail "$1: exit $5, expected 0"
  [ ! -s "$6" ] || fail "$1: a headless run printed to standard output: $(cat "$6")"
  diff <(normalise "$4" "$2" "$3") "$golden" >"$tmp/diff.txt" || fail "$1: log differs from the golden file:
$(cat "$tmp/diff.txt")"
}

# -game with a file of the current folder.
mkdir -p "$tmp/run" && cp "$tmp/fx/e2e_game.win" "$tmp/run/game.win"
cd "$tmp/run" || exit 1
timeout 60 "$KV_BUILD_DIR/kelvane" -headless -debugoutput "$tmp/game.log" -game game.win >"$tmp/out1.txt" 2>"$tmp/err1.txt"
check_run "-game" "$tmp/run/game.win" "$tmp/run/" "$tmp/game.log" $? "$tmp/out1.txt"

# data.win beside the executable, started from another folder.
mkdir -p "$tmp/bin" "$tmp/elsewhere"
cp "$KV_BUILD_DIR/kelvane" "$tmp/bin/kelvane"
cp "$tmp/fx/e2e_game.win" "$tmp/bin/data.win"
cd "$tmp/elsewhere" || exit 1
timeout 60 "$tmp/bin/kelvane" -headless -debugoutput "$tmp/datawin.log" >"$tmp/out2.txt" 2>"$tmp/err2.txt"
check_run "data.win" "$tmp/bin/data.win" "$tmp/bin/" "$tmp/datawin.log" $? "$tmp/out2.txt"
timeout 60 "$tmp/bin/kelvane" -debug -headless -debugoutput "$tmp/debug.log" >"$tmp/out3.txt" 2>"$tmp/err3.txt"
check_run "data.win -debug" "$tmp/bin/data.win" "$tmp/bin/" "$tmp/debug.log" $? "$tmp/out3.txt"
echo "loader_log: ok"
