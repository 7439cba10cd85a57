"""Runs the Python checks of tools/twin and tools/train; exit 77 = skipped."""
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.abspath(os.path.join(HERE, "..", "..")))
sys.path.insert(0, HERE)

try:
    import cv2  # noqa: F401
    import numpy  # noqa: F401
    import torch
except ImportError as e:
    print("skipped: %s (install python3-torch and python3-opencv)" % e)
    sys.exit(77)

torch.set_num_threads(1)
suite = unittest.defaultTestLoader.discover(HERE, pattern="test_*.py")
result = unittest.TextTestRunner(verbosity=2).run(suite)
sys.exit(0 if result.wasSuccessful() else 1)
