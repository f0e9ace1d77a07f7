"""The entry point of every scenario file: outside a lab it brings one up and runs the file again
inside it; inside, it runs the file's tests."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))), "studio"))

from kvstudio import lab as studio_lab  # noqa: E402
from portal import program_path  # noqa: E402

SKIPPED = 77


def unavailable(why):
    """Skips a scenario this machine cannot stage; CI sets KV_LAB_REQUIRED, and there it fails."""
    if os.environ.get("KV_LAB_REQUIRED", "0") != "0":
        print("FAILED: KV_LAB_REQUIRED is set, yet " + why)
        sys.exit(1)
    print("SKIPPED: " + why)
    sys.exit(SKIPPED)


def main():
    if studio_lab.current() is not None:
        unittest.main(module="__main__", verbosity=2)
    # Before the lab, so that a program that did not build fails even where the lab would skip.
    program_path()
    try:
        lab = studio_lab.Lab.up()
    except studio_lab.LabUnavailable as reason:
        unavailable("this machine cannot create a network namespace (%s)" % reason)
    try:
        code = lab.run([sys.executable, os.path.abspath(sys.argv[0])] + sys.argv[1:])
    finally:
        lab.down()
    sys.exit(code)
