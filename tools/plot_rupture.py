"""plot-rupture: draws slipvel-rupture's points and planes tables over the
unfolded fault (slip and rise time of every subfault, rupture-time contours
across the segments' joins, the hypocentre), and its moment-rate function.
"""
import math
import os
import re
import sys

import slipvel_plots as sp
from slipvel_plots import Refusal

TOOL = "plot-rupture"
POINTS_HEADER = "id,lon,lat,dep,stk,dip,rake,area,tinit,dt,nt,fmax,vm,slip,tr,ts"
POINTS_HEADERS = (POINTS_HEADER, POINTS_HEADER + ",vs,den")
ID = re.compile(r"([0-9]+)-([0-9]+)-([0-9]+)")
FRONT = "#1f4e9a"
SLIP_COLOURS = ["#fffbe6", "#fde08a", "#f59a3c", "#d43d2a", "#5c0a1a"]
USAGE = """\
Usage: tools/plot-rupture [-o DIR] POINTS PLANES [MOMENT_RATE]
       tools/plot-rupture --help

Draws slipvel-rupture's files as PNG pictures.

  POINTS PLANES  the subfaults and the fault segments -> DIR/rupture.png: over
                 the unfolded fault (along strike against down dip, segments
                 end to end), the slip of each subfault above and its rise
                 time (tr) below, both with rupture-time contours that run on
                 across the segments' joins, the segments' outlines and the
                 hypocentre
  MOMENT_RATE    also the moment-rate function -> DIR/moment_rate.png, with M0
                 and Mw in its title
  -o DIR         write the pictures into DIR (default: the folder of POINTS)

Needs Python 3 with numpy, matplotlib (Debian: python3-numpy,
python3-matplotlib) and the slipvel module; SLIPVEL_PYTHON names the
Python. Writes nothing on any error.
"""


def main(argv):
    """Reads the tables, checks that they make one fault, then draws and writes the pictures."""
    values, files = sp.parse(argv, {"-o": "a folder"}, USAGE)
    if not 2 <= len(files) <= 3:
        raise Refusal("expected POINTS PLANES [MOMENT_RATE] (see --help)")
    points_path, planes_path = files[0], files[1]
    rate_path = files[2] if len(files) == 3 else None
    folder = values.get("-o") or os.path.dirname(points_path) or "."
    np, slipvel = sp.dependencies()
    for path in files:
        sp.readable(path)
    if not os.path.isdir(folder):
        raise Refusal(f"{folder}: no such folder" if not os.path.exists(folder) else f"{folder}: not a folder")
    outputs = [os.path.join(folder, "rupture.png")] + ([os.path.join(folder, "moment_rate.png")] if rate_path else [])
    sp.check_outputs(slipvel, outputs, files)
    fault = read_fault(np, slipvel, points_path, planes_path)
    if rate_path:
        times, rates = sp.read(slipvel, slipvel.read_moment_rate, rate_path)
        m0 = moment_of(np, times, rates, rate_path)
    pictures = [(outputs[0], sp.png_bytes(draw_fault(np, fault)))]
    said = ""
    if rate_path:
        pictures.append((outputs[1], sp.png_bytes(draw_moment_rate(times, rates, m0))))
        said = f": {moment_text(m0)}"
    sp.write_pictures(slipvel, pictures, files)
    print("wrote " + " and ".join(os.path.abspath(path) for path, _ in pictures) + said)


class Segment:
    """One segment of the unfolded fault: where it starts along strike, its size, and its subfaults' values on
    its grid, row j down dip, column i along strike."""

    def __init__(self, np, plane, start):
        self.nstk, self.ndip = int(plane["nstk"]), int(plane["ndip"])
        self.length, self.width = float(plane["len"]), float(plane["wid"])
        self.start = start
        self.du, self.dd = self.length / self.nstk, self.width / self.ndip
        self.tinit = np.full((self.ndip, self.nstk), np.nan)
        self.slip = np.full((self.ndip, self.nstk), np.nan)
        self.rise = np.full((self.ndip, self.nstk), np.nan)


class Fault:
    """The segments end to end, each subfault's values in its place, and the hypocentre (U, d), km."""

    def __init__(self, segments, hypocentre):
        self.segments = segments
        self.length = sum(s.length for s in segments)
        self.width = max(s.width for s in segments)
        self.hypocentre = hypocentre


def read_fault(np, slipvel, points_path, planes_path):
    """The tables, read by the library's readers, and every point id placed on its segment's grid once."""
    header = sp.first_line(points_path)
    if header not in POINTS_HEADERS:
        raise Refusal(f"{points_path}:1: not a slipvel-rupture points table: the header is not {POINTS_HEADER} "
                      f"(with ,vs,den or without)")
    planes = sp.read(slipvel, slipvel.read_planes, planes_path)
    points = sp.read(slipvel, slipvel.read_points, points_path)
    count = len(planes["nstk"])
    if count == 0:
        raise Refusal(f"{planes_path}: no segment")
    segments, start = [], 0.0
    for k in range(count):
        segments.append(Segment(np, {key: planes[key][k] for key in planes}, start))
        start += segments[-1].length
    place_points(np, points, segments, points_path, planes_path)
    hypocentre = (segments[0].length / 2 + float(planes["shyp"][0]), float(planes["dhyp"][0]))
    return Fault(segments, hypocentre)


def place_points(np, points, segments, points_path, planes_path):
    """Puts each row's tinit, slip and tr on its subfault; refuses an id of no subfault, a subfault twice, and a
    table that leaves subfaults out."""
    for n, (name, line) in enumerate(zip(points["id"], points["line"])):
        where = f"{points_path}:{line}: id = \"{name}\""
        found = ID.fullmatch(name)
        if not found:
            raise Refusal(f"{where}: not of the form <segment>-<i>-<j>")
        k, i, j = (int(part) for part in found.groups())
        if not 1 <= k <= len(segments):
            raise Refusal(f"{where}: segment {k} has no row in {planes_path} ({len(segments)} segments)")
        segment = segments[k - 1]
        if i >= segment.nstk or j >= segment.ndip:
            raise Refusal(f"{where}: outside segment {k}'s {segment.nstk} x {segment.ndip} subfaults")
        if not np.isnan(segment.tinit[j, i]):
            raise Refusal(f"{where}: a second row for this subfault")
        segment.tinit[j, i] = points["tinit"][n]
        segment.slip[j, i] = points["slip"][n]
        segment.rise[j, i] = points["tr"][n]
    held = sum(s.nstk * s.ndip for s in segments)
    if len(points["id"]) != held:
        raise Refusal(f"{points_path}: {len(points['id'])} subfaults, the segments of {planes_path} hold {held}")


def moment_of(np, times, rates, path):
    """M0 = the sum of each rate times its step (the rates are the mean over the step that ends at their time)."""
    if len(times) < 2:
        raise Refusal(f"{path}: too few rows to plot")
    steps = np.diff(times, prepend=times[0] - (times[1] - times[0]))
    with np.errstate(over="ignore", invalid="ignore"):
        m0 = float((rates * steps).sum())
    if not math.isfinite(m0):
        raise Refusal(f"{path}: the moment M0 = sum of rate * step is beyond the range of numbers")
    if m0 < 0:
        raise Refusal(f"{path}: the moment M0 = {m0:g} N*m is negative")
    return m0


def moment_text(m0):
    mw = sp.magnitude(m0)
    return f"M0 = {m0:.3g} N·m, Mw = {mw:.2f}" if mw is not None else "M0 = 0 N·m"


# --- Rupture times over the whole unfolded fault ---------------------------------------------------------------------

class Columns:
    """The subfault columns of every segment in order along the fault: their U, reach down dip and times."""

    def __init__(self, np, fault):
        self.u, self.width, self.ndip, self.dd, rows = [], [], [], [], []
        deepest = max(s.ndip for s in fault.segments)
        for s in fault.segments:
            for i in range(s.nstk):
                self.u.append(s.start + (i + 0.5) * s.du)
                self.width.append(s.width)
                self.ndip.append(s.ndip)
                self.dd.append(s.dd)
                rows.append(np.concatenate([s.tinit[:, i], np.full(deepest - s.ndip, np.nan)]))
        self.u, self.width = np.array(self.u), np.array(self.width)
        self.ndip, self.dd = np.array(self.ndip), np.array(self.dd)
        self.times = np.array(rows)
        self.count = len(self.u)

    def reaches(self, np, c, d):
        """Whether column c is there and reaches d down dip."""
        inside = (c >= 0) & (c < self.count)
        return inside & (d <= self.width[np.clip(c, 0, self.count - 1)] * (1 + 1e-12))

    def time(self, np, c, d):
        """Column c's rupture time at d down dip: linear between its two nearest centres, beyond the first and
        last ones too."""
        p = d / self.dd[c] - 0.5
        j = np.clip(np.floor(p), 0, np.maximum(self.ndip[c] - 2, 0)).astype(np.int64)
        upper = np.minimum(j + 1, self.ndip[c] - 1)
        t0, t1 = self.times[c, j], self.times[c, upper]
        return np.where(self.ndip[c] == 1, t0, t0 + (p - j) * (t1 - t0))


def front_grid(np, fault):
    """(U, d, t): rupture times on one regular grid over the whole unfolded fault, nodes half the smallest
    subfault side apart (at most 601 x 301, at least 3 x 3). Between two neighbouring columns, of one segment or
    the last of one and the first of the next, the time is linear along strike (beyond the first and last
    columns too); where only one of them reaches d, linear through that one and the one beyond it, on its side.
    NaN below a segment narrower than the widest (on a join, below both segments)."""
    columns = Columns(np, fault)
    finest = min(min(s.du, s.dd) for s in fault.segments)
    nu = int(min(max(math.ceil(fault.length / (finest / 2) - 1e-6), 2), 600))
    nd = int(min(max(math.ceil(fault.width / (finest / 2) - 1e-6), 2), 300))
    u = np.linspace(0, fault.length, nu + 1)[None, :] * np.ones((nd + 1, 1))
    d = np.linspace(0, fault.width, nd + 1)[:, None] * np.ones((1, nu + 1))
    ends = np.cumsum([s.length for s in fault.segments])
    widths = np.array([s.width for s in fault.segments])
    before = np.minimum(np.searchsorted(ends, u, side="left"), len(ends) - 1)  # on a join: the segment ending there
    after = np.minimum(np.searchsorted(ends, u, side="right"), len(ends) - 1)  # and the one starting there
    c = np.clip(np.searchsorted(columns.u, u, side="left") - 1, 0, max(columns.count - 2, 0))
    a, b = c, c + 1
    first_fails = ~columns.reaches(np, b, d)
    second_fails = ~first_fails & ~columns.reaches(np, a, d)
    a, b = np.where(first_fails, c - 1, np.where(second_fails, c + 1, a)), np.where(
        first_fails, c, np.where(second_fails, c + 2, b))
    a_fails = ~columns.reaches(np, a, d)
    b_fails = ~a_fails & ~columns.reaches(np, b, d)
    a = np.where(a_fails, b, a)
    b = np.where(b_fails, a, b)
    a, b = np.clip(a, 0, columns.count - 1), np.clip(b, 0, columns.count - 1)
    ta, tb = columns.time(np, a, d), columns.time(np, b, d)
    with np.errstate(invalid="ignore", divide="ignore"):
        t = np.where(a == b, ta, ta + (u - columns.u[a]) / (columns.u[b] - columns.u[a]) * (tb - ta))
    below = (d > widths[before] * (1 + 1e-12)) & (d > widths[after] * (1 + 1e-12))
    t = np.where(below, np.nan, t)
    return u, d, t


# --- Pictures --------------------------------------------------------------------------------------------------------

def draw_fault(np, fault):
    """rupture.png: slip above, rise time below, each subfault its own rectangle, with the fronts."""
    sp.matplotlib_agg()
    from matplotlib.colors import LinearSegmentedColormap  # pylint: disable=import-outside-toplevel
    aspect = fault.width / fault.length
    panel = 10.4 * min(max(aspect, 0.15), 0.8) + 1.4
    fig = sp.figure(14, 2 * panel + 1.6)
    slip_cmap = LinearSegmentedColormap.from_list("slip", SLIP_COLOURS)
    grid = front_grid(np, fault)
    panels = (("slip", "slip (m)", slip_cmap, FRONT, "Slip and rupture time over the unfolded fault"),
              ("rise", "rise time tr (s)", "viridis", "white", "Rise time and rupture time over the unfolded fault"))
    fig.fronts, fig.panels = [], []
    for row, (what, label, cmap, colour, title) in enumerate(panels):
        ax = fig.add_subplot(2, 1, row + 1)
        fig.fronts.append(draw_panel(np, fig, ax, fault, (what, label, cmap), grid, colour, aspect))
        fig.panels.append(ax)
        ax.set_title(title)
    legend(ax, fig.fronts[0])
    return fig


def draw_panel(np, fig, ax, fault, colouring, grid, colour, aspect):
    """One panel: the subfaults coloured, the segments' outlines, the contours and the hypocentre."""
    what, label, cmap = colouring
    values = [getattr(s, what) for s in fault.segments]
    low = 0.0 if what == "slip" else min(float(np.nanmin(v)) for v in values)
    high = max(float(np.nanmax(v)) for v in values)
    high = high if high > low else low + 1.0
    ax.set_facecolor("#d0d0d0")  # where no segment reaches, so that zero slip (near white) stands apart
    for s, v in zip(fault.segments, values):
        edges_u = s.start + np.arange(s.nstk + 1) * s.du
        edges_d = np.arange(s.ndip + 1) * s.dd
        mesh = ax.pcolormesh(edges_u, edges_d, v, cmap=cmap, vmin=low, vmax=high, shading="flat")
        ax.plot([s.start, s.start + s.length, s.start + s.length, s.start, s.start], [0, 0, s.width, s.width, 0],
                color="black", lw=1.5)
    fig.colorbar(mesh, ax=ax, label=label, shrink=0.9)
    u, d, t = grid
    levels, step = sp.contour_levels(float(np.nanmin(t)), float(np.nanmax(t)))
    fronts = None
    if levels:
        fronts = ax.contour(u, d, np.ma.masked_invalid(t), levels=levels, colors=colour, linewidths=1.2)
        ax.clabel(fronts, fmt="%g", fontsize=10, inline=True)
        fronts.step = step
    ax.plot([fault.hypocentre[0]], [fault.hypocentre[1]], "*", ms=20, mfc="#00a050", mec="black", mew=1.2)
    ax.set_xlim(0, fault.length)
    ax.set_ylim(fault.width, 0)
    if 0.15 <= aspect <= 0.8:
        ax.set_aspect("equal")
    ax.set_xlabel("along strike (km)")
    ax.set_ylabel("down dip (km)")
    return fronts


def legend(ax, fronts):
    """The legend under the lower panel: segments, contours, hypocentre."""
    from matplotlib.lines import Line2D  # pylint: disable=import-outside-toplevel
    handles = [Line2D([], [], color="black", lw=1.5, label="segments")]
    if fronts is not None:
        handles.append(Line2D([], [], color=FRONT, lw=1.2, label=f"rupture time (s), every {fronts.step:g} s"))
    handles.append(Line2D([], [], ls="none", marker="*", ms=14, mfc="#00a050", mec="black", label="hypocentre"))
    ax.legend(handles=handles, loc="upper center", bbox_to_anchor=(0.5, -0.14), ncol=len(handles), frameon=False)


def draw_moment_rate(times, rates, m0):
    """moment_rate.png: the moment rate against time, M0 and Mw in the title."""
    fig = sp.figure(10, 6)
    ax = fig.add_subplot()
    ax.plot(times, rates, color=FRONT, lw=1.3)
    ax.set_title(f"Moment rate: {moment_text(m0)}")
    ax.set_xlabel("time (s)")
    ax.set_ylabel("moment rate (N·m/s)")
    ax.set_xlim(float(times[0]), float(times[-1]))
    ax.set_ylim(0, float(rates.max()) * 1.05 if rates.max() > 0 else 1)
    ax.ticklabel_format(axis="y", style="sci", scilimits=(0, 0))
    ax.grid(True, color="#dddddd")
    return fig


if __name__ == "__main__":
    sys.exit(sp.run(TOOL, main))
