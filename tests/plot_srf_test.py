"""tools/plot-srf on the programs' SRF files in every layout, on other
writers' styles, on hostile files and outputs, each run bounded in time."""
import math
import os
import re
import shutil
import subprocess
import sys

import numpy as np
import pytest

from plot_tools import (BATCH, EXAMPLES, RUPTURE, TIMEOUT, TOOLS, assert_png, environment, moment_line, program,
                        refused, run, said, snapshot, title_moment)

import plot_srf  # noqa: E402  (tools/, on the path through plot_tools)
import slipvel  # noqa: E402


def bend(out, version, *options):
    return [RUPTURE, "--segments", EXAMPLES / "bend-segments.csv", "--patches", EXAMPLES / "bend-patches.csv",
            "--hypocentre", "1:0:9", "--vr", "2.8", "--dt", "0.01", "--quiet", "--srf", out,
            "--srf-version", version, *options]


def trace(out, *options):
    """The strike-slip fault of two segments dipping 75 degrees: in a layered medium for a 2.0 file, else of the
    default rigidity, which a 1.0 file's moment takes."""
    front = ["--medium", EXAMPLES / "medium.csv", "--vr-fraction", "0.8"] if "2.0" in options else ["--vr", "2.8"]
    return [RUPTURE, "--segments", EXAMPLES / "trace-segments.csv", "--patches", EXAMPLES / "trace-patches.csv",
            *front, "--hypocentre", "1:0:9", "--dt", "0.01", "--quiet", "--srf", out, *options]


def table(out):
    return [BATCH, "--table", EXAMPLES / "points.csv", "--quiet", "--srf", out]


# name: (program's command, the tool's options, picture, what the title says, the view drawn)
PROGRAMS_FILES = {
    "bend-2.0": (bend("bend-2.0.srf", "2.0"), [], "bend-2.0.png",
                 "SRF 2.0, 2 planes, 730 points in 2 POINTS blocks", "map"),
    "bend-one-block": (bend("bend-one-block.srf", "2.0", "--srf-blocks", "one"), ["one.png"], "one.png",
                       "SRF 2.0, 2 planes, 730 points in 1 POINTS block", "map"),
    "bend-no-plane": (bend("bend-no-plane.srf", "2.0", "--srf-no-plane"), [], "bend-no-plane.png",
                      "SRF 2.0, no PLANE block, 730 points in 1 POINTS block", "map"),
    "trace-1.0": (trace("trace-1.0.srf"), [], "trace-1.0.png", "SRF 1.0, 2 planes, 954 points in 1 POINTS block",
                  "planes"),
    "trace-2.0-no-plane": (trace("trace-2.0-no-plane.srf", "--srf-version", "2.0", "--srf-no-plane"), [],
                           "trace-2.0-no-plane.png", "SRF 2.0, no PLANE block, 954 points in 1 POINTS block",
                           "planes"),
    "table-1.0": (table("table-1.0.srf"), ["--rigidity", "29403000000"], "table-1.0.png",
                  "SRF 1.0, no PLANE block, 4 points in 1 POINTS block", "map"),
}


@pytest.mark.parametrize("name", PROGRAMS_FILES)
def test_the_programs_files_are_drawn_with_their_moment(tmp_path, name):
    command, options, picture, title, view = PROGRAMS_FILES[name]
    line = program(*command, cwd=tmp_path)
    done = run("plot-srf", f"{name}.srf", *options, cwd=tmp_path)
    out, err = said(done)
    assert done.returncode == 0 and err == "", err
    assert out.startswith(f"wrote {tmp_path / picture}: {name}.srf ({title}): M0 = ")
    assert_png(tmp_path / picture, 1000, 700)
    m0, mw = title_moment(out)
    program_m0, program_mw = moment_line(line)
    assert m0 == pytest.approx(program_m0, rel=1e-4) and mw == pytest.approx(program_mw, abs=0.0051)
    fig = plot_srf.draw(np, fault_of(tmp_path / f"{name}.srf", options))
    assert fig.view == view


def fault_of(path, options=(), rigidity=plot_srf.DEFAULT_RIGIDITY):
    if "--rigidity" in options:
        rigidity = float(options[list(options).index("--rigidity") + 1])
    return plot_srf.Fault(np, slipvel.read_srf(path), path.name, rigidity)


# Other writers' styles: CRLF line ends, a comment, tabs, values wrapped
# their own way, blank lines, exponents in capitals, slip in slip2 (nt2 > 0)
# and slip3. Point 1: 1 km^2, slip1 30 cm and slip2 40 cm at the same steps,
# so 50 cm; point 2: 1 km^2, 10 cm; mu = 2500 kg/m^3 * (3000 m/s)^2:
# M0 = 2.25e10 * 1e6 * 0.6. The 1.0 file: 4 km^2 with slip1 30 cm and slip3
# 40 cm, mu 3e10 Pa: M0 = 3e10 * 4e6 * 0.5.
OTHER_2_0 = "\r\n".join([
    "2.0", "# from another code", "PLANE 1", "  -118.0 34.0045 2 1 2.0 1.0 0 45 4.65 -0.5 0.5", "",
    "POINTS\t2", "-1.1799616E+02 3.40E+01", "5.0E+00 0 45 1.0E+10 0.0E+00", "1.0E-01 3.0E+05 2.5E+00",
    "0 30.0 4 40.0 4 0.0 0", "0.0 150.0", "150.0 0.0 0. 2.0E+02", "200. 0.0E+00", "",
    "\t-117.99616 34.009 5.0 0 45 1.0E+10 1.5 5.0E-02 3.0E+05 2.5", "0 10 3 0 0 0 0", "0 200 0"]) + "\r\n"
OTHER_1_0 = "1.0\nPOINTS 1\n 10.0 45.0 3.0 90 60 4.0e10 2.5 0.5\n180 30.0 3 0.0 0 40.0 3\n0 60 0\n0 80 0\n"
OTHER_WRITERS = {
    "other-2.0": (OTHER_2_0, [], "SRF 2.0, 1 plane, 2 points in 1 POINTS block): M0 = 1.35e+16 N·m, Mw = 4.69"),
    "other-1.0": (OTHER_1_0, ["--rigidity", "3e10"],
                  "SRF 1.0, no PLANE block, 1 point in 1 POINTS block): M0 = 6e+16 N·m, Mw = 5.12"),
}


@pytest.mark.parametrize("name", OTHER_WRITERS)
def test_other_writers_styles(tmp_path, name):
    text, options, title = OTHER_WRITERS[name]
    (tmp_path / f"{name}.srf").write_bytes(text.encode())
    done = run("plot-srf", f"{name}.srf", *options, cwd=tmp_path)
    out, _ = said(done)
    assert done.returncode == 0 and title in out, out
    assert_png(tmp_path / f"{name}.png", 1000, 700)


def grid_file(path, nx, ny, a, b, dip):
    """Points 0.01 degrees apart on the equator, nx along strike (east) by ny, dipping `dip` to the south, with
    tinit = 1 + a * (lon - 10) + b * j / 100: rupture times a plane keeps exactly."""
    rows = []
    for j in range(ny):
        for i in range(nx):
            lat = -j * 0.01 * math.cos(math.radians(dip)) if dip < 90 else 0.0
            dep = 5 + j * 1.112 * math.sin(math.radians(dip))
            rows.append(f"{10 + i / 100:.6f} {lat:.6f} {dep:.6f} 90 {dip} 1.2364e10 "
                        f"{1 + a * i / 100 + b * j / 100:.6f} 0.1\n0 10 3 0 0 0 0\n0 100 0\n")
    path.write_text(f"1.0\nPOINTS {nx * ny}\n" + "".join(rows))
    return path


HALF_SIDE = math.sqrt(1.2364e6) / 2000  # km: half the side of the grid's patches
# name: (nx, ny, a, b, dip, the view, tinit at a contour point from its coordinates)
FRONTS = {
    "a lattice in map view": (8, 6, 30, 20, 30, "map",
                              lambda x, y: 1 + 30 * (x - 10) + 20 * (-y / math.cos(math.radians(30)))),
    "a vertical lattice in its plane": (8, 6, 30, 20, 90, "planes",
                                        lambda u, d: 1 + 30 * (u - HALF_SIDE) / 111.195 + 20 * (d - HALF_SIDE) / 111.2),
}


@pytest.mark.parametrize("name", FRONTS)
def test_the_contours_lie_where_the_rupture_time_is_their_level(tmp_path, name):
    nx, ny, a, b, dip, view, time_at = FRONTS[name]
    fault = fault_of(grid_file(tmp_path / "grid.srf", nx, ny, a, b, dip))
    fig = plot_srf.draw(np, fault)
    assert fig.view == view
    ax = fig.axes[0]
    labels = (ax.get_xlabel(), ax.get_ylabel())
    if view == "map":
        assert labels == ("longitude (°)", "latitude (°)")
    else:
        assert labels == ("along strike (km), the planes end to end", "down dip (km)")
        assert fig.axes[2].get_title().startswith("rise time in the fault's planes")
    fronts = fig.fronts
    assert fronts is not None and len(fronts.levels) >= 4
    checked = 0
    for level, pieces in zip(fronts.levels, fronts.allsegs):
        for piece in pieces:
            for x, y in piece:
                assert time_at(x, y) == pytest.approx(level, abs=0.02 * fronts.step), (level, x, y)
                checked += 1
    assert checked > 20


@pytest.mark.parametrize("strike", [0, 90, 135])
def test_the_map_holds_every_patch_whatever_the_strike(tmp_path, strike):
    """A fault 40 km long and 5 km wide dipping 30 degrees, of 1 km patches."""
    rows = []
    for j in range(5):
        for i in range(40):
            s, d = math.radians(strike), math.radians(30)
            east = (i + 0.5) * math.sin(s) + (j + 0.5) * math.cos(d) * math.cos(s)
            north = (i + 0.5) * math.cos(s) - (j + 0.5) * math.cos(d) * math.sin(s)
            rows.append(f"{20 + east / (111.195 * math.cos(math.radians(40))):.6f} {40 + north / 111.195:.6f} "
                        f"{3 + (j + 0.5) * math.sin(d):.4f} {strike} 30 1e10 {i / 3:.3f} 0.1\n0 10 3 0 0 0 0\n0 100 0\n")
    (tmp_path / "f.srf").write_text(f"1.0\nPOINTS {len(rows)}\n" + "".join(rows))
    fault = fault_of(tmp_path / "f.srf")
    fig = plot_srf.draw(np, fault)
    assert fig.view == "map"
    corners = plot_srf.map_patches(np, fault, fault.frame)[0].reshape(-1, 2)
    (x0, x1), (y0, y1) = fig.axes[0].get_xlim(), fig.axes[0].get_ylim()
    assert x0 < corners[:, 0].min() and corners[:, 0].max() < x1
    assert y0 < corners[:, 1].min() and corners[:, 1].max() < y1


def test_a_vertical_fault_is_drawn_in_its_planes_with_its_rise_time(tmp_path):
    program(*trace("t.srf", "--srf-version", "2.0"), cwd=tmp_path)
    fault = fault_of(tmp_path / "t.srf")
    fig = plot_srf.draw(np, fault)
    assert fig.view == "planes"
    slip_axes, rise_axes = fig.axes[0], fig.axes[2]
    assert "along strike" in slip_axes.get_xlabel() and "down dip" in rise_axes.get_ylabel()
    # The two planes end to end: 25 and 28 subfaults of about a km, 18 km wide.
    assert fig.plane_view.length == pytest.approx(fault.planes["len"].sum())
    assert fig.plane_view.width == pytest.approx(18)
    # The rise time is how long each point's slip rate is non-zero: ts of its source, to a step.
    points = slipvel.read_points(program_points(tmp_path))
    assert np.allclose(fault.rise, points["ts"], atol=0.021)


def program_points(folder):
    program(*trace("p.srf", "--srf-version", "2.0", "--points", "p.csv"), cwd=folder)
    return folder / "p.csv"


def one_point(lon, lat, tinit, dt, area="1e10", dip=45, samples="0 50 100 50 0"):
    count = len(samples.split())
    return f"{lon} {lat} 3 0 {dip} {area} {tinit} {dt}\n0 20 {count} 0 0 0 0\n{samples}\n"


def srf_of(*points):
    return "1.0\nPOINTS %d\n%s" % (len(points), "".join(points))


# name: (file text, the status, what standard error says); each run bounded by TIMEOUT.
HOSTILE_FILES = {
    "dt of 1e400": (srf_of(one_point(10, 45, 0, "1e400")), 1,
                    r"^plot-srf: f\.srf:3: dt = \"1e400\": beyond the range of numbers \(point 1 "),
    "area of 1e400": (srf_of(one_point(10, 45, 0, 0.1, area="1e400")), 1, r"^plot-srf: f\.srf:3: area = \"1e400\""),
    "tinit of 1e400": (srf_of(one_point(10, 45, "1e400", 0.1)), 1, r"^plot-srf: f\.srf:3: tinit = \"1e400\""),
    "a plane's len of 1e400": ("1.0\nPLANE 1\n10 45 1 1 1e400 1 0 45 0 0 0.5\n" + srf_of(one_point(10, 45, 0, 0.1))
                               [4:], 1, r"^plot-srf: f\.srf:3: len = \"1e400\": beyond the range of numbers"),
    "a dt of 1e-300": (srf_of(one_point(10, 45, 0, "1e-300"), one_point(10.01, 45, 1, 0.1)), 0,
                       r"^plot-srf: note: the samples span 1\.4 s: the moment rate is drawn on steps of 7e-06 s"),
    "one tinit of 2.1e299 among many": (srf_of(*[one_point(10 + i / 100, 45, i / 10, 0.1) for i in range(60)],
                                               one_point(10.7, 45, "2.1e299", 0.1)), 0,
                                        r"^plot-srf: note: the samples span 2\.1e\+299 s"),
    "a tinit of -1e300": (srf_of(*[one_point(10 + i / 100, 45, i / 10, 0.1) for i in range(60)],
                                 one_point(10.7, 45, "-1e300", 0.1)), 0,
                          r"^plot-srf: note: the samples span 1e\+300 s"),
    "a span beyond the numbers": (srf_of(one_point(10, 45, "-1.7e308", 0.1), one_point(10.1, 45, "1.7e308", 0.1)),
                                  1, r"^plot-srf: f\.srf: the samples span -1\.7e\+308 s to 1\.7e\+308 s"),
    "a moment beyond the numbers": (srf_of(one_point(10, 45, 0, 0.1, area="1e304", samples="1e300 1e300")), 1,
                                    r"^plot-srf: f\.srf: point 1 of POINTS block 1: its moment .* is beyond the range"),
    "3000 points on one spot": (srf_of(*[one_point(10, 45, i % 7, 0.1) for i in range(3000)]), 0, r"^$"),
    "3000 points on one spot of a vertical fault": (srf_of(*[one_point(10, 45, i % 7, 0.1, dip=90)
                                                             for i in range(3000)]), 0, r"^$"),
    "points on a line": (srf_of(*[one_point(10 + i / 100, 45, i, 0.1, dip=0) for i in range(30)]), 0, r"^$"),
    "binary junk": (bytes(range(256)) * 20, 1, r"^plot-srf: f\.srf:1: \"\\0\\x01.*\": not the version line"),
}


@pytest.mark.parametrize("name", HOSTILE_FILES)
def test_hostile_files_are_drawn_or_refused_quickly(tmp_path, name):
    text, status, says = HOSTILE_FILES[name]
    (tmp_path / "f.srf").write_bytes(text if isinstance(text, bytes) else text.encode())
    done = run("plot-srf", "f.srf", cwd=tmp_path)
    out, err = said(done)
    assert done.returncode == status, err
    if status:
        refused(done, says)
        assert err.count("\n") == 1 and not (tmp_path / "f.png").exists()
        assert sorted(os.listdir(tmp_path)) == ["f.srf"]
    else:
        assert re.search(says, err) if says != r"^$" else err == "", err
        assert "Warning" not in err and out.startswith("wrote ")
        assert_png(tmp_path / "f.png", 1000, 500)


def test_the_programs_own_far_tinit_is_drawn_on_coarse_steps(tmp_path):
    (tmp_path / "far.csv").write_text("id,lon,lat,dep,stk,dip,rake,area,tinit,vs,den,vm,slip,tr\n"
                                      "a,-118,34,5,0,90,0,1e6,0,3300,2700,2,1,1.5\n"
                                      "b,-118,34.009,5,0,90,0,1e6,2.1e299,3300,2700,2,1,1.5\n")
    line = program(BATCH, "--table", "far.csv", "--srf", "far.srf", "--srf-version", "2.0", "--quiet", cwd=tmp_path)
    done = run("plot-srf", "far.srf", cwd=tmp_path)
    out, err = said(done)
    assert done.returncode == 0 and "drawn on steps of 1.05e+294 s" in err
    assert title_moment(out)[0] == pytest.approx(moment_line(line)[0], rel=1e-4)
    fault = fault_of(tmp_path / "far.srf")
    assert len(fault.times) <= 200_003
    assert fault.rates.sum() * fault.step == pytest.approx(fault.m0, rel=1e-9)


# name: (file, arguments, environment changes, pattern of the refusal)
REFUSALS = {
    "a file that is not SRF": (None, ["points.csv"], {}, r"points\.csv:4: \"id,lon,.*\": not the version line"),
    "an empty file": ("", ["empty.srf"], {}, r"empty\.srf: no SRF version line \(the file is empty\)"),
    "a folder": (None, ["folder.srf"], {}, r"^plot-srf: folder\.srf: is a folder, not a file$"),
    "a missing file": (None, ["nope.srf"], {}, r"^plot-srf: nope\.srf: not found$"),
    "a rigidity that is not a number > 0": (None, ["good.srf", "--rigidity", "-3e10"], {},
                                            r"--rigidity -3e10: must be a number > 0 \(Pa\)"),
    "a rigidity beyond the numbers": (None, ["good.srf", "--rigidity=1e999"], {},
                                      r"--rigidity 1e999: beyond the range"),
    "an output over the file": (None, ["good.srf", "good.srf"], {}, r"good\.srf would overwrite the input good\.srf"),
    "an unknown option": (None, ["-x", "good.srf"], {}, r"^plot-srf: unknown option: -x \(see --help\)$"),
    "three files": (None, ["good.srf", "a.png", "b.png"], {}, r"expected FILE\.srf \[OUT\.png\]"),
    "standard input without an output": (None, ["-"], {}, r"- reads the SRF file from standard input: give OUT\.png"),
    "a Python that is not there": (None, ["good.srf"], {"SLIPVEL_PYTHON": "/nonexistent/python3"},
                                   r"^plot-srf: SLIPVEL_PYTHON=/nonexistent/python3: no such program$"),
}


@pytest.mark.parametrize("name", REFUSALS)
def test_refusals_name_the_input_and_write_nothing(tmp_path, name):
    text, arguments, changes, pattern = REFUSALS[name]
    (tmp_path / "good.srf").write_text(OTHER_1_0)
    (tmp_path / "points.csv").write_bytes((EXAMPLES / "points.csv").read_bytes())
    (tmp_path / "folder.srf").mkdir()
    if text is not None:
        (tmp_path / arguments[0]).write_text(text)
    before = snapshot(tmp_path)
    refused(run("plot-srf", *arguments, cwd=tmp_path, env=environment(**changes)), pattern)
    assert snapshot(tmp_path) == before


def test_standard_input_is_read_once(tmp_path):
    done = run("plot-srf", "-", "in.png", cwd=tmp_path, stdin=OTHER_2_0.encode())
    out, err = said(done)
    assert done.returncode == 0 and err == "" and "standard input (SRF 2.0, 1 plane, 2 points" in out
    assert_png(tmp_path / "in.png", 1000, 700)
    refused(run("plot-srf", "-", "bad.png", cwd=tmp_path, stdin=b"2.0\nPOINTS x\n"),
            r"^plot-srf: standard input:2: POINTS count")


def test_a_temporary_folder_of_quotes_is_harmless(tmp_path):
    (tmp_path / "good.srf").write_text(OTHER_1_0)
    strange = tmp_path / "it's \"a\" $(touch pwned) `x`"
    strange.mkdir()
    done = run("plot-srf", "good.srf", cwd=tmp_path, env=environment(TMPDIR=strange))
    assert done.returncode == 0, said(done)
    assert sorted(os.listdir(tmp_path)) == ["good.png", "good.srf", strange.name]
    assert os.listdir(strange) == []


# name: (where the tools are, PYTHONPATH, what is said or None for a picture)
LAUNCHES = {
    "from the clone, the build tree's module found": ("clone", None, None),
    "from a copy without a build, the module missing": ("copy", None,
                                                        r"^plot-srf: the Python module slipvel cannot be imported .*: "
                                                        r"build it \(the full build"),
}


@pytest.mark.parametrize("name", LAUNCHES)
def test_the_launcher_finds_the_module_or_says_what_is_missing(tmp_path, name):
    where, path, pattern = LAUNCHES[name]
    if where == "clone" and not list((TOOLS.parent / "build" / "python").glob("slipvel*.so")):
        pytest.skip("the build is not the clone's build/")
    tools = TOOLS
    installed = subprocess.run([sys.executable, "-c", "import slipvel"], env=environment(PYTHONPATH=None),
                               capture_output=True, check=False).returncode == 0
    if where == "copy" and installed:
        pytest.skip("slipvel is installed for this Python")
    if where == "copy":
        tools = tmp_path / "elsewhere" / "tools"
        shutil.copytree(TOOLS, tools, ignore=shutil.ignore_patterns("__pycache__"))
    (tmp_path / "good.srf").write_text(OTHER_1_0)
    done = subprocess.run([str(tools / "plot-srf"), "good.srf"], cwd=tmp_path, env=environment(PYTHONPATH=path),
                          capture_output=True, timeout=TIMEOUT, check=False, stdin=subprocess.DEVNULL)
    if pattern is None:
        assert done.returncode == 0, said(done)
        assert_png(tmp_path / "good.png", 1000, 700)
    else:
        refused(done, pattern)
        assert not (tmp_path / "good.png").exists()
