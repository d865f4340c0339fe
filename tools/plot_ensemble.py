"""plot-ensemble: draws what the realisations of a stochastic rupture share:
the average slip spectrum along strike and down dip against the von Kármán
shape they were drawn from, and the moment-rate spectra against an
omega-squared (Brune) source of the same moment.
"""
import math
import os
import re
import sys

import slipvel_plots as sp
from slipvel_plots import Refusal

TOOL = "plot-ensemble"
POINTS_HEADER = "id,lon,lat,dep,stk,dip,rake,area,tinit,dt,nt,fmax,vm,slip,tr,ts"
POINTS_HEADERS = (POINTS_HEADER, POINTS_HEADER + ",vs,den")
RATE_HEADER = "time(s),moment_rate(N*m/s)"
ID = re.compile(r"([0-9]+)-([0-9]+)-([0-9]+)")
DEFAULT_RIGIDITY = 3.6288e10
DEFAULT_HURST = 0.75
KM_NORTH = 111.195
FEWEST = 4  # subfaults a row or column needs for a spectrum
COLOURS = ["#1f4e9a", "#b03030", "#2a8a3a", "#d08a1a", "#6a3d9a", "#1a9a9a"]
USAGE = """\
Usage: tools/plot-ensemble [-o OUT.png] [--correlation AX:AZ] [--hurst H] [--mw MW]
                           [--rigidity PA] POINTS... [MOMENT_RATE...]
       tools/plot-ensemble --help

Draws the realisations of a stochastic rupture (slipvel-rupture --stochastic
--realisations N --points p.csv [--moment-rate m.csv]: p-0000.csv, ...) as one
PNG picture, by default ensemble.png beside the first points table. Each file
is taken for what its header says it is: a points table or a moment-rate file.

  above  the slip spectra: the power spectrum of the slip along each row
         (along strike) and each column (down dip) of each segment's grid of
         subfaults, averaged over the rows or columns and the realisations,
         against wavenumber (rad/km), log-log, with the target von Karman
         shape (1 + k^2 a^2)^-(H + 1/2) of each direction scaled to them
  below  (with moment-rate files) the amplitude spectrum |FFT| * dt of each
         realisation's moment rate and their mean, against an omega-squared
         (Brune) source M0 / (1 + (f / fc)^2) of their mean M0, fc fitted

  --correlation AX:AZ  the target's correlation lengths along strike and down
                       dip (km); default from Mw as slipvel-rupture's:
                       log10 ax = 0.5 Mw - 2.5, log10 az = 0.33 Mw - 1.5
  --hurst H            the target's Hurst exponent, 0 < H <= 1 (default 0.75)
  --mw MW              Mw for the default correlation lengths (default: that
                       of the realisations' mean moment)
  --rigidity PA        mu (Pa) for the moment of points without vs and den
                       (default 3.6288e10)
  -o OUT.png           the picture

The points tables must be of one fault: the same subfaults in the same order.
Needs Python 3 with numpy, matplotlib (Debian: python3-numpy,
python3-matplotlib) and the slipvel module; SLIPVEL_PYTHON names the
Python. Writes nothing on any error.
"""
OPTIONS = {"-o": "OUT.png", "--correlation": "AX:AZ", "--hurst": "H", "--mw": "MW", "--rigidity": "PA"}


def main(argv):
    """Sorts the files by their headers, reads them, checks them, then draws and writes the picture."""
    values, files = sp.parse(argv, OPTIONS, USAGE)
    target = target_options(values)
    if not files:
        raise Refusal("expected POINTS... [MOMENT_RATE...] (see --help)")
    np, slipvel = sp.dependencies()
    for path in files:
        sp.readable(path)
    points_files, rate_files = sort_files(files)
    out = values.get("-o") or os.path.join(os.path.dirname(points_files[0]), "ensemble.png")
    sp.check_outputs(slipvel, [out], files)
    ensemble = Ensemble(np, slipvel, points_files, target["rigidity"])
    rates = [sp.read(slipvel, slipvel.read_moment_rate, path) + (path,) for path in rate_files]
    mw = target["mw"] if target["mw"] is not None else sp.magnitude(ensemble.mean_moment)
    if target["correlation"] is None and mw is None:
        raise Refusal("the realisations have no moment, so no Mw for the correlation lengths: give --correlation "
                      "or --mw")
    correlation = target["correlation"] or (10 ** (0.5 * mw - 2.5), 10 ** (0.33 * mw - 1.5))
    fig = draw(np, ensemble, rates, correlation, target["hurst"], mw)
    sp.write_pictures(slipvel, [(out, sp.png_bytes(fig))], files)
    print(f"wrote {os.path.abspath(out)}: {fig.title_text}")


def target_options(values):
    """The target's options as numbers, each by its rule."""
    correlation = None
    if "--correlation" in values:
        parts = values["--correlation"].split(":")
        if len(parts) != 2:
            raise Refusal(f"--correlation {values['--correlation']}: must be AX:AZ (km), two numbers > 0")
        correlation = tuple(sp.number("--correlation", p, "a number > 0 (km)", lambda v: v > 0) for p in parts)
    hurst = DEFAULT_HURST
    if "--hurst" in values:
        hurst = sp.number("--hurst", values["--hurst"], "within 0 < H <= 1", lambda v: 0 < v <= 1)
    mw = None
    if "--mw" in values:
        mw = sp.number("--mw", values["--mw"], "a number within -2 to 10", lambda v: -2 <= v <= 10)
    rigidity = DEFAULT_RIGIDITY
    if "--rigidity" in values:
        rigidity = sp.number("--rigidity", values["--rigidity"], "a number > 0 (Pa)", lambda v: v > 0)
    return {"correlation": correlation, "hurst": hurst, "mw": mw, "rigidity": rigidity}


def sort_files(files):
    """(points tables, moment-rate files), by each file's header."""
    points, rates = [], []
    for path in files:
        header = sp.first_line(path)
        if header in POINTS_HEADERS:
            points.append(path)
        elif header == RATE_HEADER:
            rates.append(path)
        else:
            raise Refusal(f"{path}:1: neither a points table nor a moment-rate file of slipvel-rupture (the header "
                          f"is neither {POINTS_HEADER} nor {RATE_HEADER})")
    if not points:
        raise Refusal("no points table among the files: give the realisations' points tables (p-0000.csv ...)")
    if len(set(map(os.path.realpath, files))) < len(files):
        raise Refusal("a file is given twice")
    return points, rates


class Segment:
    """One segment's grid of subfaults: its size, the spacing of its centres along strike and down dip (km),
    and each realisation's slip on it (row j down dip, column i along strike)."""

    def __init__(self, number, nstk, ndip):
        self.number, self.nstk, self.ndip = number, nstk, ndip
        self.du = self.dd = 0.0
        self.slips = []


class Ensemble:
    """The realisations' points tables, checked to be of one fault, laid on each segment's grid."""

    def __init__(self, np, slipvel, paths, rigidity):
        self.paths = paths
        tables = [sp.read(slipvel, slipvel.read_points, path) for path in paths]
        first = tables[0]
        for path, table in zip(paths[1:], tables[1:]):
            same_fault(first, table, paths[0], path)
        self.segments, where = grid_of(np, first, paths[0])
        spacing(np, self.segments, where, first)
        moments = []
        for table in tables:
            for segment, (rows, columns, members) in zip(self.segments, where):
                slip = np.zeros((segment.ndip, segment.nstk))
                slip[rows, columns] = table["slip"][members]
                segment.slips.append(slip)
            mu = np.where(np.isnan(table["vs"]) | np.isnan(table["den"]), rigidity, table["den"] * table["vs"] ** 2)
            moments.append(float((mu * table["area"] * table["slip"]).sum()))
        self.mean_moment = float(np.mean(moments))
        if not math.isfinite(self.mean_moment):
            raise Refusal(f"{paths[0]}: the realisations' moments are beyond the range of numbers")


def same_fault(first, other, first_path, path):
    """Refuses a table of another fault than the first: its ids not the first's, row by row."""
    if len(other["id"]) != len(first["id"]):
        raise Refusal(f"{path} and {first_path} are tables of different faults: {len(other['id'])} subfaults "
                      f"against {len(first['id'])}")
    for mine, theirs, line, their_line in zip(other["id"], first["id"], other["line"], first["line"]):
        if mine != theirs:
            raise Refusal(f"{path} and {first_path} are tables of different faults: {path}:{line} is subfault "
                          f"{mine}, {first_path}:{their_line} is {theirs}")


def grid_of(np, table, path):
    """Each segment's grid from the ids <segment>-<i>-<j>, which must fill it once: (segments, and for each
    segment its rows' j, i and places in the table)."""
    parts = []
    for name, line in zip(table["id"], table["line"]):
        found = ID.fullmatch(name)
        if not found or int(found.group(1)) < 1:
            raise Refusal(f"{path}:{line}: id = \"{name}\": not of the form <segment>-<i>-<j> (segments from 1)")
        parts.append(tuple(int(p) for p in found.groups()))
    parts = np.array(parts, dtype=np.int64)
    segments, where = [], []
    for number in np.unique(parts[:, 0]):
        members = np.flatnonzero(parts[:, 0] == number)
        i, j = parts[members, 1], parts[members, 2]
        segment = Segment(int(number), int(i.max()) + 1, int(j.max()) + 1)
        filled = np.zeros((segment.ndip, segment.nstk), dtype=np.int64)
        np.add.at(filled, (j, i), 1)
        if (filled != 1).any():
            jj, ii = np.argwhere(filled != 1)[0]
            kind = "missing" if filled[jj, ii] == 0 else "there twice"
            raise Refusal(f"{path}: segment {number}'s subfaults do not fill its {segment.nstk} x {segment.ndip} grid: "
                          f"{number}-{ii}-{jj} is {kind}")
        segments.append(segment)
        where.append((j, i, members))
    return segments, where


def spacing(np, segments, where, table):
    """Each segment's spacing along strike and down dip: the median distance between neighbouring centres."""
    lat0 = float(np.median(table["lat"]))
    x = (table["lon"] - float(np.median(table["lon"]))) * KM_NORTH * math.cos(math.radians(lat0))
    y = (table["lat"] - lat0) * KM_NORTH
    position = np.stack([x, y, table["dep"]], axis=-1)
    for segment, (rows, columns, members) in zip(segments, where):
        grid = np.full((segment.ndip, segment.nstk, 3), np.nan)
        grid[rows, columns] = position[members]
        along = np.linalg.norm(np.diff(grid, axis=1), axis=-1)
        down = np.linalg.norm(np.diff(grid, axis=0), axis=-1)
        segment.du = float(np.median(along)) if along.size else 0.0
        segment.dd = float(np.median(down)) if down.size else 0.0


def power_spectrum(np, rows, step):
    """(wavenumbers rad/km, mean power) of the rows of a 2-D array: |FFT(row - its mean)|^2 * step / N at
    k = 2 pi m / (N step), m = 1 .. N / 2, averaged over the rows."""
    n = rows.shape[-1]
    centred = rows - rows.mean(axis=-1, keepdims=True)
    power = np.abs(np.fft.rfft(centred, axis=-1)) ** 2 * step / n
    k = 2 * np.pi * np.fft.rfftfreq(n, d=step)
    return k[1:], power.reshape(-1, power.shape[-1])[:, 1:].mean(axis=0)


def slip_spectra(np, segment):
    """The segment's mean spectra along strike and down dip over its realisations, or None where too short."""
    slips = np.array(segment.slips)  # realisation, j, i
    along = power_spectrum(np, slips.reshape(-1, segment.nstk), segment.du) \
        if segment.nstk >= FEWEST and segment.du > 0 else None
    down = power_spectrum(np, np.swapaxes(slips, 1, 2).reshape(-1, segment.ndip), segment.dd) \
        if segment.ndip >= FEWEST and segment.dd > 0 else None
    return along, down


def von_karman(np, k, a, hurst):
    """The 1-D spectrum's shape of a 2-D von Kármán field: (1 + k^2 a^2)^-(H + 1/2)."""
    return (1 + (k * a) ** 2) ** -(hurst + 0.5)


def scaled_to(np, shape, measured):
    """The shape scaled so that its mean logarithm is the measured spectrum's, over the wavenumbers of both."""
    good = measured > 0
    if not good.any():
        return None
    return shape * math.exp(float(np.mean(np.log(measured[good]) - np.log(shape[good]))))


def rate_spectrum(np, times, rates, path):
    """(frequencies Hz, |FFT| * dt) of a moment-rate function of evenly spaced times, padded to twice the
    next power of two."""
    if len(times) < FEWEST:
        raise Refusal(f"{path}: too few rows for a spectrum ({len(times)})")
    steps = np.diff(times)
    dt = float(steps.mean())
    if not np.allclose(steps, dt, rtol=1e-6, atol=0):
        raise Refusal(f"{path}: the times are not evenly spaced (steps from {steps.min():g} to {steps.max():g} s)")
    n = 2 ** int(math.ceil(math.log2(len(rates)))) * 2
    amplitude = np.abs(np.fft.rfft(rates, n=n)) * dt
    return np.fft.rfftfreq(n, d=dt), amplitude, float(rates.sum() * dt)


def brune_fit(np, f, amplitude, m0):
    """The corner frequency fc (Hz) of M0 / (1 + (f / fc)^2) nearest the amplitude in log, on frequencies evenly
    spaced in log from the first above 0 to 5 Hz (below the sources' highest frequencies) or half the Nyquist."""
    top = min(float(f[-1]) / 2, 5.0)
    if m0 <= 0 or len(f) < 3 or not f[1] < top:
        return None
    even = np.logspace(math.log10(f[1]), math.log10(top), 80)
    level = np.interp(even, f, np.log(np.maximum(amplitude, 1e-300)))
    corners = np.logspace(math.log10(f[1]) - 1, math.log10(top) + 1, 800)
    model = math.log(m0) - np.log1p((even[None, :] / corners[:, None]) ** 2)
    misfit = ((level[None, :] - model) ** 2).sum(axis=1)
    return float(corners[int(np.argmin(misfit))])


def draw(np, ensemble, rates, correlation, hurst, mw):
    """The picture: slip spectra above, moment-rate spectra below (with moment-rate files)."""
    fig = sp.figure(12, 13 if rates else 7)
    axes = fig.subplots(2 if rates else 1, 1, squeeze=False)[:, 0]
    drawn = draw_slip_spectra(np, axes[0], ensemble, correlation, hurst)
    if not drawn:
        raise Refusal(f"{ensemble.paths[0]}: no segment has {FEWEST} subfaults along strike or down dip, too few "
                      f"for a spectrum")
    if rates:
        draw_rate_spectra(np, axes[1], rates)
    count = len(ensemble.paths)
    first, last = (os.path.basename(p) for p in (ensemble.paths[0], ensemble.paths[-1]))
    names = first if count == 1 else f"{first} … {last}"
    magnitude = f"Mw {mw:.2f}, " if mw is not None else ""
    fig.title_text = (f"Ensemble of {count} realisation{'s' if count != 1 else ''} ({names}): {magnitude}target von "
                      f"Kármán ax = {correlation[0]:.3g} km, az = {correlation[1]:.3g} km, H = {hurst:g}")
    fig.suptitle(fig.title_text)
    return fig


def draw_slip_spectra(np, ax, ensemble, correlation, hurst):
    """Each segment's mean slip spectra along strike (solid) and down dip (dashed), and the targets (grey)."""
    drawn = 0
    for n, segment in enumerate(ensemble.segments):
        colour = COLOURS[n % len(COLOURS)]
        along, down = slip_spectra(np, segment)
        for spectrum, a, style, what, size, step in (
                (along, correlation[0], "-", "along strike", segment.nstk, segment.du),
                (down, correlation[1], "--", "down dip", segment.ndip, segment.dd)):
            if spectrum is None:
                continue
            k, power = spectrum
            ax.loglog(k, power, style, color=colour, lw=1.6,
                      label=f"segment {segment.number} {what} ({size} subfaults of {step:.3g} km)")
            target = scaled_to(np, von_karman(np, k, a, hurst), power)
            if target is not None:
                ax.loglog(k, target, style, color="#777777", lw=1.0)
            drawn += 1
    ax.plot([], [], "-", color="#777777", lw=1.0,
            label=f"target (1 + k²a²)^-(H+1/2), a = {correlation[0]:.3g} km along strike (solid), "
                  f"{correlation[1]:.3g} km down dip (dashed)")
    from matplotlib.ticker import FormatStrFormatter, LogLocator  # pylint: disable=import-outside-toplevel
    ax.xaxis.set_major_locator(LogLocator(subs=(1, 2, 5)))
    ax.xaxis.set_major_formatter(FormatStrFormatter("%g"))
    ax.set_xlabel("wavenumber k (rad/km)")
    ax.set_ylabel("slip power spectrum (m²·km)")
    ax.set_title(f"Slip spectra: the power along each row (strike) or column (dip) of a segment, averaged over them "
                 f"and the {len(ensemble.paths)} realisations")
    ax.grid(True, which="major", color="#dddddd")
    ax.legend(loc="lower left", fontsize=9)
    return drawn


def draw_rate_spectra(np, ax, rates):
    """Each realisation's moment-rate spectrum (thin), their mean (thick) and the Brune source of their M0."""
    spectra = [rate_spectrum(np, times, values, path) for times, values, path in rates]
    length = min(len(f) for f, _, _ in spectra)
    f = spectra[0][0][:length]
    for n, (freq, amplitude, _) in enumerate(spectra):
        ax.loglog(freq[1:], amplitude[1:], color="#9ab0d8", lw=0.8, label="each realisation" if n == 0 else None)
    same = all(np.allclose(s[0][:length], f) for s in spectra)
    m0 = float(np.mean([s[2] for s in spectra]))
    if same:
        mean = np.exp(np.mean([np.log(np.maximum(s[1][:length], 1e-300)) for s in spectra], axis=0))
        ax.loglog(f[1:], mean[1:], color="#1f4e9a", lw=1.8, label="their geometric mean")
        fc = brune_fit(np, f, mean, m0)
        if fc is not None:
            ax.loglog(f[1:], m0 / (1 + (f[1:] / fc) ** 2), color="#b03030", lw=1.4,
                      label=f"ω⁻² (Brune): M0 = {m0:.3g} N·m, fc = {fc:.3g} Hz (fitted)")
    ax.set_xlabel("frequency (Hz)")
    ax.set_ylabel("moment-rate spectrum |FFT|·dt (N·m)")
    ax.set_title(f"Moment-rate spectra of {len(spectra)} realisation{'s' if len(spectra) != 1 else ''}")
    ax.grid(True, which="major", color="#dddddd")
    ax.legend(loc="lower left", fontsize=9)


if __name__ == "__main__":
    sys.exit(sp.run(TOOL, main))
