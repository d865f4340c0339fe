"""What the plot tools' tests share: the tools and programs, a run bounded in
time, the size of a picture, the folder left as it was, and the tools' own
Python code for looking at what a picture drew.

The environment (set by CTest): SLIPVEL_SOURCE_DIR, SLIPVEL_BUILD_DIR and
PYTHONPATH with the module; the tools run under this interpreter.
"""
import os
import pathlib
import re
import struct
import subprocess
import sys

import pytest

SOURCE = pathlib.Path(os.environ["SLIPVEL_SOURCE_DIR"])
BUILD = pathlib.Path(os.environ["SLIPVEL_BUILD_DIR"])
TOOLS = SOURCE / "tools"
EXAMPLES = SOURCE / "examples"
RUPTURE = BUILD / "slipvel-rupture"
BATCH = BUILD / "slipvel-batch"
SLIPVEL = BUILD / "slipvel"
# Every run of a tool ends within this (s): a hang or an axis of billions of
# steps fails the test instead of stalling it.
TIMEOUT = 20

pytest.importorskip("matplotlib", reason="matplotlib (python3-matplotlib) is not installed")
sys.path.insert(0, str(TOOLS))


def environment(**changes):
    """The tools' environment: this Python, a matplotlib cache shared by the run, and the changes (None: unset)."""
    env = dict(os.environ, SLIPVEL_PYTHON=sys.executable)
    env.setdefault("MPLCONFIGDIR", str(BUILD / "tests-matplotlib"))
    for name, value in changes.items():
        if value is None:
            env.pop(name, None)
        else:
            env[name] = str(value)
    return env


def run(tool, *arguments, cwd=None, stdin=None, env=None, limits=None):
    """Runs tools/TOOL with the arguments, bounded by TIMEOUT; returns the finished process (text)."""
    return subprocess.run([str(TOOLS / tool), *map(str, arguments)], cwd=cwd, env=env or environment(),
                          input=stdin, stdin=None if stdin is not None else subprocess.DEVNULL, capture_output=True,
                          timeout=TIMEOUT, preexec_fn=limits, check=False)


def said(done):
    """(stdout, stderr) of a finished run as text."""
    return done.stdout.decode(errors="replace"), done.stderr.decode(errors="replace")


def png_size(path):
    """(width, height) of a PNG file, or None if it is not one."""
    data = pathlib.Path(path).read_bytes()[:24]
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return struct.unpack(">II", data[16:24])


def assert_png(path, width, height):
    size = png_size(path)
    assert size is not None, f"{path} is not a PNG"
    assert size[0] >= width and size[1] >= height, f"{path} is {size[0]} x {size[1]}"


def snapshot(folder):
    """What a folder holds, every entry by name: its kind and its bytes (or where a link leads)."""
    state = {}
    for path in sorted(pathlib.Path(folder).rglob("*")):
        if path.is_symlink():
            state[str(path)] = ("link", os.readlink(path))
        elif path.is_fifo() or path.is_char_device():
            state[str(path)] = ("special", path.stat().st_mode)
        elif path.is_dir():
            state[str(path)] = ("folder",)
        else:
            state[str(path)] = ("file", path.read_bytes())
    return state


def refused(done, pattern):
    """A run that stopped with status 1 and said what matches `pattern` as one line (or a few), no traceback."""
    out, err = said(done)
    assert done.returncode == 1, f"status {done.returncode}\n{out}\n{err}"
    assert re.search(pattern, err), f"said: {err!r}"
    assert "Traceback" not in err and "Warning" not in err, err
    return err


def moment_line(text):
    """(M0, Mw) of a program's moment line."""
    found = re.search(r"M0_Nm=(\S+) Mw=(\S+)", text)
    return float(found.group(1)), float(found.group(2))


def title_moment(text):
    """(M0, Mw) of a picture's title as a tool prints it."""
    found = re.search(r"M0 = (\S+) N·m, Mw = (\S+)", text)
    return float(found.group(1)), float(found.group(2))


def program(path, *arguments, cwd):
    """Runs a built program and returns its standard output and error (text); it must succeed."""
    done = subprocess.run([str(path), *map(str, arguments)], cwd=cwd, capture_output=True, text=True,
                          stdin=subprocess.DEVNULL, timeout=120, check=False)
    assert done.returncode == 0, done.stderr
    return done.stdout + done.stderr


HOSTILE = ("fifo", "folder", "loop", "device")


def hostile_output(folder, case, name):
    """Makes folder/name an output a picture must never replace: a FIFO, a folder, a loop of links or a link to a
    character device made here (never the real /dev). Returns what the refusal says, or None where no device can
    be made."""
    path = folder / name
    if case == "fifo":
        os.mkfifo(path)
    elif case == "folder":
        path.mkdir()
    elif case == "loop":
        path.symlink_to(f"{name}.other")
        (folder / f"{name}.other").symlink_to(name)
        return "Too many levels of symbolic links"
    else:
        try:
            os.mknod(folder / "null", 0o666 | 0o020000, os.makedev(1, 3))
        except (OSError, AttributeError):
            return None
        path.symlink_to("null")
    return "is a folder" if case == "folder" else "not a regular file"
