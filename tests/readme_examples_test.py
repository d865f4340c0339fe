"""Runs every README block marked as an example, as a reader would: in order,
in a fresh copy of the source tree whose build/ is the tested build, with a
HOME of its own.

A shell block (```sh) is run with bash -euo pipefail, a Python block
(```python) with this interpreter and PYTHONPATH=build/python. A block marked
`<!-- example: NAME -->` is a file the reader saves as NAME before the next
block runs.
"""
import os
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

SOURCE = pathlib.Path(os.environ["SLIPVEL_SOURCE_DIR"])
BUILD = pathlib.Path(os.environ["SLIPVEL_BUILD_DIR"])
MARKED_BLOCK = re.compile(r"^<!-- example(?:: (?P<file>\S+))? -->\n```(?P<language>\w+)\n(?P<body>.*?)^```$",
                          re.MULTILINE | re.DOTALL)


def marked_blocks():
    text = (SOURCE / "README.md").read_text()
    return [(m.group("language"), m.group("file"), m.group("body"), text.count("\n", 0, m.start()) + 1)
            for m in MARKED_BLOCK.finditer(text)]


BLOCKS = marked_blocks()


@pytest.fixture(scope="module")
def reader(tmp_path_factory):
    """A fresh copy of the tree (no build outputs, no results) and a HOME."""
    root = tmp_path_factory.mktemp("reader")
    clone = root / "slipvel"
    shutil.copytree(SOURCE, clone, ignore=shutil.ignore_patterns(".git", "build*", "Vek_*.csv", "*.srf"))
    (clone / "build").symlink_to(BUILD, target_is_directory=True)
    home = root / "home"
    home.mkdir()
    env = {k: v for k, v in os.environ.items() if not k.startswith("PYTHON")}
    env.update(HOME=str(home), CI="true")
    return clone, env


def test_the_readme_has_examples():
    assert len(BLOCKS) >= 5
    assert all(language in ("sh", "python", "cpp", "cmake") for language, _, _, _ in BLOCKS)


@pytest.mark.parametrize("language, file, body, line", BLOCKS, ids=[f"line{b[3]}" for b in BLOCKS])
def test_example(reader, language, file, body, line):
    clone, env = reader
    if file:
        target = clone / file
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_text(body)
        return
    if language == "sh":
        command = ["bash", "-euo", "pipefail", "-c", body]
    elif language == "python":
        command = [sys.executable, "-c", body]
        env = dict(env, PYTHONPATH=str(clone / "build" / "python"))
    else:
        pytest.fail(f"README line {line}: a {language} block must name the file it is saved as")
    done = subprocess.run(command, cwd=clone, env=env, stdin=subprocess.DEVNULL, capture_output=True,
                          text=True, timeout=600)
    assert done.returncode == 0, f"README line {line} failed:\n{body}\n--- stdout\n{done.stdout}\n--- stderr\n{done.stderr}"
