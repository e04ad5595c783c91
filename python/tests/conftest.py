"""The built library and tool the tests run against, from OMZI2C_LIBRARY and
OMZI2C_TOOL (CTest sets both)."""

import os
import re
import subprocess
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))


def _built(variable, what):
    path = os.environ.get(variable)
    if not path:
        pytest.skip(f"{variable} does not name the built {what} (CTest sets it)")
    return path


@pytest.fixture(scope="session")
def library():
    return _built("OMZI2C_LIBRARY", "libomzi2c.so")


@pytest.fixture(scope="session")
def tool():
    """Runs the omzi2c tool on the simulated board; returns its standard output."""
    path = _built("OMZI2C_TOOL", "omzi2c tool")

    def run(*args):
        done = subprocess.run([path, *args], capture_output=True, text=True, check=True)
        return done.stdout

    return run


def hex_numbers(text):
    """Every 0x number in the tool's output, in order."""
    return [int(token, 16) for token in re.findall(r"0x[0-9a-fA-F]+", text)]


@pytest.fixture
def open_bus(library):
    """Opens SMBus with the given keyword arguments; closes every bus at the end."""
    from omzi2c import SMBus

    opened = []

    def open_with(**options):
        bus = SMBus(library=library, **options)
        opened.append(bus)
        return bus

    yield open_with
    for bus in opened:
        bus.close()
