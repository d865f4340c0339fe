"""What every plot tool does alike, one table of the tools for each family of
cases: outputs a picture must never replace, a link followed, a full disk, a
missing matplotlib, --help; each run bounded in time."""
import os
import resource

import pytest

from plot_tools import HOSTILE, SLIPVEL, assert_png, environment, hostile_output, program, refused, run, said, snapshot

from plot_ensemble_test import sine_table  # noqa: E402
from plot_rupture_test import make_fault  # noqa: E402
from plot_srf_test import OTHER_1_0  # noqa: E402


def srf_input(folder):
    (folder / "good.srf").write_text(OTHER_1_0)
    return ["good.srf", "out.png"], "out.png"


def rupture_input(folder):
    make_fault(folder, [(4, 2, 8, 4)])
    return ["points.csv", "planes.csv"], "rupture.png"


def results_input(folder):
    program(SLIPVEL, cwd=folder)
    return ["."], "Vek_Amp.png"


def ensemble_input(folder):
    sine_table(folder / "a.csv")
    return ["-o", "out.png", "a.csv"], "out.png"


# tool: (makes its inputs in a folder and returns its arguments and the picture it writes there, its usage)
TOOLS = {
    "plot-srf": (srf_input, "Usage: tools/plot-srf FILE.srf [OUT.png]"),
    "plot-rupture": (rupture_input, "Usage: tools/plot-rupture [-o DIR] POINTS PLANES"),
    "plot-results": (results_input, "Usage: tools/plot-results [FOLDER]"),
    "plot-ensemble": (ensemble_input, "Usage: tools/plot-ensemble [-o OUT.png]"),
}


@pytest.mark.parametrize("case", HOSTILE)
@pytest.mark.parametrize("tool", TOOLS)
def test_outputs_that_are_no_file_are_refused_and_left_alone(tmp_path, tool, case):
    arguments, picture = TOOLS[tool][0](tmp_path)
    message = hostile_output(tmp_path, case, picture)
    if message is None:
        pytest.skip("no device can be made here")
    before = snapshot(tmp_path)
    refused(run(tool, *arguments, cwd=tmp_path), rf"^{tool}: (\./)?{picture}: .*{message}")
    assert snapshot(tmp_path) == before


@pytest.mark.parametrize("tool", TOOLS)
def test_an_output_link_is_followed_and_stays(tmp_path, tool):
    arguments, picture = TOOLS[tool][0](tmp_path)
    (tmp_path / "kept").mkdir()
    (tmp_path / "kept" / "old.png").write_bytes(b"old")
    (tmp_path / picture).symlink_to("kept/old.png")
    done = run(tool, *arguments, cwd=tmp_path)
    assert done.returncode == 0, said(done)
    assert (tmp_path / picture).is_symlink()
    assert_png(tmp_path / "kept" / "old.png", 800, 500)


@pytest.mark.parametrize("tool", TOOLS)
def test_a_full_disk_leaves_the_old_picture(tmp_path, tool):
    arguments, picture = TOOLS[tool][0](tmp_path)
    (tmp_path / picture).write_bytes(b"old")

    def small_files():
        resource.setrlimit(resource.RLIMIT_FSIZE, (20_000, 20_000))

    before = snapshot(tmp_path)
    refused(run(tool, *arguments, cwd=tmp_path, limits=small_files),
            r"\.png: could not be written .*a full disk or a file-size limit")
    assert snapshot(tmp_path) == before


@pytest.mark.parametrize("tool", TOOLS)
def test_a_python_without_matplotlib_is_told_the_package(tmp_path, tool):
    arguments, _ = TOOLS[tool][0](tmp_path)
    blocked = tmp_path / "blocked" / "matplotlib"
    blocked.mkdir(parents=True)
    (blocked / "__init__.py").write_text("raise ImportError('No module named matplotlib')\n")
    env = environment(PYTHONPATH=f"{blocked.parent}{os.pathsep}{os.environ.get('PYTHONPATH', '')}")
    before = snapshot(tmp_path)
    refused(run(tool, *arguments, cwd=tmp_path, env=env),
            rf"^{tool}: matplotlib cannot be imported .*: install python3-matplotlib \(Debian\)")
    assert snapshot(tmp_path) == before


@pytest.mark.parametrize("tool", TOOLS)
def test_help_answers(tool):
    done = run(tool, "--help")
    assert done.returncode == 0 and said(done)[0].startswith(TOOLS[tool][1])
