#!/usr/bin/env bash
# A game's options chunk decides what reading a never-set instance variable does (tests/fixtures/
# unset_cases.py: the script object model keeps the variables in a named list). With "unset variables are
# errors" set, in either options layout, the read fails: the interpreter's fatal report names the variable
# and the run ends with its status (255) before the value is shown. With it clear, the read gives 0, the
# game goes on and its frame limit ends it with status 0.
set -u
fail() { echo "FAIL: $*"; exit 1; }
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
fx=$("$KV_FIXTURE" script tests/fixtures/unset_cases.py) && cp "$fx"unset_*.win "$tmp/" || fail "fixture"
cd "$tmp" || exit 1

run() {  # game -> status in $rc, the release log in $tmp/<game>.out
  rm -f "$tmp/$1.out"
  env -u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=offscreen KV_TEST_FRAME_LIMIT=2 KV_TEST_UNPACED=1 \
    timeout -s KILL 60 "$KV_BUILD_DIR/kelvane" -headless -game "$1.win" -output "$1.out" \
    </dev/null >"$tmp/$1.stdout" 2>"$tmp/$1.stderr"
  rc=$?
  [ "$rc" -ne 137 ] || fail "$1: hung"
  touch "$tmp/$1.out"
}

for layout in new old; do
  game=unset_${layout}_on
  run "$game"
  [ "$rc" -eq 255 ] || fail "$game: exit $rc, expected 255: $(cat "$tmp/$game.out" "$tmp/$game.stderr")"
  [ "$(grep -c '^ERROR!!! :: ' "$tmp/$game.out")" -eq 1 ] || fail "$game: not one report: $(cat "$tmp/$game.out")"
  grep -qF "Push :: Execution Error - Variable Get 100001.never_set(" "$tmp/$game.out" ||
    fail "$game: the report does not name the read: $(cat "$tmp/$game.out")"
  grep -qx "0" "$tmp/$game.out" && fail "$game: the failed read was shown as 0"

  game=unset_${layout}_off
  run "$game"
  [ "$rc" -eq 0 ] || fail "$game: exit $rc, expected 0: $(cat "$tmp/$game.out" "$tmp/$game.stderr")"
  [ "$(cat "$tmp/$game.out")" = "0" ] || fail "$game: expected only the value 0, got: $(cat "$tmp/$game.out")"
done
echo "unset_variables: ok"
