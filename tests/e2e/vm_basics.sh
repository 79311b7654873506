#!/usr/bin/env bash
# Assembled bytecode end to end: kelvane runs the global code of vm_basics.win, whose show_debug_message
# lines reach the -output file in order (golden/vm_basics.txt); with -oldexec no code runs.
. "$KV_SOURCE_DIR/tests/e2e/fixtures/run_vm.bash"
assemble vm_basics

run vm_basics
[ "$rc" -eq 0 ] || fail "vm_basics: exit $rc, expected 0: $(output vm_basics) $(cat "$tmp/vm_basics.stderr")"
expect_start vm_basics "$KV_SOURCE_DIR/tests/e2e/golden/vm_basics.txt"

run vm_basics -oldexec
[ "$rc" -eq 0 ] || fail "vm_basics -oldexec: exit $rc, expected 0"
[ -z "$(output vm_basics)" ] || fail "vm_basics -oldexec wrote: $(output vm_basics)"
echo "vm_basics: ok"
