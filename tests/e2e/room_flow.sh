#!/usr/bin/env bash
# kelvane -headless on a game with rooms: the first room's creation events, its creation codes in record
# order, Game Start and the room's own creation code run, and the process then ends with status 0. Without
# that creation code, and with no room change, the run goes on into the main loop; its frame limit ends it,
# also with status 0. When the first creation code to run belongs to a later room, the run ends right after
# it: that room's create events come first, its Room Start never comes.
set -u
fail() { echo "FAIL: $*"; exit 1; }
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
fx=$("$KV_FIXTURE" script tests/fixtures/room_cases.py) && mkdir "$tmp/with" && cp "$fx"flow_rooms.* "$tmp/with/" ||
  fail "fixture"
fx=$("$KV_FIXTURE" script tests/fixtures/room_cases.py --no-first-room-code) && mkdir "$tmp/without" &&
  cp "$fx"flow_rooms.* "$tmp/without/" && mkdir "$tmp/later" && cp "$fx"flow_later_room_code.* "$tmp/later/" ||
  fail "fixture"

run() {  # folder [game] -> status in $rc, trace in $tmp/<folder>.log
  KV_TEST_EVENT_LOG="$tmp/$1.log" KV_TEST_FRAME_LIMIT=3 KV_TEST_UNPACED=1 SDL_VIDEODRIVER=offscreen timeout 60 "$KV_BUILD_DIR/kelvane" -headless \
    -game "$tmp/$1/${2:-flow_rooms}.win" -debugoutput "$tmp/$1.debug" >/dev/null 2>&1
  rc=$?
}

# Code entries: 0 first room, 2-4 ksl_InstanceCode_a-c, 5 the objects' create; obj_plain 0, obj_keeper 1,
# obj_other 2; Game Start is other 2, Room Start other 4.
expected="E 0 0 0 0 0 100001
C 0 0 2 100001
E 0 0 0 0 1 100002
C 0 0 3 100002
E 0 0 0 0 2 100003
E 0 0 0 0 0 100004
C 0 0 4 100004
C 0 0 0 0"
run with
[ "$rc" -eq 0 ] || fail "exit $rc, expected 0: $(tail -5 "$tmp/with.debug")"
[ "$(cat "$tmp/with.log")" = "$expected" ] || fail "trace differs:
$(diff <(echo "$expected") "$tmp/with.log")"

run without
[ "$rc" -eq 0 ] || fail "without the first room's code: exit $rc, expected 0: $(tail -5 "$tmp/without.debug")"
grep -q "^C 0 0 0 " "$tmp/without.log" && fail "the first room's creation code ran"
grep -q "^C 0 0 4 100004$" "$tmp/without.log" || fail "the instances' creation codes did not run"
grep -q "^E 2 0 3 0 " "$tmp/without.log" || fail "without the first room's code: the main loop did not run"

# flow_later_room_code: obj_goer (object 0) asks for rm_second in its first step; rm_second's create event
# for obj_waiter (object 1), then its creation code (code 1), then the end: no Room Start (other 4) there.
expected="E 0 0 0 0 0 100001
E 0 0 7 4 0 100001
E 0 0 3 0 0 100001
E 0 1 0 0 1 100002
C 0 1 1 0"
run later flow_later_room_code
[ "$rc" -eq 0 ] || fail "later room's code: exit $rc, expected 0: $(tail -5 "$tmp/later.debug")"
[ "$(cat "$tmp/later.log")" = "$expected" ] || fail "later room's code: trace differs:
$(diff <(echo "$expected") "$tmp/later.log")"
echo "room_flow: ok"
