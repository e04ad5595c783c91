"""SMBus and Ports on the simulated board, checked against the omzi2c tool's
output for the same board."""

import contextlib
import errno
import importlib.util
import os
import re
import shutil
import subprocess
import sys
import threading
import venv

import pytest

from conftest import hex_numbers
from omzi2c import ERROR_ALREADY_OPEN, ERROR_BUS_HELD, ERROR_DRIVER, ERROR_NOT_PRESENT, OMZI2CError

DDR3, DDR4, SENSOR, BLOCK_DEVICE, ABSENT = 0x50, 0x54, 0x18, 0x44, 0x60
SELECT_PAGE0, SELECT_PAGE1 = 0x36, 0x37


# Each read through SMBus gives what the tool reads with the same request.
@pytest.mark.parametrize("call, tool_args", [
    (lambda bus: bus.read_i2c_block_data(DDR3, 0, 32), ["read", "0x50", "0", "32"]),
    (lambda bus: bus.read_i2c_block_data(DDR3, 0x80, 18), ["read", "0x50", "0x80", "18"]),
    (lambda bus: bus.read_i2c_block_data(DDR4, 0xFE, 2), ["read", "0x54", "0xfe", "2"]),
    (lambda bus: [bus.read_byte_data(DDR4, 2)], ["get", "0x54", "2"]),
    (lambda bus: [bus.read_word_data(SENSOR, 5)], ["get", "0x18", "5", "w"]),
    (lambda bus: bus.read_block_data(BLOCK_DEVICE, 0), ["block-read", "0x44", "0"]),
    (lambda bus: [bus.read_byte(BLOCK_DEVICE)], ["recv", "0x44"]),
    (lambda bus: [bus.ports.read(0xCF8, 32)], ["port", "read", "0xcf8", "d"]),
], ids=["spd 0-31", "ddr3 part number", "ddr4 word", "byte", "word", "block", "receive",
        "port"])
def test_reads_equal_the_tool(open_bus, tool, call, tool_args):
    assert call(open_bus()) == hex_numbers(tool(*tool_args))


# A write is seen by the read that follows it.
@pytest.mark.parametrize("write, read, expected", [
    (lambda bus: bus.write_byte_data(DDR3, 0x90, 0x5A),
     lambda bus: bus.read_byte_data(DDR3, 0x90), 0x5A),
    (lambda bus: bus.write_word_data(SENSOR, 2, 0x0510),
     lambda bus: bus.read_word_data(SENSOR, 2), 0x0510),
    (lambda bus: bus.write_i2c_block_data(DDR3, 0x90, [0x11, 0x22, 0x33]),
     lambda bus: bus.read_i2c_block_data(DDR3, 0x90, 3), [0x11, 0x22, 0x33]),
    # Two bytes are one word: the first is its low byte.
    (lambda bus: bus.write_i2c_block_data(DDR3, 0x90, [0x34, 0x12]),
     lambda bus: bus.read_word_data(DDR3, 0x90), 0x1234),
    # The register wraps from 0xff to 0x00.
    (lambda bus: bus.write_i2c_block_data(DDR3, 0xFE, [1, 2, 3]),
     lambda bus: [bus.read_byte_data(DDR3, r) for r in (0xFE, 0xFF, 0x00)], [1, 2, 3]),
    (lambda bus: bus.write_block_data(BLOCK_DEVICE, 0x10, list(b"scratch")),
     lambda bus: bytes(bus.read_block_data(BLOCK_DEVICE, 0x10)), b"scratch"),
    (lambda bus: bus.ports.write(0xCF8, 0x8000FB00, 32),
     lambda bus: bus.ports.read(0xCF8, 32), 0x8000FB00),
], ids=["byte", "word", "i2c block", "i2c block of 2", "register wraps", "block", "port"])
def test_write_is_seen_by_the_next_read(open_bus, write, read, expected):
    bus = open_bus()
    write(bus)
    assert read(bus) == expected


def _tool_failure(tool_path, args):
    """The NTSTATUS and result code the tool reports for a failed request."""
    done = subprocess.run([tool_path, *args], capture_output=True, text=True)
    assert done.returncode == 2, done.stderr
    ntstatus = int(re.search(r"0x(C[0-9A-F]{7})", done.stderr).group(1), 16)
    result = re.search(r"\(result (\d+)\)", done.stderr)
    return ntstatus, int(result.group(1)) if result else None


# A failed request raises OMZI2CError with the status, NTSTATUS and result
# code the tool reports for it (none for a write: it gets no error reply).
@pytest.mark.parametrize("options, call, tool_args, expected_errno", [
    ({}, lambda bus: bus.read_byte_data(ABSENT, 0), ["get", "0x60", "0"], errno.EIO),
    ({"chipset": 10}, lambda bus: bus.read_byte(ABSENT), ["--chipset=10", "recv", "0x60"],
     errno.ENXIO),
    ({}, lambda bus: bus.write_byte_data(ABSENT, 0, 1), ["-y", "set", "0x60", "0", "1"],
     errno.EIO),
    ({"fault": "never-finishes"}, lambda bus: bus.read_i2c_block_data(DDR3, 2, 4),
     ["--fault=never-finishes", "read", "0x50", "2", "4"], errno.ETIMEDOUT),
    ({"chipset": 5, "fault": ["collision"]}, lambda bus: bus.read_word_data(SENSOR, 5),
     ["--chipset=5", "--fault=collision", "get", "0x18", "5", "w"], errno.EIO),
], ids=["absent chip", "address nak", "write", "time-out", "collision"])
def test_failed_request_raises_what_the_tool_reports(open_bus, options, call, tool_args,
                                                    expected_errno):
    with pytest.raises(OMZI2CError) as raised:
        call(open_bus(**options))
    ntstatus, result = _tool_failure(os.environ["OMZI2C_TOOL"], tool_args)
    error = raised.value
    assert isinstance(error, OSError)
    assert (error.status, error.ntstatus, error.result) == (ERROR_DRIVER, ntstatus, result)
    assert error.errno == expected_errno


# Opens that cannot succeed, and a hold another thread has.
def test_open_and_hold_failures(open_bus, library, tool):
    from omzi2c import SMBus
    with pytest.raises(OMZI2CError) as refused:
        SMBus(library=library, chipset=99)
    assert (refused.value.status, refused.value.errno, refused.value.ntstatus) == \
        (ERROR_NOT_PRESENT, errno.ENODEV, None)
    bus = open_bus(wait_limit=0)
    with pytest.raises(OMZI2CError) as refused:
        SMBus(library=library)
    assert refused.value.status == ERROR_ALREADY_OPEN
    outcome = []

    def other_thread():
        try:
            outcome.append(bus.read_byte_data(DDR4, 2))
        except OMZI2CError as error:
            outcome.append((error.status, error.ntstatus))

    for hold in (bus.lock(), contextlib.nullcontext()):  # held, then given back
        with hold:
            worker = threading.Thread(target=other_thread)
            worker.start()
            worker.join()
    assert outcome == [(ERROR_BUS_HELD, 0xC00000B5), hex_numbers(tool("get", "0x54", "2"))[0]]


# A DDR4 module's upper page, read under one hold between its page selects,
# holds the part number the tool's spd decoder shows (SPD bytes 329-348).
def test_locked_sequence_reads_the_ddr4_upper_page(open_bus, tool):
    bus = open_bus()
    with bus.lock():
        bus.write_byte_data(SELECT_PAGE1, 0, 0)
        part = bus.read_i2c_block_data(DDR4, 329 - 256, 20)
        bus.write_byte_data(SELECT_PAGE0, 0, 0)
    shown = re.search(r"Part number:\s+(\S+)", tool("spd", "0x54")).group(1)
    assert bytes(part).decode("ascii").strip() == shown
    assert bus.read_byte_data(DDR4, 2) == hex_numbers(tool("get", "0x54", "2"))[0]  # page 0 again


# Refused before any request: with trace on, every request the driver runs
# prints on stderr, so nothing may appear there.
@pytest.mark.parametrize("method, args, refused", [
    ("read_byte_data", (0x80, 0), ValueError), ("read_byte_data", (-1, 0), ValueError),
    ("read_byte_data", ("0x50", 0), ValueError), ("read_byte_data", (DDR3, 0x100), ValueError),
    ("write_byte_data", (DDR3, 0, 256), ValueError), ("write_byte", (DDR3, True), ValueError),
    ("write_word_data", (SENSOR, 2, 0x10000), ValueError),
    ("read_i2c_block_data", (DDR3, 0, 0), ValueError),
    ("read_i2c_block_data", (DDR3, 0, 33), ValueError),
    ("write_i2c_block_data", (DDR3, 0, []), ValueError),
    ("write_i2c_block_data", (DDR3, 0, [0] * 33), ValueError),
    ("write_i2c_block_data", (DDR3, 0, [1, 256]), ValueError),
    ("write_block_data", (BLOCK_DEVICE, 0x10, None), ValueError),
    ("read_byte", (DDR3, 1), ValueError),  # force is None, True or False
    ("ports.read", (0x10000,), ValueError), ("ports.read", (0x80, 24), ValueError),
    ("ports.write", (0x80, 0x100, 8), ValueError), ("ports.write", (0x80, 1 << 16, 16), ValueError),
    ("write_quick", (DDR3,), NotImplementedError), ("i2c_rdwr", (), NotImplementedError),
    ("process_call", (DDR3, 0, 1), NotImplementedError), ("enable_pec", (), NotImplementedError),
    ("block_process_call", (DDR3, 0, [1]), NotImplementedError),
])
def test_refused_before_any_request(open_bus, capfd, method, args, refused):
    bus = open_bus(trace=True)
    capfd.readouterr()
    target = bus.ports if method.startswith("ports.") else bus
    with pytest.raises(refused):
        getattr(target, method.split(".")[-1])(*args)
    assert capfd.readouterr().err == ""


@pytest.mark.parametrize("options", [
    {"chipset": "5"}, {"state": "a file"}, {"speed": 100}, {"trace": 1}, {"fault": [""]},
    {"bus": "/dev/i2c-1"}, {"wait_limit": 30001},
], ids=str)
def test_bad_open_options_raise_value_error(library, options):
    from omzi2c import SMBus
    with pytest.raises(ValueError):
        SMBus(library=library, **options).close()


# The example prints the part numbers and the temperature the tool shows.
def test_example_reports_what_the_tool_shows(tool):
    package = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    example = os.path.join(package, "examples", "modules_and_sensor.py")
    done = subprocess.run([sys.executable, example], capture_output=True, text=True, check=True,
                          env=dict(os.environ, PYTHONPATH=package))
    shown = tool("sensors")
    modules = dict(re.findall(r"^(0x5[0-7]): .*, (\S+)$", shown, re.M))
    temperature = re.search(r"temp1:\s+([+-][\d.]+) C", shown).group(1)
    assert dict(re.findall(r"^module (0x5[0-7]): .*part number (\S+)$", done.stdout, re.M)) \
        == modules
    assert re.search(rf"^sensor 0x18: {re.escape(temperature)} C$", done.stdout, re.M)


# The package installs into a virtual environment without a network, and
# the installed copy runs (from a copy of the source: pip builds in place).
def test_installs_without_a_network(library, tool, tmp_path):
    if importlib.util.find_spec("ensurepip") is None:
        pytest.skip("python3's venv cannot install pip (Debian package python3-venv)")
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    shutil.copytree(os.path.join(source, "omzi2c"), tmp_path / "package" / "omzi2c")
    shutil.copy(os.path.join(source, "pyproject.toml"), tmp_path / "package")
    venv.create(tmp_path / "env", system_site_packages=True, with_pip=True)
    python = str(tmp_path / "env" / "bin" / "python")
    subprocess.run([python, "-m", "pip", "install", "-q", "--no-build-isolation", "--no-index",
                    str(tmp_path / "package")], check=True, cwd=tmp_path)
    done = subprocess.run([python, "-c", "import omzi2c; print(omzi2c.__file__, omzi2c.SMBus("
                           f"library={library!r}).read_byte_data(0x50, 2))"],
                          capture_output=True, text=True, check=True, cwd=tmp_path)
    path, memory_type = done.stdout.split()
    assert path.startswith(str(tmp_path / "env"))
    assert int(memory_type) == hex_numbers(tool("get", "0x50", "2"))[0]
