#!/usr/bin/env bash
# kelvane -headless with game data it cannot use: a missing file, data whose FORM size is wrong, and
# data damaged inside a chunk. Each ends with status 1, says "Unable to find game!!: <path>" on standard
# error (the message box of a headless run) and shows no dialog; damage leaves its line in the log.
set -u
fail() { echo "FAIL: $*"; exit 1; }
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
fx=$("$KV_FIXTURE" script tests/fixtures/wad_cases.py) && cp "$fx"e2e_damaged.* "$fx"e2e_damaged_form.* "$tmp/" ||
  fail "fixture"
cd "$tmp" || exit 1

run() {  # name game expected-log-text
  rm -f "$tmp/log.txt"
  env -u KV_NO_DIALOGS timeout 60 "$KV_BUILD_DIR/kelvane" -headless -debugoutput "$tmp/log.txt" -game "$2" \
    </dev/null >"$tmp/out.txt" 2>"$tmp/err.txt"
  local rc=$?
  [ "$rc" -ne 124 ] || fail "$1: hung"
  [ "$rc" -eq 1 ] || fail "$1: exit $rc, expected 1"
  [ ! -s "$tmp/out.txt" ] || fail "$1: printed to standard output: $(cat "$tmp/out.txt")"
  local boxes
  boxes=$(grep -c "Unable to find game!!: $tmp/$2\$" "$tmp/err.txt")
  [ "$boxes" -eq 1 ] || fail "$1: standard error: $(cat "$tmp/err.txt")"
  [ "$(wc -l <"$tmp/err.txt")" -eq 1 ] || fail "$1: more than the one message: $(cat "$tmp/err.txt")"
  grep -qF -- "$3" "$tmp/log.txt" || fail "$1: log lacks '$3': $(cat "$tmp/log.txt")"
  ! grep -q "Do The Work" "$tmp/log.txt" || fail "$1: start-up went on: $(cat "$tmp/log.txt")"
}

run "missing" missing.win "FAILED to load File $tmp/missing.win"
size=$(stat -c %s e2e_damaged_form.win)
run "FORM size" e2e_damaged_form.win \
  "Game data is damaged: $tmp/e2e_damaged_form.win (FORM size $((size - 8 + 3)), length $size)"
run "room order" e2e_damaged.win "Game data is damaged: GEN8 at offset "
echo "loader_failures: ok"
