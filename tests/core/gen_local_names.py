#!/usr/bin/env python3
"""Writes a version-15 container whose FUNC chunk carries a local-name table, made with formkit.

Usage: gen_local_names.py <out_dir>   (writes <out_dir>/locals.win)
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import formkit as fk  # noqa: E402

c = fk.Container(version=15)
c.gen8(major=2)
c.code([fk.CodeEntry("ksl_Script_a", [fk.ret()], locals=2),
        fk.CodeEntry("ksl_Script_b", [fk.ret()], locals=3)])
c.vari([])
# Slot numbers are stored but not used: the names keep their record order.
c.func(locals=[("ksl_Script_a", ["i", "j"]), ("ksl_Script_b", [(7, "k"), (0, "m"), (3, "n")]),
               ("ksl_Script_a", ["shadowed"])])
c.build().write(sys.argv[1], "locals")
