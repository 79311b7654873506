#!/usr/bin/env bash
# kelvane -game on game data whose sprite table is damaged: the stored masks of sprite 1 claim more bytes
# than its SPRT chunk holds. The load fails with status 1 and one line naming the chunk, the entry and the
# field in the log; nothing past the data is read (the sanitizer builds run this too).
set -u
fail() { echo "FAIL: $*"; exit 1; }
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
fx=$("$KV_FIXTURE" script tests/fixtures/sprite_cases.py) && cp "$fx"bad_masks.win "$tmp/" || fail "fixture"
cd "$tmp" || exit 1

env -u KV_NO_DIALOGS timeout 60 "$KV_BUILD_DIR/kelvane" -headless -debugoutput "$tmp/log.txt" \
  -game bad_masks.win </dev/null >"$tmp/out.txt" 2>"$tmp/err.txt"
rc=$?
[ "$rc" -ne 124 ] || fail "hung"
[ "$rc" -eq 1 ] || fail "exit $rc, expected 1"
[ ! -s "$tmp/out.txt" ] || fail "printed to standard output: $(cat "$tmp/out.txt")"
# The second pass stops at the chunk: one damage line in the log, and the game is not prepared.
grep "damaged" "$tmp/log.txt" >"$tmp/lines.txt"
[ "$(wc -l <"$tmp/lines.txt")" -eq 1 ] || fail "not one damage line: $(cat "$tmp/log.txt")"
case "$(cat "$tmp/lines.txt")" in
  "Game data is damaged: SPRT at offset "*": sprite 1: mask block runs past the chunk") ;;
  *) fail "the log says: $(cat "$tmp/lines.txt")" ;;
esac
grep -qxF "Failed to load the game" "$tmp/log.txt" || fail "no load failure: $(cat "$tmp/log.txt")"
! grep -q "PrepareGame" "$tmp/log.txt" || fail "the game was prepared: $(cat "$tmp/log.txt")"
echo "sprite_damage: ok"
