#!/usr/bin/env bash
# kelvane with no game and no way to ask for one (-headless, no display, no zenity) says in one line on
# standard error how to give it a game and ends with status 1. A chooser that was shown and closed stays
# the player's answer: status 1 and nothing more.
set -u
problems=()
fail() { problems+=("$*"); }
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/bin" "$tmp/nobin" "$tmp/stub" "$tmp/run"
cp "$KV_BUILD_DIR/kelvane" "$tmp/bin/kelvane"  # no data.win beside this copy
# A chooser the player closes: status 1, no path.
printf '#!/bin/sh\n: >"%s/asked"\nexit 1\n' "$tmp" >"$tmp/stub/zenity"
chmod +x "$tmp/stub/zenity"
hint="No game to run. Give one with -game FILE, or put data.win beside the program (in $tmp/bin/)."

check() {  # name hint|quiet asked|unasked env-settings... -- kelvane-options...
  local name=$1 say=$2 chooser=$3; shift 3
  local settings=()
  while [ "$1" != -- ]; do settings+=("$1"); shift; done
  shift
  rm -f "$tmp/asked"
  # PATH is set last, so timeout and env still come from the caller's PATH.
  (cd "$tmp/run" && timeout 60 env -u KV_NO_DIALOGS "${settings[@]}" "$tmp/bin/kelvane" "$@" \
    </dev/null >"$tmp/out" 2>"$tmp/err")
  local rc=$?
  [ "$rc" -eq 1 ] || fail "$name: exit $rc, expected 1: $(cat "$tmp/err")"
  # -headless keeps standard output empty; otherwise it carries the runtime's log, but never the hint.
  if [[ " $* " == *" -headless "* ]]; then
    [ ! -s "$tmp/out" ] || fail "$name: wrote to standard output: $(cat "$tmp/out")"
  else
    grep -q "No game to run" "$tmp/out" && fail "$name: the hint went to standard output"
  fi
  if [ "$say" = hint ]; then
    [ "$(cat "$tmp/err")" = "$hint" ] || fail "$name: standard error is not the one hint line: $(cat "$tmp/err")"
  else
    [ ! -s "$tmp/err" ] || fail "$name: standard error after a closed chooser: $(cat "$tmp/err")"
  fi
  if [ "$chooser" = asked ]; then
    [ -f "$tmp/asked" ] || fail "$name: the chooser was not run"
  else
    [ ! -f "$tmp/asked" ] || fail "$name: the chooser was run"
  fi
}

check "headless" hint unasked -u DISPLAY -u WAYLAND_DISPLAY PATH="$tmp/stub" -- -headless
check "no zenity" hint unasked DISPLAY=:99 SDL_VIDEODRIVER=offscreen PATH="$tmp/nobin" --
check "no display" hint unasked -u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=offscreen PATH="$tmp/stub" --
check "closed on X" quiet asked DISPLAY=:99 SDL_VIDEODRIVER=offscreen PATH="$tmp/stub" --
check "closed on Wayland" quiet asked -u DISPLAY WAYLAND_DISPLAY=wayland-9 SDL_VIDEODRIVER=offscreen PATH="$tmp/stub" --

if [ ${#problems[@]} -ne 0 ]; then
  printf 'FAIL: %s\n' "${problems[@]}"
  exit 1
fi
echo "no_game: ok"
