"""Runs formkit's own unit tests (tools/formkit) under ctest."""

import os
import sys
import unittest

sys.dont_write_bytecode = True
source = os.environ.get("KV_SOURCE_DIR") or os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))
suite = unittest.defaultTestLoader.discover(os.path.join(source, "tools", "formkit"), pattern="test_*.py")
result = unittest.TextTestRunner(verbosity=1).run(suite)
if result.testsRun == 0:
    print("no formkit tests found")
    sys.exit(1)
sys.exit(0 if result.wasSuccessful() else 1)
