"""tools/plot-results on slipvel's and slipvel-batch's own result files, and
on files it must refuse, each run bounded in time."""
import os
import shutil

import numpy as np
import pytest

from plot_tools import BATCH, SLIPVEL, assert_png, program, refused, run, said, snapshot

import plot_results  # noqa: E402  (tools/, on the path through plot_tools)


@pytest.fixture(name="results", scope="module")
def fixture_results(tmp_path_factory):
    """A folder of slipvel's two files and one of a slipvel-batch table run of two sources."""
    root = tmp_path_factory.mktemp("results")
    (root / "run").mkdir()
    program(SLIPVEL, cwd=root / "run")
    (root / "batch").mkdir()
    (root / "batch" / "t.csv").write_text("id,vm,slip\nsf-1,3,0.8\nsf.2,4.092,1\n")
    program(BATCH, "--table", "t.csv", "-o", "out", cwd=root / "batch")
    return root


# name: (folder, ids, the pictures, what the titles name)
RUNS = {
    "the built-in source": ("run", [], ["Vek_Slip.png", "Vek_Amp.png"], "Vek_Slip.csv"),
    "one batch id": ("batch/out", ["sf-1"], ["sf-1_slip.png", "sf-1_amp.png"], "sf-1"),
    "several batch ids": ("batch/out", ["sf-1", "sf.2"], ["slip.png", "amp.png"], "sf-1 sf.2"),
}


@pytest.mark.parametrize("name", RUNS)
def test_the_programs_results_are_drawn(tmp_path, results, name):
    folder, ids, pictures, what = RUNS[name]
    shutil.copytree(results / folder, tmp_path / "f")
    done = run("plot-results", tmp_path / "f", *ids)
    out, err = said(done)
    assert done.returncode == 0 and err == "", err
    assert out == f"wrote {tmp_path}/f/{pictures[0]} and {tmp_path}/f/{pictures[1]}\n"
    for picture in pictures:
        assert_png(tmp_path / "f" / picture, 800, 500)


def test_the_curves_are_the_files_columns_to_past_the_slip(results):
    slips = [plot_results.read_columns(np, str(results / "batch" / "out" / f"{i}_slip.csv"),
                                       plot_results.SLIP_HEADER, "") for i in ("sf-1", "sf.2")]
    fig = plot_results.draw_histories(np, slips, ["sf-1", "sf.2"], "(two)")
    velocity, slip, acceleration = fig.axes
    for ax, column in ((velocity, 1), (slip, 2), (acceleration, 3)):
        for line, rows in zip(ax.get_lines(), slips):
            assert np.array_equal(line.get_ydata(), rows[:, column])
    last = max(rows[rows[:, 1] != 0, 0].max() for rows in slips)
    assert acceleration.get_xlim() == pytest.approx((0, 1.08 * last))
    assert [t.get_text() for t in velocity.get_legend().get_texts()] == ["sf-1", "sf.2"]


def test_the_current_folder_is_the_default(tmp_path, results):
    shutil.copytree(results / "run", tmp_path / "f")
    assert run("plot-results", cwd=tmp_path / "f").returncode == 0
    assert_png(tmp_path / "f" / "Vek_Amp.png", 800, 500)


def spoil(folder, name, old, new):
    text = (folder / name).read_text()
    (folder / name).write_text(text.replace(old, new, 1))


# name: (what is done to a copy of the built-in run's folder, ids, what the refusal says)
REFUSALS = {
    "a missing file": (lambda f: os.remove(f / "Vek_Amp.csv"), [],
                       r"^plot-results: Vek_Amp\.csv not found in .* \(run slipvel first\)$"),
    "a foreign file": (lambda f: (f / "Vek_Slip.csv").write_text("a,b,c\n1,2,3\n4,5,6\n"), [],
                       r"Vek_Slip\.csv:1: not a slipvel result file"),
    "a bad number": (lambda f: spoil(f, "Vek_Slip.csv", "0.7349760", "0.73x9760"), [],
                     r"Vek_Slip\.csv:3: velocity = \"0\.73x9760\": not a finite number$"),
    "a number beyond the numbers": (lambda f: spoil(f, "Vek_Amp.csv", "0.9706E+00", "0.9706E+999"), [],
                                    r"Vek_Amp\.csv:2: abs\(vel\) = \"0\.9706E\+999\": not a finite number$"),
    "a short row": (lambda f: spoil(f, "Vek_Amp.csv", ",  0.2978E+00", ""), [],
                    r"Vek_Amp\.csv:2: 2 fields, the header has 3$"),
    "too few rows": (lambda f: (f / "Vek_Amp.csv").write_text(plot_results.AMP_HEADER + "\n1,2,3\n"), [],
                     r"Vek_Amp\.csv: too few rows to plot$"),
    "an unknown id": (None, ["nope"], r"nope_slip\.csv not found in .*is the id in the table"),
    "an id that is none": (None, ["../x"], r"^plot-results: id = \"\.\./x\": not a slipvel-batch id$"),
    "an unknown option": (None, ["-x"], r"^plot-results: unknown option: -x \(see --help\)$"),
    "a folder as the file": (lambda f: (os.remove(f / "Vek_Amp.csv"), (f / "Vek_Amp.csv").mkdir()), [],
                             r"Vek_Amp\.csv: is a folder, not a file$"),
}


@pytest.mark.parametrize("name", REFUSALS)
def test_refusals_name_the_file_and_write_nothing(tmp_path, results, name):
    change, ids, pattern = REFUSALS[name]
    folder = tmp_path / "f"
    shutil.copytree(results / "run", folder)
    if change:
        change(folder)
    before = snapshot(folder)
    arguments = ids if name == "an unknown option" else [folder, *ids]
    refused(run("plot-results", *arguments), pattern)
    assert snapshot(folder) == before


def test_a_folder_that_is_not_there(tmp_path):
    refused(run("plot-results", tmp_path / "nope"), r"nope: no such folder$")
