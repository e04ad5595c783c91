"""Runs the package's tests with pytest, for CTest: exit 77 (skipped, with
the reason on a line of its own) where they cannot run here; a run that
collects no test fails, so that a suite that quietly tests nothing is no
pass."""

import os
import sys

SKIPPED = 77


def skip(reason):
    print(f"skipped: {reason}")
    sys.exit(SKIPPED)


def main():
    if os.environ.get("OMZI2C_PYTHON_SKIP"):
        skip(os.environ["OMZI2C_PYTHON_SKIP"])
    if sys.version_info < (3, 9):
        skip(f"python3 is {sys.version.split()[0]}; the package needs 3.9 or later")
    try:
        import pytest
    except ImportError:
        skip("pytest is missing for python3 (install Debian package python3-pytest)")
    here = os.path.dirname(os.path.abspath(__file__))
    status = pytest.main(["-p", "no:cacheprovider", "-rs", "-q", here] + sys.argv[1:])
    if status == pytest.ExitCode.NO_TESTS_COLLECTED:
        print("error: pytest collected no tests")
        return 1
    return int(status)


if __name__ == "__main__":
    sys.exit(main())
