#!/usr/bin/env bash
# kelvane -game, frame-limited, on games whose texture pages cannot be used (tests/fixtures/texture_cases.py):
# a PNG page cut short runs with that page untextured and one log line for it; a "RAW " page of kind 7 and a
# texture-page entry naming a page the game does not have run as well. Each exits 0.
set -u
fail() { echo "FAIL: $*"; exit 1; }
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
fx=$("$KV_FIXTURE" script tests/fixtures/texture_cases.py) &&
  cp "$fx"truncated_png.win "$fx"raw_kind7.win "$fx"missing_page.win "$tmp/" || fail "fixture"

run() {  # game
  SDL_VIDEODRIVER=offscreen KV_TEST_FRAME_LIMIT=3 KV_TEST_UNPACED=1 timeout 60 \
    "$KV_BUILD_DIR/kelvane" -headless -debugoutput "$tmp/$1.log" -game "$tmp/$1.win" >"$tmp/out" 2>"$tmp/err"
  local rc=$?
  [ "$rc" -ne 124 ] || fail "$1: hung"
  [ "$rc" -eq 0 ] || fail "$1: exit $rc: $(tail -5 "$tmp/err")"
  grep -q "^Create Error Form" "$tmp/$1.log" || fail "$1: start-up did not finish: $(tail -5 "$tmp/$1.log")"
}

run truncated_png
[ "$(grep -c "PNG" "$tmp/truncated_png.log")" -eq 1 ] ||
  fail "truncated_png: not one line for the page: $(grep PNG "$tmp/truncated_png.log")"
run raw_kind7
! grep -q "PNG\|what!!!!" "$tmp/raw_kind7.log" || fail "raw_kind7: $(cat "$tmp/raw_kind7.log")"
run missing_page
[ "$(grep -c '^what!!!!$' "$tmp/missing_page.log")" -eq 1 ] || fail "missing_page: $(cat "$tmp/missing_page.log")"
echo "texture_pages: ok"
