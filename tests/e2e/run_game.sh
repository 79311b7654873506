#!/usr/bin/env bash
# scripts/run-game: refuses to start without a display, starts tumblewing with one.
set -u
fail() { echo "FAIL: $*"; exit 1; }
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

# No display: exit 2, show both ways to run without a screen, start nothing.
mkdir -p "$tmp/fake"
printf '#!/bin/sh\ntouch "%s/started"\n' "$tmp" > "$tmp/fake/tumblewing"; chmod +x "$tmp/fake/tumblewing"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER BUILD="$tmp/fake" "$KV_SOURCE_DIR/scripts/run-game" 2>&1)
rc=$?
[ "$rc" -eq 2 ] || fail "no display: exit $rc, expected 2"
grep -q "no display was found" <<<"$out" || fail "no display: message missing: $out"
grep -qF "SDL_VIDEODRIVER=offscreen make run" <<<"$out" || fail "offscreen hint missing"
grep -qF "xvfb-run -a make run" <<<"$out" || fail "xvfb hint missing"
[ ! -e "$tmp/started" ] || fail "no display: the game was started"

# With a display: the real tumblewing starts; it has no game data yet, so the loader finds no game (the
# file dialog is cancelled) and the run ends with 1.
cd "$tmp" || exit 1
out=$(SDL_VIDEODRIVER=offscreen BUILD="$KV_BUILD_DIR" timeout 60 "$KV_SOURCE_DIR/scripts/run-game" 2>&1)
rc=$?
[ "$rc" -eq 1 ] || fail "with a display: exit $rc, expected 1: $out"
grep -q "RunnerLoadGame: " <<<"$out" || fail "with a display: unexpected output: $out"
echo "run_game: ok"
