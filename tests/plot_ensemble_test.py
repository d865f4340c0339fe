"""tools/plot-ensemble on a small stochastic rupture's realisations, on
hand-made fields of known spectra, and on files it must refuse, each run
bounded in time."""
import glob
import math
import os

import numpy as np
import pytest

from plot_tools import EXAMPLES, RUPTURE, assert_png, moment_line, program, refused, run, said, snapshot

import plot_ensemble  # noqa: E402  (tools/, on the path through plot_tools)
import slipvel  # noqa: E402

HEADER = "id,lon,lat,dep,stk,dip,rake,area,tinit,dt,nt,fmax,vm,slip,tr,ts,vs,den"
# Two vertical segments of 30 x 15 and 20 x 15 subfaults of 1 km, by their trace, vm * tr / slip = 1.3.
SEGMENTS = ("lon1,lat1,lon2,lat2,dip,wid,dtop,nstk,ndip,rake,slip,vm,tr\n"
            "-117.6,34.0,-117.3182,34.1349,90,15,0,30,15,180,1,0.8667,1.5\n"
            "-117.3182,34.1349,-117.1081,34.1815,90,15,0,20,15,175,1,0.8667,1.5\n")


@pytest.fixture(name="realisations", scope="module")
def fixture_realisations(tmp_path_factory):
    """Four realisations of a small stochastic rupture: p-000K.csv, m-000K.csv, and the program's moment lines."""
    root = tmp_path_factory.mktemp("ensemble")
    (root / "segments.csv").write_text(SEGMENTS)
    said_lines = program(RUPTURE, "--segments", "segments.csv", "--medium", EXAMPLES / "medium.csv",
                         "--random-hypocentre", "--vr-fraction", "0.8", "--mw", "6.8", "--stochastic", "--seed",
                         "20261210", "--realisations", "4", "--points", "p.csv", "--moment-rate", "m.csv",
                         "--quiet", cwd=root)
    return root, [moment_line(line) for line in said_lines.splitlines() if "M0_Nm=" in line]


def test_the_realisations_are_drawn_with_their_moment(realisations):
    root, moments = realisations
    done = run("plot-ensemble", *sorted(glob.glob("p-*.csv", root_dir=root)),
               *sorted(glob.glob("m-*.csv", root_dir=root)), cwd=root)
    out, err = said(done)
    assert done.returncode == 0 and err == "", err
    assert out == (f"wrote {root}/ensemble.png: Ensemble of 4 realisations (p-0000.csv … p-0003.csv): Mw 6.80, "
                   f"target von Kármán ax = 7.94 km, az = 5.54 km, H = 0.75\n")
    assert_png(root / "ensemble.png", 1000, 1000)
    rates = [slipvel.read_moment_rate(root / f"m-000{k}.csv") for k in range(4)]
    for (times, values), (m0, _) in zip(rates, moments):
        f, amplitude, moment = plot_ensemble.rate_spectrum(np, times, values, "m")
        assert amplitude[0] == pytest.approx(m0, rel=2e-3) and moment == pytest.approx(m0, rel=2e-3)


def test_the_slip_spectra_fall_off_and_the_targets_follow_the_options(realisations):
    root, _ = realisations
    paths = [str(root / f"p-000{k}.csv") for k in range(4)]
    ensemble = plot_ensemble.Ensemble(np, slipvel, paths, plot_ensemble.DEFAULT_RIGIDITY)
    assert [(s.nstk, s.ndip) for s in ensemble.segments] == [(30, 15), (20, 15)]
    assert [len(s.slips) for s in ensemble.segments] == [4, 4]
    for segment in ensemble.segments:
        assert segment.du == pytest.approx(1, abs=0.01) and segment.dd == pytest.approx(1, abs=1e-6)
        for k, power in plot_ensemble.slip_spectra(np, segment):
            assert k[0] == pytest.approx(2 * math.pi / (len(k) * 2 * segment.du), rel=0.1)
            assert power[:3].mean() > 10 * power[-3:].mean()
    fig = plot_ensemble.draw(np, ensemble, [], (3.0, 2.0), 0.5, None)
    grey = [line for line in fig.axes[0].get_lines() if line.get_color() == "#777777" and len(line.get_xdata())]
    k, target = grey[0].get_xdata(), grey[0].get_ydata()
    slope = np.polyfit(np.log(k[k > 2]), np.log(target[k > 2]), 1)[0]
    assert slope == pytest.approx(-(2 * 0.5 + 1), abs=0.15)
    assert "ax = 3 km, az = 2 km, H = 0.5" in fig.title_text


def sine_table(path, amplitude_along=0.5, amplitude_down=0.3, nstk=32, ndip=16, du=0.5):
    """A vertical segment along the equator of nstk x ndip subfaults du km apart: slip 1 + a sin(2 pi x / 4 km)
    + b sin(2 pi d / 2 km)."""
    rows = [HEADER]
    for j in range(ndip):
        for i in range(nstk):
            x, d = (i + 0.5) * du, (j + 0.5) * du
            slip = 1 + amplitude_along * math.sin(2 * math.pi * x / 4) + amplitude_down * math.sin(2 * math.pi * d / 2)
            rows.append(f"1-{i}-{j},{10 + x / 111.195:.9f},0,{d:g},90,90,0,{du * du * 1e6:g},0,0.01,128,6,1,"
                        f"{slip:.12g},0.5,0.75,3000,2500")
    path.write_text("\n".join(rows) + "\n")
    return str(path)


def test_a_sine_shows_at_its_wavenumber_with_its_power(tmp_path):
    ensemble = plot_ensemble.Ensemble(np, slipvel, [sine_table(tmp_path / "s.csv")], 3e10)
    (k_along, along), (k_down, down) = plot_ensemble.slip_spectra(np, ensemble.segments[0])
    # A sine of amplitude A over N samples dx apart: power A^2 N dx / 4 at its wavenumber, 0 elsewhere.
    assert k_along[np.argmax(along)] == pytest.approx(2 * math.pi / 4)
    assert along.max() == pytest.approx(0.5 ** 2 * 32 * 0.5 / 4, rel=1e-6)
    assert k_down[np.argmax(down)] == pytest.approx(2 * math.pi / 2)
    assert down.max() == pytest.approx(0.3 ** 2 * 16 * 0.5 / 4, rel=1e-6)
    assert np.sort(along)[-2] < 1e-12 * along.max()


def test_a_brune_source_gives_back_its_corner():
    fc, m0, dt = 0.2, 1e19, 0.01
    times = np.arange(0, 80, dt)
    rates = m0 * (2 * math.pi * fc) ** 2 * times * np.exp(-2 * math.pi * fc * times)
    f, amplitude, moment = plot_ensemble.rate_spectrum(np, times, rates, "m.csv")
    assert moment == pytest.approx(m0, rel=1e-3)
    assert plot_ensemble.brune_fit(np, f, amplitude, moment) == pytest.approx(fc, rel=0.05)


def edit_line(path, number, old, new):
    lines = path.read_text().splitlines()
    assert old in lines[number - 1]
    lines[number - 1] = lines[number - 1].replace(old, new, 1)
    path.write_text("\n".join(lines) + "\n")


# name: (what is done to the folder of two sine tables and a moment-rate file, arguments, the refusal)
REFUSALS = {
    "tables of different faults": (lambda f: edit_line(f / "b.csv", 6, "1-4-0,", "1-40-0,"), ["a.csv", "b.csv"],
                                   r"^plot-ensemble: b\.csv and a\.csv are tables of different faults: b\.csv:6 is "
                                   r"subfault 1-40-0, a\.csv:6 is 1-4-0$"),
    "tables of different sizes": (lambda f: sine_table(f / "b.csv", nstk=30), ["a.csv", "b.csv"],
                                  r"b\.csv and a\.csv are tables of different faults: 480 subfaults against 512"),
    "a grid with a hole": (lambda f: edit_line(f / "a.csv", 6, "1-4-0,", "2-4-0,"), ["a.csv"],
                           r"a\.csv: segment 1's subfaults do not fill its 32 x 16 grid: 1-4-0 is missing"),
    "a file of neither kind": (lambda f: (f / "x.csv").write_text("a,b\n1,2\n"), ["a.csv", "x.csv"],
                               r"x\.csv:1: neither a points table nor a moment-rate file"),
    "no points table": (None, ["m.csv"], r"no points table among the files"),
    "a file twice": (None, ["a.csv", "./a.csv"], r"a file is given twice"),
    "uneven times": (lambda f: edit_line(f / "m.csv", 4, "0.02,", "0.025,"), ["a.csv", "m.csv"],
                     r"m\.csv: the times are not evenly spaced"),
    "a Hurst exponent above 1": (None, ["--hurst", "1.5", "a.csv"], r"--hurst 1\.5: must be within 0 < H <= 1"),
    "one correlation length": (None, ["--correlation", "3", "a.csv"], r"--correlation 3: must be AX:AZ \(km\)"),
    "a correlation length of 0": (None, ["--correlation", "0:1", "a.csv"], r"--correlation 0: must be a number > 0"),
    "an Mw that is no number": (None, ["--mw", "big", "a.csv"], r"--mw big: not a number"),
    "too few subfaults": (lambda f: sine_table(f / "a.csv", nstk=3, ndip=3), ["a.csv"],
                          r"no segment has 4 subfaults along strike or down dip"),
    "a missing table": (None, ["nope.csv"], r"^plot-ensemble: nope\.csv: not found$"),
}


@pytest.mark.parametrize("name", REFUSALS)
def test_refusals_name_the_files_and_write_nothing(tmp_path, name):
    change, arguments, pattern = REFUSALS[name]
    sine_table(tmp_path / "a.csv")
    sine_table(tmp_path / "b.csv", amplitude_along=0.4)
    (tmp_path / "m.csv").write_text("time(s),moment_rate(N*m/s)\n" + "".join(
        f"{k / 100:g},{1e17 * math.sin(math.pi * k / 100) ** 2:g}\n" for k in range(101)))
    if change:
        change(tmp_path)
    before = snapshot(tmp_path)
    refused(run("plot-ensemble", *arguments, cwd=tmp_path), pattern)
    assert snapshot(tmp_path) == before


def test_one_table_and_an_output_of_its_own(tmp_path):
    sine_table(tmp_path / "a.csv")
    (tmp_path / "pictures").mkdir()
    done = run("plot-ensemble", "--mw", "6", "-o", "pictures/one.png", "a.csv", cwd=tmp_path)
    out, err = said(done)
    assert done.returncode == 0 and err == "", err
    assert "Ensemble of 1 realisation (a.csv): Mw 6.00, target von Kármán ax = 3.16 km, az = 3.02 km" in out
    assert_png(tmp_path / "pictures" / "one.png", 1000, 600)
    assert sorted(os.listdir(tmp_path)) == ["a.csv", "pictures"]
