"""plot-results: draws slipvel's result files: the time histories (slip
velocity, slip and slip acceleration against time) and the amplitude spectra
(log-log), of one source or of several in one picture each.
"""
import math
import os
import re
import sys

import slipvel_plots as sp
from slipvel_plots import Refusal

TOOL = "plot-results"
SLIP_HEADER = " time(s),velocity,displacement,acceleration"
AMP_HEADER = " freq(Hz),abs(vel),abs(acc)"
BATCH_ID = re.compile(r"[A-Za-z0-9_][A-Za-z0-9_.-]*")
COLOURS = ["#1f4e9a", "#b03030", "#2a8a3a", "#d08a1a", "#6a3d9a", "#1a9a9a", "#9a1a6a", "#555555"]
USAGE = """\
Usage: tools/plot-results [FOLDER]
       tools/plot-results DIR ID [ID...]
       tools/plot-results --help

Draws slipvel's result files as PNG pictures.

  [FOLDER]      the files of slipvel (or slipvel-batch without --table) in
                FOLDER (default: the current folder): Vek_Slip.csv -> Vek_Slip.png,
                Vek_Amp.csv -> Vek_Amp.png
  DIR ID        one source of a slipvel-batch table run into DIR:
                DIR/ID_slip.csv -> DIR/ID_slip.png, DIR/ID_amp.csv -> DIR/ID_amp.png
  DIR ID ID...  several sources in one picture each, one curve a source with a
                legend: DIR/slip.png and DIR/amp.png

Needs Python 3 with numpy, matplotlib (Debian: python3-numpy,
python3-matplotlib) and the slipvel module; SLIPVEL_PYTHON names the
Python. Writes nothing on any error.
"""


def main(argv):
    """Finds the files of the sources asked for, reads them, then draws and writes both pictures."""
    _, arguments = sp.parse(argv, {}, USAGE)
    folder = arguments[0] if arguments else "."
    ids = arguments[1:]
    np, slipvel = sp.dependencies()
    if not os.path.isdir(folder):
        raise Refusal(f"{folder}: no such folder" if not os.path.exists(folder) else f"{folder}: not a folder")
    for name in ids:
        if not BATCH_ID.fullmatch(name):
            raise Refusal(f"id = \"{name}\": not a slipvel-batch id")
    if not ids:
        names, slip_png, amp_png = [None], "Vek_Slip.png", "Vek_Amp.png"
        slip_what, amp_what = "Vek_Slip.csv", "Vek_Amp.csv"
        slip_files, amp_files, hint = ["Vek_Slip.csv"], ["Vek_Amp.csv"], "run slipvel first"
    else:
        names = ids if len(ids) > 1 else [None]
        slip_files, amp_files = [f"{i}_slip.csv" for i in ids], [f"{i}_amp.csv" for i in ids]
        slip_png, amp_png = ("slip.png", "amp.png") if len(ids) > 1 else (f"{ids[0]}_slip.png", f"{ids[0]}_amp.png")
        slip_what = amp_what = " ".join(ids)
        hint = "is the id in the table of slipvel-batch's run into this folder?"
    inside = [os.path.join(folder, f) for f in slip_files + amp_files]
    outputs = [os.path.join(folder, slip_png), os.path.join(folder, amp_png)]
    sp.check_outputs(slipvel, outputs, inside)
    slips = [read_columns(np, os.path.join(folder, f), SLIP_HEADER, hint) for f in slip_files]
    spectra = [read_columns(np, os.path.join(folder, f), AMP_HEADER, hint) for f in amp_files]
    pictures = [(outputs[0], sp.png_bytes(draw_histories(np, slips, names, f"({slip_what})"))),
                (outputs[1], sp.png_bytes(draw_spectra(spectra, names, f"({amp_what})")))]
    sp.write_pictures(slipvel, pictures, inside)
    print(f"wrote {os.path.abspath(outputs[0])} and {os.path.abspath(outputs[1])}")


def read_columns(np, path, header, hint):
    """The columns of one of slipvel's result files, each row's numbers checked: an array of rows x columns."""
    if not os.path.lexists(path):
        raise Refusal(f"{os.path.basename(path)} not found in {os.path.abspath(os.path.dirname(path))} ({hint})")
    sp.readable(path)
    try:
        with open(path, encoding="utf-8", errors="replace", newline="") as file:
            lines = file.read().splitlines()
    except OSError as e:
        raise Refusal(f"{path}: cannot be read: {e.strerror or e}") from None
    if not lines or lines[0] != header:
        raise Refusal(f"{path}:1: not a slipvel result file: the header is not \"{header}\"")
    columns = header.strip().split(",")
    rows = []
    for number, line in enumerate(lines[1:], start=2):
        fields = [f.strip() for f in line.split(",")]
        if len(fields) != len(columns):
            raise Refusal(f"{path}:{number}: {len(fields)} fields, the header has {len(columns)}")
        for name, field in zip(columns, fields):
            if not sp.NUMBER.fullmatch(field) or not math.isfinite(float(field)):
                raise Refusal(f"{path}:{number}: {name} = \"{field[:40]}\": not a finite number")
        rows.append([float(f) for f in fields])
    if len(rows) < 2:
        raise Refusal(f"{path}: too few rows to plot")
    return np.array(rows)


def colour(n, count, single):
    return single if count == 1 else COLOURS[n % len(COLOURS)]


def draw_histories(np, slips, names, title):
    """Velocity, slip and acceleration in three panels over one time axis, to a little past the last slip."""
    fig = sp.figure(10, 10)
    axes = fig.subplots(3, 1, sharex=True)
    ends = [float(rows[rows[:, 1] != 0, 0].max()) for rows in slips if (rows[:, 1] != 0).any()]
    end = max(ends) * 1.08 if ends and max(ends) > 0 else 1.0
    labels = ("slip velocity (m/s)", "slip (m)", "slip acceleration (m/s²)")
    singles = ("#1f4e9a", "#2a8a3a", "#b03030")
    for column, (ax, label, single) in enumerate(zip(axes, labels, singles), start=1):
        for n, (rows, name) in enumerate(zip(slips, names)):
            ax.plot(rows[:, 0], rows[:, column], color=colour(n, len(slips), single), lw=1.3, label=name)
        ax.set_ylabel(label)
        ax.grid(True, color="#dddddd")
    if names[0] is not None:
        axes[0].legend(loc="upper right")
    axes[-1].set_xlim(0, end)
    axes[-1].set_xlabel("time (s)")
    fig.suptitle(f"Slip-velocity function {title}")
    return fig


def draw_spectra(spectra, names, title):
    """The velocity (solid) and acceleration (dashed) amplitude spectra, log-log, one colour a source."""
    fig = sp.figure(10, 7)
    ax = fig.add_subplot()
    for n, (rows, name) in enumerate(zip(spectra, names)):
        prefix = f"{name} " if name else ""
        ax.loglog(rows[:, 0], rows[:, 1], color=colour(n, len(spectra), "#1f4e9a"), lw=1.3,
                  label=f"{prefix}slip velocity (m)")
        ax.loglog(rows[:, 0], rows[:, 2], color=colour(n, len(spectra), "#b03030"), lw=1.3,
                  ls="-" if len(spectra) == 1 else "--", label=f"{prefix}slip acceleration (m/s)")
    low = min(float(rows[:, 0].min()) for rows in spectra)
    high = max(float(rows[:, 0].max()) for rows in spectra)
    if 0 < low < high:
        ax.set_xlim(low, high)
    ax.set_xlabel("frequency (Hz)")
    ax.set_ylabel("Fourier amplitude")
    ax.grid(True, which="major", color="#dddddd")
    ax.legend(loc="lower left")
    ax.set_title(f"Amplitude spectra {title}")
    return fig


if __name__ == "__main__":
    sys.exit(sp.run(TOOL, main))
