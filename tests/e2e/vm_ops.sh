#!/usr/bin/env bash
# Operations and with-blocks end to end: the global code of vm_ops.win prints its results in order
# (golden/vm_ops.txt); an int32 division by zero and a with (global) end the run with the report.
. "$KV_SOURCE_DIR/tests/e2e/fixtures/run_vm.bash"
assemble vm_ops
assemble vm_div0
assemble vm_withglobal

run vm_ops
[ "$rc" -eq 0 ] || fail "vm_ops: exit $rc, expected 0: $(output vm_ops) $(cat "$tmp/vm_ops.stderr")"
expect_start vm_ops "$KV_SOURCE_DIR/tests/e2e/golden/vm_ops.txt"
! grep -qx "inside with (noone)" "$tmp/vm_ops.out" || fail "vm_ops: the body of with (noone) ran"

run vm_div0
expect_report vm_div0 "DoDiv :: Divide by zero" " at ksl_Global_div0 (line 1) - x = 1 div 0;"
! grep -qx "after the division" "$tmp/vm_div0.out" || fail "vm_div0: code after the error ran"

run vm_withglobal
expect_report vm_withglobal "Cannot use global in with statement"
! grep -qx "inside with (global)" "$tmp/vm_withglobal.out" || fail "vm_withglobal: the body ran"
echo "vm_ops: ok"
