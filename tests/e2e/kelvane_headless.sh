#!/usr/bin/env bash
# kelvane -headless with no game file ends with status 1 at once: no dialog, no waiting for input.
set -u
fail() { echo "FAIL: $*"; exit 1; }
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
mkfifo input  # never written: a program that read standard input would hang here
env -u KV_NO_DIALOGS DISPLAY="${DISPLAY:-}" timeout 60 "$KV_BUILD_DIR/kelvane" -headless <input >out.txt 2>err.txt &
pid=$!
exec 3>input  # open the write end so the reader side does not see end-of-file
wait "$pid"
rc=$?
exec 3>&-
[ "$rc" -ne 124 ] || fail "kelvane -headless hung"
[ "$rc" -eq 1 ] || fail "exit $rc, expected 1"
[ ! -s out.txt ] || fail "headless run printed to standard output: $(cat out.txt)"
grep -q ": " err.txt && fail "a dialog was shown: $(cat err.txt)"
echo "kelvane_headless: ok"
