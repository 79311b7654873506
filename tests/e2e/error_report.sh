#!/usr/bin/env bash
# A game whose bytecode names a built-in variable that does not exist: the loader reports it through the
# error reporter, the run ends with status 1, the log holds the report, and nothing is shown (no display).
set -u
fail() { echo "FAIL: $*"; exit 1; }
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
fx=$("$KV_FIXTURE" script tests/fixtures/wad_cases.py) && cp "$fx"e2e_bad_builtin.* "$tmp/" || fail "fixture"
cd "$tmp" || exit 1
env -u KV_NO_DIALOGS -u DISPLAY -u WAYLAND_DISPLAY timeout 60 "$KV_BUILD_DIR/kelvane" -headless \
  -game e2e_bad_builtin.win -output log.txt </dev/null >out.txt 2>err.txt
rc=$?
[ "$rc" -ne 124 ] || fail "hung"
[ "$rc" -eq 1 ] || fail "exit $rc, expected 1: $(cat err.txt)"
grep -q "^ERROR!!! :: " log.txt || fail "no report in the log: $(cat log.txt)"
grep -q "Unable to find variable no_such_builtin" log.txt || fail "log: $(cat log.txt)"
! grep -q "Code Error" err.txt || fail "a dialog was requested: $(cat err.txt)"
echo "error_report: ok"
