"""tools/plot-rupture on hand-made and program-made slipvel-rupture files:
the pictures, the rupture-time grid across the segments' joins, the
refusals and the outputs, each run bounded in time."""
import math
import os

import numpy as np
import pytest

from plot_tools import EXAMPLES, RUPTURE, assert_png, moment_line, program, refused, run, said, snapshot

import plot_rupture  # noqa: E402  (tools/, on the path through plot_tools)
import slipvel  # noqa: E402

HEADER = "id,lon,lat,dep,stk,dip,rake,area,tinit,dt,nt,fmax,vm,slip,tr,ts"


def cone(u, d):
    """Rupture times at 3 km/s from 8 km along strike, 7 km down dip."""
    return math.hypot(u - 8, d - 7) / 3


def plane(u, d):
    """Rupture times a plane in (U, d) keeps exactly."""
    return 0.5 + 0.3 * u + 0.2 * d


def make_fault(folder, segments, times=cone, rigidity=True):
    """planes.csv and points.csv of segments (nstk, ndip, len, wid) end to end: slip 0.5 m with a 2 m patch at
    14 km along strike, 5 km down dip; rise time 1 s there and 0.6 s elsewhere."""
    folder.mkdir(parents=True, exist_ok=True)
    planes = ["elon,elat,nstk,ndip,len,wid,stk,dip,dtop,shyp,dhyp"]
    points = [HEADER + (",vs,den" if rigidity else "")]
    start = 0.0
    for k, (ns, nd, length, width) in enumerate(segments, start=1):
        planes.append(f"140,36,{ns},{nd},{length:g},{width:g},30,45,1,{8 - (start + length / 2):g},7")
        for j in range(nd):
            for i in range(ns):
                u, d = start + (i + 0.5) * length / ns, (j + 0.5) * width / nd
                patch = (u - 14) ** 2 + (d - 5) ** 2 < 16
                points.append(f"{k}-{i}-{j},140,36,{d:g},30,45,90,4e6,{times(u, d):.17g},0.01,100,5,1,"
                              f"{2 if patch else 0.5},{1 if patch else 0.6},{1.5 if patch else 0.9}"
                              + (",3.5,2.7" if rigidity else ""))
        start += length
    (folder / "planes.csv").write_text("\n".join(planes) + "\n")
    (folder / "points.csv").write_text("\n".join(points) + "\n")
    return folder


def make_rate(path):
    """A moment rate of 1e18 sin^2(pi t / 8) N*m/s for 8 s, every 0.05 s: M0 = 4e18 N*m."""
    rows = ["time(s),moment_rate(N*m/s)"]
    rows += [f"{k * 0.05:g},{1e18 * math.sin(math.pi * k * 0.05 / 8) ** 2 if k * 0.05 < 8 else 0:g}"
             for k in range(201)]
    path.write_text("\n".join(rows) + "\n")
    return path


def test_one_segment_with_a_moment_rate(tmp_path):
    make_rate(make_fault(tmp_path, [(12, 6, 24, 12)]) / "moment_rate.csv")
    done = run("plot-rupture", "points.csv", "planes.csv", "moment_rate.csv", cwd=tmp_path)
    out, err = said(done)
    assert done.returncode == 0 and err == "", err
    assert out == f"wrote {tmp_path}/rupture.png and {tmp_path}/moment_rate.png: M0 = 4e+18 N·m, Mw = 6.33\n"
    assert_png(tmp_path / "rupture.png", 1000, 600)
    assert_png(tmp_path / "moment_rate.png", 800, 500)


def test_into_a_folder_and_beside_the_points(tmp_path):
    make_fault(tmp_path / "two", [(10, 5, 30, 15), (8, 3, 24, 9)], rigidity=False)
    (tmp_path / "out").mkdir()
    assert run("plot-rupture", "-o", tmp_path / "out", "two/points.csv", "two/planes.csv", cwd=tmp_path).returncode == 0
    assert os.listdir(tmp_path / "out") == ["rupture.png"]
    assert run("plot-rupture", "two/points.csv", "two/planes.csv", cwd=tmp_path).returncode == 0
    assert_png(tmp_path / "two" / "rupture.png", 1000, 600)


def test_a_single_subfault_has_no_contours(tmp_path):
    fault = plot_rupture.read_fault(np, slipvel, *files(make_fault(tmp_path, [(1, 1, 10, 5)])))
    fig = plot_rupture.draw_fault(np, fault)
    assert fig.fronts == [None, None]


def files(folder):
    return str(folder / "points.csv"), str(folder / "planes.csv")


# name: segments (nstk, ndip, len, wid) end to end
GRIDS = {
    "one segment": [(12, 6, 24, 12)],
    "segments of different subfaults": [(10, 5, 30, 15), (8, 6, 24, 15), (3, 4, 6, 15)],
    "a narrower segment between": [(10, 5, 30, 15), (8, 3, 24, 9), (5, 5, 10, 15)],
    "a one-column segment": [(10, 5, 30, 15), (1, 2, 4, 8), (6, 3, 12, 9)],
}


@pytest.mark.parametrize("name", GRIDS)
def test_one_grid_of_rupture_times_over_the_whole_fault(tmp_path, name):
    segments = GRIDS[name]
    fault = plot_rupture.read_fault(np, slipvel, *files(make_fault(tmp_path, segments, times=plane)))
    u, d, t = plot_rupture.front_grid(np, fault)
    assert u.shape == d.shape == t.shape and min(t.shape) >= 3
    ends = np.cumsum([s[2] for s in segments])
    widths = [s[3] for s in segments]
    for U, D, T in zip(u.ravel(), d.ravel(), t.ravel()):
        k = min(int(np.searchsorted(ends, U - 1e-9)), len(ends) - 1)
        on_join = k + 1 < len(ends) and abs(U - ends[k]) < 1e-9
        below = D > widths[k] + 1e-9 and not (on_join and D <= widths[k + 1] + 1e-9)
        assert np.isnan(T) == below, (U, D, T)
        if not below:
            assert T == pytest.approx(plane(U, D), abs=1e-9), (U, D)


def test_the_programs_heterogeneous_slip_rise_time_and_moment(tmp_path):
    segments = tmp_path / "segments.csv"
    segments.write_text("lon1,lat1,lon2,lat2,dip,wid,dtop,nstk,ndip,rake,slip,vm,tr\n"
                        "-117.60,34.00,-117.35,34.10,75,15,0,30,15,180,1,0.8667,1.5\n"
                        "-117.35,34.10,-117.19,34.20,75,15,0,20,15,170,1,0.8667,1.5\n")
    line = program(RUPTURE, "--segments", segments, "--medium", EXAMPLES / "medium.csv", "--hypocentre", "1:0:9",
                   "--vr-fraction", "0.8", "--mw", "6.8", "--stochastic", "--seed", "7", "--points", "p.csv",
                   "--planes", "q.csv", "--moment-rate", "m.csv", "--quiet", cwd=tmp_path)
    done = run("plot-rupture", "p.csv", "q.csv", "m.csv", cwd=tmp_path)
    out, _ = said(done)
    assert done.returncode == 0
    m0 = float(out.split("M0 = ")[1].split()[0])
    assert m0 == pytest.approx(moment_line(line)[0], rel=2e-3)
    fault = plot_rupture.read_fault(np, slipvel, str(tmp_path / "p.csv"), str(tmp_path / "q.csv"))
    fig = plot_rupture.draw_fault(np, fault)
    points = slipvel.read_points(tmp_path / "p.csv")
    slip_mesh, rise_mesh = (next(c for c in ax.collections if hasattr(c, "get_array")) for ax in fig.panels)
    first = [n for n, name in enumerate(points["id"]) if name.startswith("1-")]
    order = sorted(first, key=lambda n: (int(points["id"][n].split("-")[2]), int(points["id"][n].split("-")[1])))
    assert np.array_equal(np.asarray(slip_mesh.get_array()).ravel(), points["slip"][order])
    assert np.array_equal(np.asarray(rise_mesh.get_array()).ravel(), points["tr"][order])
    assert len(np.unique(points["slip"])) > 100 and all(f is not None for f in fig.fronts)


def test_an_output_link_is_followed_and_stays(tmp_path):
    make_fault(tmp_path, [(4, 2, 8, 4)])
    (tmp_path / "kept.png").write_bytes(b"old")
    (tmp_path / "rupture.png").symlink_to("kept.png")
    assert run("plot-rupture", "points.csv", "planes.csv", cwd=tmp_path).returncode == 0
    assert (tmp_path / "rupture.png").is_symlink()
    assert_png(tmp_path / "kept.png", 1000, 500)


def edit(path, old, new):
    text = path.read_text()
    assert old in text
    path.write_text(text.replace(old, new, 1))


# name: (how the good files are spoilt, arguments, what the refusal says)
REFUSALS = {
    "a missing file": (None, ["nope.csv", "planes.csv"], r"^plot-rupture: nope\.csv: not found$"),
    "a folder as the points": (None, ["sub", "planes.csv"], r"^plot-rupture: sub: is a folder, not a file$"),
    "a foreign points header": (("points.csv", "slip,tr", "slp,tr"), ["points.csv", "planes.csv"],
                                r"points\.csv:1: not a slipvel-rupture points table"),
    "a foreign planes header": (("planes.csv", ",dhyp", ""), ["points.csv", "planes.csv"],
                                r"^plot-rupture: planes\.csv:1: no dhyp column$"),
    "a bad number in the points": (("points.csv", "1-3-2,140,36,", "1-3-2,140,3x6,"), ["points.csv", "planes.csv"],
                                   r"points\.csv:\d+: lat = 3x6: must be a decimal or exponent number"),
    "a foreign moment-rate header": (("moment_rate.csv", "time(s)", "time"),
                                     ["points.csv", "planes.csv", "moment_rate.csv"],
                                     r"^plot-rupture: moment_rate\.csv:1: unknown column \"time\""),
    "a bad id": (("points.csv", "\n1-3-2,", "\n1-3,"), ["points.csv", "planes.csv"],
                 r"points\.csv:\d+: id = \"1-3\": not of the form <segment>-<i>-<j>$"),
    "a segment without a plane": (("points.csv", "\n1-3-2,", "\n2-3-2,"), ["points.csv", "planes.csv"],
                                  r"points\.csv:\d+: id = \"2-3-2\": segment 2 has no row in planes\.csv"),
    "a subfault outside its segment": (("points.csv", "\n1-3-2,", "\n1-30-2,"), ["points.csv", "planes.csv"],
                                       r"id = \"1-30-2\": outside segment 1's 12 x 6 subfaults"),
    "an id twice": (("points.csv", "\n1-3-2,", "\n1-3-1,"), ["points.csv", "planes.csv"],
                    r"points\.csv:\d+: duplicate id \"1-3-1\", first on line \d+"),
    "a subfault twice": (("points.csv", "\n1-3-2,", "\n1-03-1,"), ["points.csv", "planes.csv"],
                         r"id = \"1-03-1\": a second row for this subfault"),
    "a missing folder": (None, ["-o", "nowhere", "points.csv", "planes.csv"],
                         r"^plot-rupture: nowhere: no such folder$"),
    "an unknown option": (None, ["-x", "points.csv", "planes.csv"], r"^plot-rupture: unknown option: -x"),
    "one file": (None, ["points.csv"], r"expected POINTS PLANES \[MOMENT_RATE\]"),
}


@pytest.mark.parametrize("name", REFUSALS)
def test_refusals_name_the_file_and_write_nothing(tmp_path, name):
    spoil, arguments, pattern = REFUSALS[name]
    make_rate(make_fault(tmp_path, [(12, 6, 24, 12)]) / "moment_rate.csv")
    (tmp_path / "sub").mkdir()
    if spoil:
        edit(tmp_path / spoil[0], spoil[1], spoil[2])
    before = snapshot(tmp_path)
    refused(run("plot-rupture", *arguments, cwd=tmp_path), pattern)
    assert snapshot(tmp_path) == before


def test_too_few_subfaults_are_refused(tmp_path):
    make_fault(tmp_path, [(12, 6, 24, 12)])
    lines = (tmp_path / "points.csv").read_text().splitlines()
    (tmp_path / "points.csv").write_text("\n".join(lines[:-1]) + "\n")
    refused(run("plot-rupture", "points.csv", "planes.csv", cwd=tmp_path),
            r"points\.csv: 71 subfaults, the segments of planes\.csv hold 72")
