#!/usr/bin/env bash
# Games whose code cannot run: script_execute of a missing script ends the run with the interpreter's
# status and report; a call of a function nobody defines stops the game before it starts.
. "$KV_SOURCE_DIR/tests/e2e/fixtures/run_vm.bash"
assemble vm_fail
assemble vm_badfunc

run vm_fail
expect_report vm_fail "call to non-existent script" " at ksl_Global_fail (line 1) - script_execute(99);"
! grep -qx "after the failing call" "$tmp/vm_fail.out" || fail "vm_fail: code after the error ran"

run vm_badfunc
[ "$rc" -eq 1 ] || fail "vm_badfunc: exit $rc, expected 1: $(output vm_badfunc) $(cat "$tmp/vm_badfunc.stderr")"
grep -qF "Unable to find function no_such_function_anywhere" "$tmp/vm_badfunc.out" ||
  fail "vm_badfunc: no report of the function: $(output vm_badfunc)"
! grep -qx "never printed" "$tmp/vm_badfunc.out" || fail "vm_badfunc: its code ran"
echo "vm_fail: ok"
