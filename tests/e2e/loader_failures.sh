#!/usr/bin/env bash
# kelvane -headless with game data it cannot use: a missing file, data whose FORM size is wrong, data
# damaged inside a chunk, and a chunk whose size is wrong. Each ends with status 1 and shows no dialog; its
# one message box (standard error, in a headless run) says why. A missing file says "Unable to find game!!:
# <path>"; damaged data says "Game data is damaged: <what>" with a chunk named, the line the log holds, and
# puts that line on the release console (-output) as well.
set -u
fail() { echo "FAIL: $*"; exit 1; }
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
fx=$("$KV_FIXTURE" script tests/fixtures/wad_cases.py) &&
  cp "$fx"e2e_damaged.* "$fx"e2e_damaged_form.* "$fx"e2e_damaged_chunk_size.* "$tmp/" || fail "fixture"
cd "$tmp" || exit 1

run() {  # name game expected-box-text
  rm -f "$tmp/log.txt" "$tmp/output.txt"
  env -u KV_NO_DIALOGS timeout 60 "$KV_BUILD_DIR/kelvane" -headless -debugoutput "$tmp/log.txt" \
    -output "$tmp/output.txt" -game "$2" </dev/null >"$tmp/out.txt" 2>"$tmp/err.txt"
  local rc=$?
  [ "$rc" -ne 124 ] || fail "$1: hung"
  [ "$rc" -eq 1 ] || fail "$1: exit $rc, expected 1"
  [ ! -s "$tmp/out.txt" ] || fail "$1: printed to standard output: $(cat "$tmp/out.txt")"
  [ "$(wc -l <"$tmp/err.txt")" -eq 1 ] || fail "$1: not the one message: $(cat "$tmp/err.txt")"
  # The box's caption comes first.
  [ "$(sed 's/^.*: \(Unable to find game!!: \|Game data is damaged: \)/\1/' "$tmp/err.txt")" = "$3" ] ||
    fail "$1: the box says: $(cat "$tmp/err.txt"), expected: $3"
  ! grep -q "Do The Work" "$tmp/log.txt" || fail "$1: start-up went on: $(cat "$tmp/log.txt")"
  case "$3" in
    "Game data is damaged: "*)
      grep -qxF -- "$3" "$tmp/log.txt" || fail "$1: the log lacks the box's line: $(cat "$tmp/log.txt")"
      grep -qxF -- "$3" "$tmp/output.txt" || fail "$1: the console lacks the box's line: $(cat "$tmp/output.txt")"
      # A damage line always names a chunk.
      case "$3" in "Game data is damaged:  "*) fail "$1: no chunk named: $3" ;; esac ;;
    *)
      ! grep -q "damaged" "$tmp/output.txt" || fail "$1: damage claimed: $(cat "$tmp/output.txt")" ;;
  esac
}

run "missing" missing.win "Unable to find game!!: $tmp/missing.win"
grep -qxF "FAILED to load File $tmp/missing.win" "$tmp/log.txt" || fail "missing: log: $(cat "$tmp/log.txt")"
size=$(stat -c %s e2e_damaged_form.win)
run "FORM size" e2e_damaged_form.win \
  "Game data is damaged: $tmp/e2e_damaged_form.win (FORM size $((size - 8 + 3)), length $size)"
run "room order" e2e_damaged.win \
  "Game data is damaged: GEN8 at offset 148: list count overruns the chunk"
# GEN8 is 8 bytes short, so the walk looks for a chunk header in the header's reserved bytes (zero) and
# reads the game speed 30.0 (0x41F00000) as the size: the header chunk is named, not the zero tag.
run "chunk size" e2e_damaged_chunk_size.win \
  "Game data is damaged: GEN8 at offset 188: the next chunk header (tag bytes 00 00 00 00, size 1106247680) runs past the end of the data"
echo "loader_failures: ok"
