#!/usr/bin/env bash
# kelvane -headless -game on a game whose FONT entry has a glyph count that runs past the chunk: status 1, no
# dialog, and one log line naming the chunk, the font entry and the field, after which the load stops.
set -u
fail() { echo "FAIL: $*"; exit 1; }
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
fx=$("$KV_FIXTURE" script tests/draw/font_fixture.py) && cp "$fx"damaged_glyph_count.win "$fx"damaged.txt "$tmp/" ||
  fail "fixture"
cd "$tmp" || exit 1
want="Game data is damaged: $(sed -n 's/^glyph_count\t//p' damaged.txt)"
case "$want" in *"FONT at offset "*": font 0: glyph count "*) ;; *) fail "fixture line: $want" ;; esac

env -u KV_NO_DIALOGS timeout 60 "$KV_BUILD_DIR/kelvane" -headless -debugoutput "$tmp/log.txt" \
  -output "$tmp/output.txt" -game damaged_glyph_count.win </dev/null >"$tmp/out.txt" 2>"$tmp/err.txt"
rc=$?
[ "$rc" -ne 124 ] || fail "hung"
[ "$rc" -eq 1 ] || fail "exit $rc, expected 1: $(cat "$tmp/err.txt")"
[ ! -s "$tmp/out.txt" ] || fail "printed to standard output: $(cat "$tmp/out.txt")"
[ ! -s "$tmp/err.txt" ] || fail "a message box in the second pass: $(cat "$tmp/err.txt")"
[ "$(grep -c "^Game data is damaged" "$tmp/log.txt")" -eq 1 ] || fail "not the one damage line: $(cat "$tmp/log.txt")"
grep -qxF -- "$want" "$tmp/log.txt" || fail "the log lacks the line: $(cat "$tmp/log.txt")"
# The line stops the second pass at the font chunk: nothing after it is loaded or prepared.
[ "$(sed -n '/^Game data is damaged/{n;p}' "$tmp/log.txt")" = "Failed to load the game" ] ||
  fail "the load went on: $(cat "$tmp/log.txt")"
! grep -q "PrepareGame()" "$tmp/log.txt" || fail "the game was prepared: $(cat "$tmp/log.txt")"
echo "font_load_failure: ok"
