"""Runs every runnable block of the README and of each page of docs/, as a
reader would: each page's blocks in order, in a fresh copy of the source tree
whose build/ is the tested build, with a HOME of its own. A page's examples
write into out/ and nowhere else in the tree.

A runnable block is a fenced block right after `<!-- example -->`: a shell
block (```sh) runs with bash -euo pipefail, a Python block (```python) with
this interpreter and PYTHONPATH=build/python. A block after
`<!-- example: PATH -->` is a file the reader saves as PATH before the next
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
PAGES = ["README.md"] + sorted(str(p.relative_to(SOURCE)) for p in (SOURCE / "docs").glob("*.md"))


def blocks_of(page):
    text = (SOURCE / page).read_text()
    return [(m.group("language"), m.group("file"), m.group("body"), text.count("\n", 0, m.start()) + 2)
            for m in MARKED_BLOCK.finditer(text)]


def fresh_copy(root):
    """A copy of the tree without build outputs or results, its build/ the tested one, and a HOME."""
    clone = root / "slipvel"
    shutil.copytree(SOURCE, clone, ignore=shutil.ignore_patterns(".git", "build*", "out", "Vek_*.csv", "*.srf"))
    (clone / "build").symlink_to(BUILD, target_is_directory=True)
    home = root / "home"
    home.mkdir()
    env = {k: v for k, v in os.environ.items() if not k.startswith("PYTHON")}
    env.update(HOME=str(home), CI="true")
    return clone, env


def run_block(clone, env, page, language, body, line):
    if language == "sh":
        command = ["bash", "-euo", "pipefail", "-c", body]
    elif language == "python":
        command = [sys.executable, "-c", body]
        env = dict(env, PYTHONPATH=str(clone / "build" / "python"))
    else:
        pytest.fail(f"{page}:{line}: a {language} block must name the file it is saved as")
    done = subprocess.run(command, cwd=clone, env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                          timeout=600)
    assert done.returncode == 0, f"{page}:{line} failed:\n{body}\n--- stdout\n{done.stdout}\n--- stderr\n{done.stderr}"


def test_the_readme_shows_every_interface():
    bodies = "".join(body for _, _, body, _ in blocks_of("README.md"))
    for program in ("build/slipvel ", "slipvel-batch", "slipvel-rupture", "import slipvel"):
        assert program in bodies


@pytest.mark.parametrize("page", PAGES)
def test_page(tmp_path, page):
    blocks = blocks_of(page)
    if not blocks:
        pytest.skip(f"{page} has no runnable block")
    text = " ".join((SOURCE / page).read_text().split())
    assert "full build" in text or "first build command" in text or "first command" in text, \
        f"{page} does not say which build its examples need"
    clone, env = fresh_copy(tmp_path)
    before = set(os.listdir(clone))
    for language, file, body, line in blocks:
        if file:
            (clone / file).parent.mkdir(parents=True, exist_ok=True)
            (clone / file).write_text(body)
        else:
            run_block(clone, env, page, language, body, line)
    assert set(os.listdir(clone)) - before <= {"out"}, f"{page}'s examples wrote outside out/"
