"""plot-srf: draws a Standard Rupture Format (SRF) file as one PNG picture.

A fault that dips 60 degrees or less is drawn in map view; a steeper one
(most strike-slip faults are vertical, a line on a map) in its planes, along
strike against down dip. Below either, the moment-rate function summed from
the samples.
"""
import math
import os
import sys

import slipvel_plots as sp
from slipvel_plots import Refusal

TOOL = "plot-srf"
DEFAULT_RIGIDITY = 3.6288e10
STEEP = 60.0  # degrees: a fault with a plane steeper than this is drawn in its planes
KM_NORTH = 111.195  # km a degree of latitude
SLIP_COLOURS = ["#fffbe6", "#fde08a", "#f59a3c", "#d43d2a", "#5c0a1a"]
FRONT = "#1f4e9a"
USAGE = """\
Usage: tools/plot-srf FILE.srf [OUT.png] [--rigidity PA]
       tools/plot-srf --help

Draws an SRF file (version 1.0 or 2.0, from slipvel or any other writer) as
one PNG picture, by default FILE with .png for .srf; FILE - reads standard
input (then OUT.png is needed):

  above  a fault whose planes dip 60 degrees or less, in map view: each
         point's patch seen from above (longitude, latitude, km square),
         coloured by its total slip sqrt(slip1^2 + slip2^2 + slip3^2);
         rupture-time (tinit) contours; the epicentre (the point of least
         tinit); the outlines of the PLANE block's planes, if any.
         A steeper fault, in its planes (along strike against down dip, the
         planes end to end: the PLANE block's, else found from the points'
         positions, strike and dip): the slip, and below it the rise time
         (how long each point's slip rate is non-zero), both with the tinit
         contours and the hypocentre
  below  the moment-rate function: the sum over the points of
         mu * area * slip rate, each point's samples dt apart from its tinit
         (on at most 200000 steps: a longer span is drawn on coarser steps,
         the moment kept); M0 and Mw = (2/3)(log10 M0 - 9.1) in the title

  --rigidity PA  mu (Pa) for a version 1.0 file (default 3.6288e10); a 2.0
                 file gives each point's own, den * vs^2

Prints "wrote OUT: TITLE". Needs Python 3 with numpy, matplotlib (Debian:
python3-numpy, python3-matplotlib) and the slipvel module; SLIPVEL_PYTHON
names the Python. A file that breaks the format is refused with its line;
nothing is written on any error, and an output that is a folder, a FIFO or a
device is refused.
"""


def main(argv):
    """Reads the arguments and the file, then draws and writes the picture."""
    values, files = sp.parse(argv, {"--rigidity": "PA"}, USAGE)
    if not 1 <= len(files) <= 2:
        raise Refusal("expected FILE.srf [OUT.png] (see --help)")
    path = files[0]
    out = files[1] if len(files) == 2 else default_output(path)
    rigidity = None
    if "--rigidity" in values:
        rigidity = sp.number("--rigidity", values["--rigidity"], "a number > 0 (Pa)", lambda v: v > 0)
    np, slipvel = sp.dependencies()
    sp.readable(path)
    sp.check_outputs(slipvel, [out], [path])
    if path == "-":
        srf = sp.read_standard_input(slipvel, slipvel.read_srf)
    else:
        srf = sp.read(slipvel, slipvel.read_srf, path)
    if rigidity is not None and srf.version == "2.0":
        sp.say(TOOL, f"note: --rigidity is for version 1.0 files; {path} gives den * vs^2 at each point")
    name = sp.STANDARD_INPUT if path == "-" else os.path.basename(path)
    fault = Fault(np, srf, name, DEFAULT_RIGIDITY if rigidity is None else rigidity)
    if fault.coarsened:
        sp.say(TOOL, f"note: {fault.coarsened}")
    fig = draw(np, fault)
    sp.write_pictures(slipvel, [(out, sp.png_bytes(fig))], [path])
    print(f"wrote {os.path.realpath(out)}: {fault.title}")


def default_output(path):
    """FILE.png for FILE.srf (FILE.png beside any other name)."""
    if path == "-":
        raise Refusal("- reads the SRF file from standard input: give OUT.png too")
    return (path[:-4] if path.endswith(".srf") else path) + ".png"


class Fault:
    """What the picture shows of an SRF file, computed and checked: every number finite."""

    def __init__(self, np, srf, name, rigidity):
        self.np, self.name, self.version, self.rigidity = np, name, srf.version, rigidity
        points = srf.points
        self.count = len(srf)
        self.blocks = list(srf.blocks)
        self.planes = {key: np.asarray(value) for key, value in srf.planes.items()}
        self.lon, self.lat, self.dep = (np.array(points[k], dtype=float) for k in ("lon", "lat", "dep"))
        self.stk, self.dip, self.tinit = (np.array(points[k], dtype=float) for k in ("stk", "dip", "tinit"))
        self.area, self.dt = np.array(points["area"], dtype=float), np.array(points["dt"], dtype=float)
        self.frame = Frame(np, self.lon, self.lat)
        self.position = np.stack([self.frame.east(np, self.lon), self.frame.north(self.lat), self.dep], axis=-1)
        self.along, self.down = self.patch_sides()
        self.side = np.maximum(self.along, self.down)
        self.slip = np.hypot(np.hypot(points["slip1"], points["slip2"]), points["slip3"])
        with np.errstate(over="ignore", invalid="ignore"):
            mu = points["den"] * points["vs"] ** 2 if srf.version == "2.0" else np.full(self.count, rigidity)
        self.samples(srf.samples, mu)
        self.moment_rate()
        self.title = self.title_text()

    def patch_sides(self):
        """Each point's patch along strike and down dip (km): its plane's len / nstk and wid / ndip where the
        PLANE block holds the points in order; without a PLANE block, the spacing of a group's points along
        strike and down dip where they lie on a grid of their area; else the square of its area."""
        np = self.np
        along, down = np.sqrt(self.area) / 1000, np.sqrt(self.area) / 1000
        if self.planes and self.held().sum() == self.count:
            owner = np.repeat(np.arange(len(self.held())), self.held())
            return (self.planes["len"][owner] / self.planes["nstk"][owner],
                    self.planes["wid"][owner] / self.planes["ndip"][owner])
        if self.planes:
            return along, down
        for members, (_, stk, dip, _, _) in plane_of_points(np, self):
            vectors = strike_vectors(np, np.array([stk]), np.array([dip]))
            square = float(np.median(self.area[members])) / 1e6
            spacing = [grid_spacing(np, self.position[members] @ vector[0], math.sqrt(square)) for vector in vectors]
            if all(spacing) and abs(spacing[0] * spacing[1] / square - 1) < 0.1:
                along[members], down[members] = spacing
        return along, down

    def held(self):
        """How many points each plane of the PLANE block holds, nstk * ndip."""
        return (self.planes["nstk"] * self.planes["ndip"]).astype(self.np.int64)

    def where(self, index):
        """Names a point for messages: 'point 3 of POINTS block 2'."""
        ends = self.np.cumsum(self.blocks)
        block = int(self.np.searchsorted(ends, index, side="right"))
        first = int(ends[block - 1]) if block > 0 else 0
        return f"{self.name}: point {index - first + 1} of POINTS block {block + 1}"

    def samples(self, samples, mu):
        """Each point's slip-rate magnitude, moment and rise time; M0."""
        np = self.np
        sr1, sr2, sr3 = samples
        if all(len(a) == 0 for a in sr2) and all(len(a) == 0 for a in sr3):
            magnitudes = [np.abs(a) for a in sr1]
        else:
            magnitudes = [rate_magnitude(np, a, b, c) for a, b, c in zip(sr1, sr2, sr3)]
        self.lengths = np.array([len(m) for m in magnitudes], dtype=np.int64)
        self.flat = np.concatenate(magnitudes) if self.lengths.sum() else np.zeros(0)
        self.owner = np.repeat(np.arange(self.count), self.lengths)
        sums = np.bincount(self.owner, weights=self.flat, minlength=self.count)
        slipping = sums > 0
        with np.errstate(over="ignore", invalid="ignore"):
            self.weight = np.where(slipping, mu * self.area, 0.0)  # N/m: moment rate per m/s of slip rate
            moments = np.where(slipping, self.weight * self.dt * sums, 0.0)
        bad = np.flatnonzero(slipping & ~np.isfinite(moments))
        if bad.size:
            p = int(bad[0])
            raise Refusal(f"{self.where(p)}: its moment mu * area * slip = {moments[p]:g} N*m is beyond the range "
                          f"of numbers (mu = {mu[p]:g} Pa, area = {self.area[p]:g} m^2)")
        self.m0 = float(moments.sum())
        if not math.isfinite(self.m0):
            raise Refusal(f"{self.name}: the points' moments add up beyond the range of numbers")
        self.rise = rise_times(np, self.flat, self.owner, self.lengths, self.dt, self.count)

    def moment_rate(self):
        """The moment-rate function on one axis of at most MOST_STEPS steps; self.coarsened says why if coarser."""
        np = self.np
        timed = self.lengths > 0
        self.coarsened = ""
        if not timed.any():
            self.times, self.rates, self.step = np.array([0.0, 1.0]), np.zeros(2), 1.0
            return
        with np.errstate(over="ignore", invalid="ignore"):
            ends = self.tinit + (self.lengths - 1) * self.dt
        bad = np.flatnonzero(timed & ~np.isfinite(ends))
        if bad.size:
            p = int(bad[0])
            raise Refusal(f"{self.where(p)}: its last sample at tinit + (nt - 1) * dt = {self.tinit[p]:g} + "
                          f"{self.lengths[p] - 1} * {self.dt[p]:g} s is beyond the range of numbers")
        first, last = float(self.tinit[timed].min()), float(ends[timed].max())
        span = last - first
        if not math.isfinite(span):
            raise Refusal(f"{self.name}: the samples span {first:g} s to {last:g} s, more than a number holds")
        finest = float(self.dt[timed].min())
        step = max(finest, span / sp.MOST_STEPS)
        fine = timed & (self.dt > step * (1 + 1e-9))
        work = float((self.lengths[fine] * self.dt[fine]).sum())
        step = max(step, work / (25 * sp.MOST_STEPS))
        if step > finest * (1 + 1e-9):
            self.coarsened = (f"the samples span {span:.6g} s: the moment rate is drawn on steps of {step:.6g} s "
                              f"(dt down to {finest:.6g} s), the moment kept")
        self.step = step
        count = int(math.ceil(span / step)) + 3
        origin = first - step
        self.times = origin + np.arange(count) * step
        self.rates = np.zeros(count)
        self.bin_samples(timed & ~(self.dt > step * (1 + 1e-9)), origin, step, count)
        self.interpolate(np.flatnonzero(timed & (self.dt > step * (1 + 1e-9))), origin, step, count)
        if not np.isfinite(self.rates).all():
            raise Refusal(f"{self.name}: the moment rate adds up beyond the range of numbers")

    def bin_samples(self, chosen, origin, step, count):
        """The samples of points whose dt is at most the step, each split between its two nearest steps."""
        np = self.np
        picked = chosen[self.owner]
        if not picked.any():
            return
        owner = self.owner[picked]
        offsets = np.concatenate(([0], np.cumsum(self.lengths)[:-1]))
        k = np.flatnonzero(picked) - offsets[owner]
        position = (self.tinit[owner] + k * self.dt[owner] - origin) / step
        index = np.clip(np.floor(position), 0, count - 2).astype(np.int64)
        fraction = np.clip(position - index, 0.0, 1.0)
        mass = self.weight[owner] * self.flat[picked] * (self.dt[owner] / step)
        self.rates += np.bincount(index, mass * (1 - fraction), count) + np.bincount(index + 1, mass * fraction, count)

    def interpolate(self, chosen, origin, step, count):
        """The samples of points whose dt is above the step, linear between them at each step they span."""
        np = self.np
        offsets = np.concatenate(([0], np.cumsum(self.lengths)))
        for p in chosen:
            n, dt, t0 = int(self.lengths[p]), float(self.dt[p]), float(self.tinit[p])
            low = max(int(math.ceil((t0 - origin) / step)), 0)
            high = min(int(math.floor((t0 + (n - 1) * dt - origin) / step)), count - 1)
            if high < low:
                continue
            times = origin + np.arange(low, high + 1) * step
            own = self.flat[offsets[p]:offsets[p + 1]]
            self.rates[low:high + 1] += self.weight[p] * np.interp(times, t0 + np.arange(n) * dt, own)

    def title_text(self):
        """The picture's title: the file, its layout and its moment."""
        planes = len(self.planes.get("elon", []))
        plane_text = "no PLANE block" if planes == 0 else "1 plane" if planes == 1 else f"{planes} planes"
        blocks = len(self.blocks)
        block_text = "1 POINTS block" if blocks == 1 else f"{blocks} POINTS blocks"
        mw = sp.magnitude(self.m0)
        moment = f"M0 = {self.m0:.5g} N·m, Mw = {mw:.2f}" if mw is not None else "M0 = 0 N·m"
        return (f"{self.name} (SRF {self.version}, {plane_text}, {self.count} point{'s' if self.count != 1 else ''} "
                f"in {block_text}): {moment}")

    def steep(self):
        """Whether any plane dips more than STEEP degrees: the PLANE block's, else the points' groups."""
        if self.planes:
            return bool((self.planes["dip"] > STEEP).any())
        return any(self.np.median(self.dip[group]) > STEEP for group in self.groups_without_planes())

    def groups_without_planes(self):
        """The points by their strike and dip (to the degree), in order of first appearance; one group if many."""
        np = self.np
        keys = np.round(self.stk) % 360 * 1000 + np.round(self.dip)
        _, first, inverse = np.unique(keys, return_index=True, return_inverse=True)
        if len(first) > 16:
            return [np.arange(self.count)]
        order = np.argsort(first)
        return [np.flatnonzero(inverse == label) for label in order]


def rate_magnitude(np, a, b, c):
    """sqrt(sr1^2 + sr2^2 + sr3^2) at each step, over the longest of the three (the others 0 beyond their end)."""
    out = np.zeros(max(len(a), len(b), len(c)))
    for rates in (a, b, c):
        out[:len(rates)] = np.hypot(out[:len(rates)], rates)
    return out


def rise_times(np, flat, owner, lengths, dt, count):
    """How long each point's slip rate is non-zero: from its first to its last non-zero sample, plus dt; NaN for
    none."""
    offsets = np.concatenate(([0], np.cumsum(lengths)[:-1]))
    nonzero = np.flatnonzero(flat > 0)
    rise = np.full(count, np.nan)
    if nonzero.size == 0:
        return rise
    who = owner[nonzero]
    points, first = np.unique(who, return_index=True)
    last = len(who) - 1 - np.unique(who[::-1], return_index=True)[1]
    k_first = nonzero[first] - offsets[points]
    k_last = nonzero[last] - offsets[points]
    rise[points] = (k_last - k_first + 1) * dt[points]
    return rise


# --- Geometry -------------------------------------------------------------------------------------------------------

class Frame:
    """Map coordinates: km east and north of the middle of the points on a plane tangent there, depth down."""

    def __init__(self, np, lon, lat):
        shift = lon.max() - lon.min() > 180  # across the date line: counted on from 180
        self.shift = bool(shift)
        lon = self.longitudes(np, lon)
        self.lon_mid = (lon.min() + lon.max()) / 2
        self.lat_mid = (lat.min() + lat.max()) / 2
        self.km_east = max(KM_NORTH * math.cos(math.radians(self.lat_mid)), 1.0)

    def longitudes(self, np, lon):
        """Longitudes on one side of the date line when the fault crosses it."""
        return np.where(lon < 0, lon + 360, lon) if self.shift else lon

    def east(self, np, lon):
        return (self.longitudes(np, lon) - self.lon_mid) * self.km_east

    def north(self, lat):
        return (lat - self.lat_mid) * KM_NORTH

    def degrees(self, x, y):
        """(lon, lat) of km east and north."""
        return self.lon_mid + x / self.km_east, self.lat_mid + y / KM_NORTH


def strike_vectors(np, stk, dip):
    """Unit vectors (east, north, down) along strike and down dip (the dip to the right of the strike)."""
    s, d = np.radians(stk), np.radians(dip)
    along = np.stack([np.sin(s), np.cos(s), np.zeros_like(s)], axis=-1)
    down = np.stack([np.cos(d) * np.cos(s), -np.cos(d) * np.sin(s), np.sin(d)], axis=-1)
    return along, down


def map_patches(np, fault, frame):
    """Each point's patch seen from above as (lon, lat) corners: its side along strike, its side times cos dip
    across (at least a tenth of the side, so that the points of a vertical fault show)."""
    x, y = frame.east(np, fault.lon), frame.north(fault.lat)
    along, down = strike_vectors(np, fault.stk, fault.dip)
    half_length = fault.along / 2
    half_width = np.maximum(fault.down * np.cos(np.radians(fault.dip)), 0.1 * fault.down) / 2
    across = down[:, :2] / np.maximum(np.linalg.norm(down[:, :2], axis=1), 1e-12)[:, None]
    corners = []
    for a, b in ((-1, -1), (1, -1), (1, 1), (-1, 1)):
        cx = x + a * half_length * along[:, 0] + b * half_width * across[:, 0]
        cy = y + a * half_length * along[:, 1] + b * half_width * across[:, 1]
        corners.append(np.stack(frame.degrees(cx, cy), axis=-1))
    return np.stack(corners, axis=1), x, y


def map_planes(np, planes, frame):
    """Each plane of the PLANE block seen from above: (outline, top edge) as (lon, lat) rows."""
    shapes = []
    for k in range(len(planes.get("elon", []))):
        x, y = frame.east(np, np.array([planes["elon"][k]])), frame.north(np.array([planes["elat"][k]]))
        along, down = strike_vectors(np, np.array([planes["stk"][k]]), np.array([planes["dip"][k]]))
        half, wide = planes["len"][k] / 2, planes["wid"][k]
        top = [(x - half * along[0, 0], y - half * along[0, 1]), (x + half * along[0, 0], y + half * along[0, 1])]
        bottom = [(px + wide * down[0, 0], py + wide * down[0, 1]) for px, py in reversed(top)]
        ring = top + bottom + top[:1]
        outline = np.array([frame.degrees(float(px[0]), float(py[0])) for px, py in ring])
        shapes.append((outline, outline[:2]))
    return shapes


class PlaneView:
    """The points in their planes: U along strike (the planes end to end) and d down dip from the top edge, km."""

    def __init__(self, np, fault):
        position = fault.position
        self.u = np.zeros(fault.count)
        self.d = np.zeros(fault.count)
        self.outlines = []  # (start, length, width) of each plane on the unfolded fault
        start = 0.0
        for members, frame_of_plane in self.planes(np, fault):
            origin, stk, dip, length, width = frame_of_plane
            along, down = strike_vectors(np, np.array([stk]), np.array([dip]))
            relative = position[members] - origin
            u, d = relative @ along[0], relative @ down[0]
            if length is None:  # found from the points: from their patches' first edge and top
                du, dd = fault.along[members] / 2, fault.down[members] / 2
                u, d = u - (u - du).min(), d - (d - dd).min()
                length, width = float((u + du).max()), float((d + dd).max())
            else:
                u, d = snapped(np, u + length / 2, fault.along[members]), snapped(np, d, fault.down[members])
            self.u[members], self.d[members] = u + start, d
            self.outlines.append((start, length, width))
            start += length
        self.length = start
        self.width = max(width for _, _, width in self.outlines)

    @staticmethod
    def planes(np, fault):
        """(members, (top-edge centre, stk, dip, len, wid)) of each plane; len None where found from the points."""
        planes = fault.planes
        if not planes:
            yield from plane_of_points(np, fault)
            return
        count = len(planes["elon"])
        frame, position = fault.frame, fault.position
        tops = np.stack([frame.east(np, planes["elon"]), frame.north(planes["elat"]), planes["dtop"]], axis=-1)
        held = fault.held()
        if held.sum() == fault.count:  # the planes' points in order, as the format lays them
            owner = np.repeat(np.arange(count), held)
        else:
            owner = nearest_plane(np, planes, tops, position)
        for k in range(count):
            yield np.flatnonzero(owner == k), (tops[k], float(planes["stk"][k]), float(planes["dip"][k]),
                                               float(planes["len"][k]), float(planes["wid"][k]))


def snapped(np, coordinate, step):
    """A coordinate on a plane's grid of cells `step` long, each within a quarter cell of a cell's middle put there
    (positions in the file are rounded, the projection is flat), the others kept."""
    cell = np.round(coordinate / step - 0.5)
    middle = (cell + 0.5) * step
    return np.where(np.abs(coordinate - middle) < step / 4, middle, coordinate)


def plane_of_points(np, fault):
    """Without a PLANE block, (members, (their middle, stk, dip, None, None)) of each group of points of one
    strike and dip: the mean strike (weighted by area), the median dip."""
    for members in fault.groups_without_planes():
        weights = fault.area[members]
        angle = np.radians(fault.stk[members])
        stk = math.degrees(math.atan2((weights * np.sin(angle)).sum(), (weights * np.cos(angle)).sum()))
        yield members, (fault.position[members].mean(axis=0), stk % 360, float(np.median(fault.dip[members])),
                        None, None)


def grid_spacing(np, coordinate, side):
    """The step of a regular grid's coordinate (km): its span over its rows less one, the rows told apart by gaps
    of more than a quarter of a patch's side (past the rounding of the file's positions); 0.0 for one row or no
    regular grid."""
    gaps = np.diff(np.sort(coordinate))
    between = gaps[gaps > side / 4]
    if between.size == 0:
        return 0.0
    step = float(np.ptp(coordinate)) / between.size
    return step if np.all(np.abs(between - step) < 0.15 * step) else 0.0


def nearest_plane(np, planes, tops, position):
    """For each point, the plane nearest to it: off the plane, plus how far beyond its edges."""
    along, down = strike_vectors(np, planes["stk"], planes["dip"])
    normal = np.cross(along, down)
    relative = position[:, None, :] - tops[None, :, :]
    u = np.einsum("pkc,kc->pk", relative, along)
    d = np.einsum("pkc,kc->pk", relative, down)
    off = np.abs(np.einsum("pkc,kc->pk", relative, normal))
    beyond_u = np.maximum(np.abs(u) - planes["len"] / 2, 0)
    beyond_d = np.maximum(np.maximum(-d, d - planes["wid"]), 0)
    return np.argmin(off + beyond_u + beyond_d, axis=1)


def drawn_once(np, corners):
    """The indices of the patches to draw, in order: of patches with the same corners (to a 4000th of the
    extent, less than a pixel) only the last, which would cover the others."""
    flat = corners.reshape(len(corners), -1)
    low, span = flat.min(axis=0), np.ptp(flat, axis=0)
    scale = float(span.max()) if len(flat) else 0.0
    scale = scale if 0 < scale < math.inf else 1.0
    keys = np.round((flat - low) / scale * 4000)
    _, last = np.unique(keys[::-1], axis=0, return_index=True)
    return np.sort(len(flat) - 1 - last)


def front_triangles(np, x, y, size):
    """A triangulation of points for rupture-time contours, or None where the points have no extent (all on one
    spot or one line). Triangles whose longest edge passes 2.5 times their points' largest patch are left out,
    so that no contour crosses where no patch is."""
    import matplotlib.tri as mtri  # pylint: disable=import-outside-toplevel
    xy = np.stack([x, y], axis=-1)
    scale = float(np.ptp(xy, axis=0).max()) if len(xy) else 0.0
    scale = scale if 0 < scale < math.inf else 1.0
    _, unique = np.unique(np.round((xy - xy.min(axis=0)) / scale, 9), axis=0, return_index=True)
    if len(unique) < 3:
        return None, unique
    centred = xy[unique] - xy[unique].mean(axis=0)
    spread = np.linalg.svd(centred / scale, compute_uv=False)
    if spread[-1] < 1e-6 * spread[0]:
        return None, unique
    try:
        triangles = mtri.Triangulation(x[unique], y[unique])
    except (RuntimeError, ValueError):
        return None, unique
    corners = triangles.triangles
    edges = [np.hypot(x[unique][corners[:, a]] - x[unique][corners[:, b]],
                      y[unique][corners[:, a]] - y[unique][corners[:, b]]) for a, b in ((0, 1), (1, 2), (2, 0))]
    longest = np.max(edges, axis=0)
    largest = size[unique][corners].max(axis=1)
    mask = longest > 2.5 * largest
    if mask.all():
        return None, unique
    triangles.set_mask(mask)
    return triangles, unique


# --- Drawing --------------------------------------------------------------------------------------------------------

def draw(np, fault):
    """The whole picture: the fault (map view or in its planes) above, the moment rate below."""
    sp.matplotlib_agg()
    frame = fault.frame
    if fault.steep():
        fig = draw_planes(np, fault)
    else:
        fig = draw_map(np, fault, frame)
    draw_rate(np, fault, fig.axes_rate)
    fig.suptitle(fault.title)
    return fig


def slip_palette():
    from matplotlib.colors import LinearSegmentedColormap  # pylint: disable=import-outside-toplevel
    cmap = LinearSegmentedColormap.from_list("slip", SLIP_COLOURS)
    cmap.set_bad("#d0d0d0")
    return cmap


def contour_fronts(np, ax, triangles, values, labelled=True, colour=FRONT):
    """Labelled rupture-time contours on the triangulation; returns the contour set, or None for no levels."""
    if triangles is None:
        return None
    levels, step = sp.contour_levels(float(values.min()), float(values.max()))
    if not levels:
        return None
    fronts = ax.tricontour(triangles, values, levels=levels, colors=colour, linewidths=1.2)
    if labelled:
        ax.clabel(fronts, fmt="%g", fontsize=10, inline=True)
    fronts.step = step
    return fronts


def front_legend(np, ax, fronts):
    """A legend entry for the contours (or one saying there are none)."""
    from matplotlib.lines import Line2D  # pylint: disable=import-outside-toplevel
    if fronts is None:
        return Line2D([], [], color="none", label="no rupture-time contours: the points have no extent or one tinit")
    return Line2D([], [], color=FRONT, lw=1.2, label=f"rupture time (tinit), every {fronts.step:g} s")


def draw_map(np, fault, frame):
    """A fault of gentle dip: each patch seen from above, deepest first, coloured by slip; fronts; planes."""
    from matplotlib.collections import PolyCollection  # pylint: disable=import-outside-toplevel
    from matplotlib.lines import Line2D  # pylint: disable=import-outside-toplevel
    corners, x, y = map_patches(np, fault, frame)
    shapes = map_planes(np, fault.planes, frame)
    every = np.concatenate([corners.reshape(-1, 2)] + [outline for outline, _ in shapes])
    (lon0, lon1), (lat0, lat1) = map_range(np, every, frame)
    ratio = (lat1 - lat0) * KM_NORTH / ((lon1 - lon0) * frame.km_east)
    fig = sp.figure(13, 1.6 + 9.6 * ratio + 4.6)
    grid = fig.add_gridspec(2, 1, height_ratios=[9.6 * ratio + 1.2, 4.0])
    ax = fig.add_subplot(grid[0])
    ax.set_facecolor("#d0d0d0")
    order = np.argsort(-fault.dep, kind="stable")
    order = order[drawn_once(np, corners[order])]
    patches = PolyCollection(corners[order], array=fault.slip[order], cmap=slip_palette(), edgecolors="face",
                             linewidths=0.3, antialiaseds=False)
    patches.set_clim(0, float(fault.slip.max()) if fault.slip.max() > 0 else 1.0)
    ax.add_collection(patches)
    fig.colorbar(patches, ax=ax, label="total slip (m), √(slip1² + slip2² + slip3²)", shrink=0.9)
    handles = []
    for outline, top in shapes:
        ax.plot(outline[:, 0], outline[:, 1], color="black", lw=1)
        ax.plot(top[:, 0], top[:, 1], color="black", lw=3)
    if shapes:
        handles.append(Line2D([], [], color="black", lw=1, label="planes, top edge bold"))
    lon, lat = frame.degrees(x, y)
    triangles, unique = front_triangles(np, x, y, fault.side)
    fronts = contour_fronts(np, ax, retarget(triangles, lon, lat, unique), fault.tinit[unique])
    handles.append(front_legend(np, ax, fronts))
    fig.fronts = fronts
    e = int(np.argmin(fault.tinit))
    handles += ax.plot([lon[e]], [lat[e]], "+", ms=22, mew=2.5, color="#00a050", label=(
        f"epicentre (least tinit): {lon[e]:.4f}°, {lat[e]:.4f}°, {fault.dep[e]:.2f} km deep, "
        f"tinit {fault.tinit[e]:.3g} s"))
    ax.set_xlim(lon0, lon1)
    ax.set_ylim(lat0, lat1)
    ax.set_aspect(KM_NORTH / frame.km_east)
    ax.set_xlabel("longitude (°)")
    ax.set_ylabel("latitude (°)")
    degrees_ticks(ax, (lon1 - lon0))
    ax.legend(handles=handles, loc="upper center", bbox_to_anchor=(0.5, -0.08), ncol=min(len(handles), 3),
              fontsize=9, frameon=False)
    fig.view = "map"
    fig.axes_rate = fig.add_subplot(grid[1])
    return fig


def retarget(triangles, lon, lat, unique):
    """The same triangles over (lon, lat), for contours drawn on the map's axes."""
    if triangles is None:
        return None
    import matplotlib.tri as mtri  # pylint: disable=import-outside-toplevel
    moved = mtri.Triangulation(lon[unique], lat[unique], triangles.triangles)
    moved.set_mask(triangles.mask)
    return moved


def map_range(np, corners, frame):
    """The map's longitudes and latitudes: a margin around everything, widened so that it is neither too flat nor
    too tall, km for km."""
    x, y = frame.east(np, corners[:, 0]), frame.north(corners[:, 1])
    sx, sy = max(float(np.ptp(x)), 1e-3), max(float(np.ptp(y)), 1e-3)
    cx, cy = (x.min() + x.max()) / 2, (y.min() + y.max()) / 2
    sx, sy = max(sx * 1.08, sx + 1), max(sy * 1.08, sy + 1)
    sy = max(sy, 0.4 * sx)  # not flatter than 0.4 ...
    sx = max(sx, sy / 1.1)  # ... nor taller than 1.1, widened across
    lon0, lat0 = frame.degrees(cx - sx / 2, cy - sy / 2)
    lon1, lat1 = frame.degrees(cx + sx / 2, cy + sy / 2)
    return (lon0, lon1), (lat0, lat1)


def degrees_ticks(ax, span):
    """Tick labels in degrees, with enough decimals for about ten distinct tics."""
    from matplotlib.ticker import FuncFormatter  # pylint: disable=import-outside-toplevel
    decimals = max(2, 1 - int(math.floor(math.log10(max(span, 1e-12) / 10))))
    decimals = min(decimals, 8)
    formatter = FuncFormatter(lambda value, _: f"{value:.{decimals}f}°")
    ax.xaxis.set_major_formatter(formatter)
    ax.yaxis.set_major_formatter(formatter)


def draw_planes(np, fault):
    """A steep fault in its planes: slip above, rise time below, both with the fronts and the hypocentre."""
    view = PlaneView(np, fault)
    aspect = view.width / max(view.length, 1e-300)
    panel = 9.6 * min(max(aspect, 0.15), 0.8) + 1.6
    fig = sp.figure(13, 2 * panel + 4.6)
    grid = fig.add_gridspec(3, 1, height_ratios=[panel, panel, 4.0])
    triangles, unique = front_triangles(np, view.u, view.d, fault.side)
    e = int(np.argmin(fault.tinit))
    panels = (("total slip (m), √(slip1² + slip2² + slip3²)", fault.slip, slip_palette(), "slip"),
              ("rise time (s): how long the slip rate is non-zero", fault.rise, None, "rise time"))
    fronts = []
    for row, (label, values, cmap, what) in enumerate(panels):
        ax = fig.add_subplot(grid[row])
        fronts.append(draw_plane_panel(np, fig, ax, view, fault, (label, values, cmap), triangles, unique, e,
                                       aspect))
        ax.set_title(f"{what} in the fault's planes, with rupture-time contours", fontsize=10)
    fig.view, fig.fronts, fig.plane_view = "planes", fronts[0], view
    fig.axes_rate = fig.add_subplot(grid[2])
    return fig


def draw_plane_panel(np, fig, ax, view, fault, colouring, triangles, unique, e, aspect):
    """One panel of the planes: the patches coloured, the planes' outlines, the fronts, the hypocentre."""
    from matplotlib.collections import PolyCollection  # pylint: disable=import-outside-toplevel
    from matplotlib.lines import Line2D  # pylint: disable=import-outside-toplevel
    label, values, cmap = colouring
    du, dd = fault.along / 2, fault.down / 2
    corners = np.stack([np.stack([view.u + a * du, view.d + b * dd], axis=-1)
                        for a, b in ((-1, -1), (1, -1), (1, 1), (-1, 1))], axis=1)
    ax.set_facecolor("#d0d0d0")
    shown = np.ma.masked_invalid(values)
    drawn = drawn_once(np, corners)
    patches = PolyCollection(corners[drawn], array=shown[drawn], cmap=cmap or "viridis", edgecolors="face",
                             linewidths=0.3, antialiaseds=False)
    low, top = (float(shown.min()), float(shown.max())) if shown.count() else (0.0, 1.0)
    low = 0.0 if cmap or not low < top else low  # slip from 0; rise time over the range it takes
    patches.set_clim(low, top if top > low else low + 1.0)
    ax.add_collection(patches)
    fig.colorbar(patches, ax=ax, label=label, shrink=0.9)
    for start, length, width in view.outlines:
        ax.plot([start, start + length, start + length, start, start], [0, 0, width, width, 0], color="black", lw=1.2)
    fronts = contour_fronts(np, ax, triangles, fault.tinit[unique], colour=FRONT if cmap else "white")
    handles = [Line2D([], [], color="black", lw=1.2, label="planes")] + [front_legend(np, ax, fronts)]
    handles += ax.plot([view.u[e]], [view.d[e]], "*", ms=18, mew=1.5, mfc="#00a050", mec="black", label=(
        f"hypocentre (least tinit): {fault.lon[e]:.4f}°, {fault.lat[e]:.4f}°, {fault.dep[e]:.2f} km deep, "
        f"tinit {fault.tinit[e]:.3g} s"))
    u0, u1 = float((view.u - du).min()), float((view.u + du).max())
    d1 = float((view.d + dd).max())
    ax.set_xlim(min(0.0, u0), max(view.length, u1))
    ax.set_ylim(max(view.width, d1), min(0.0, float((view.d - dd).min())))
    if 0.15 <= aspect <= 0.8:
        ax.set_aspect("equal")
    ax.set_xlabel("along strike (km), the planes end to end")
    ax.set_ylabel("down dip (km)")
    if not cmap:  # under the last panel only: both panels show the same
        ax.legend(handles=handles, loc="upper center", bbox_to_anchor=(0.5, -0.16), ncol=3, fontsize=9,
                  frameon=False)
    return fronts


def draw_rate(np, fault, ax):
    """The moment-rate function against time."""
    mu = ("μ = den·vs² of each point" if fault.version == "2.0"
          else f"μ = {fault.rigidity:g} Pa (--rigidity)")
    title = f"Moment rate: Σ μ·area·slip rate over the points, {mu}"
    if fault.coarsened:
        title += f"\n(steps of {fault.step:.6g} s: the samples span {fault.times[-1] - fault.times[0]:.6g} s)"
    ax.set_title(title)
    ax.plot(fault.times, fault.rates, color=FRONT, lw=1.2)
    first = float(fault.times[0] + fault.step)  # the first sample's time: the axis starts a step before
    ax.set_xlim(float(fault.times[0]) if first < 0 else 0.0, float(fault.times[-1]))
    ax.set_ylim(0, float(fault.rates.max()) * 1.05 if fault.rates.max() > 0 else 1)
    ax.set_xlabel("time (s)")
    ax.set_ylabel("moment rate (N·m/s)")
    ax.ticklabel_format(axis="y", style="sci", scilimits=(0, 0))
    ax.grid(True, color="#dddddd")


if __name__ == "__main__":
    sys.exit(sp.run(TOOL, main))
