"""What the plot tools share: the slipvel module (the build tree's when run
from a clone), refusals said on one line, options and their values, outputs
checked before drawing and written whole, and matplotlib on its Agg backend.

A tool's main(argv) raises Refusal for anything it will not do; run() says
it as "TOOL: message" on standard error with status 1, and nothing is
written.
"""
import importlib
import importlib.util
import io
import math
import os
import pathlib
import re
import sys

CLONE = pathlib.Path(__file__).resolve().parent.parent
BUILD_MODULE = CLONE / "build" / "python"
NUMBER = re.compile(r"[-+]?([0-9]+[.]?[0-9]*|[.][0-9]+)([eE][-+]?[0-9]+)?")
# The moment-rate axis of a picture holds at most this many steps.
MOST_STEPS = 200_000
STANDARD_INPUT = "standard input"


class Refusal(Exception):
    """A reason the tool stops: one line (or a few), status 1, nothing written."""


def import_slipvel():
    """The slipvel module: the interpreter's own, else the one the build put into the clone's build/python."""
    try:
        return importlib.import_module("slipvel")
    except ImportError as first:
        built = list(BUILD_MODULE.glob("slipvel*.so")) + list(BUILD_MODULE.glob("slipvel*.pyd"))
        if not built:
            raise Refusal(f"the Python module slipvel cannot be imported ({first}): build it (the full build, into "
                          f"{BUILD_MODULE}) or install it (docs/python.md)") from None
        sys.path.insert(0, str(BUILD_MODULE))
        try:
            return importlib.import_module("slipvel")
        except ImportError as second:
            raise Refusal(f"{built[0]} cannot be imported by {sys.executable} ({second}): SLIPVEL_PYTHON names "
                          f"the Python it was built for") from None


def require(module, package):
    """Imports a dependency, or refuses naming the Debian package that has it."""
    try:
        return importlib.import_module(module)
    except ImportError as e:
        raise Refusal(f"{module} cannot be imported by {sys.executable} ({e}): install {package} (Debian), "
                      f"or name a Python that has it in SLIPVEL_PYTHON") from None


def dependencies():
    """numpy and slipvel, imported, after checking that matplotlib is there too (it is imported to draw)."""
    numpy = require("numpy", "python3-numpy")
    if importlib.util.find_spec("matplotlib") is None:
        require("matplotlib", "python3-matplotlib")
    return numpy, import_slipvel()


def matplotlib_agg():
    """matplotlib on its Agg backend (no display), with the tools' sizes; a refusal naming its package if missing.
    Called before anything of matplotlib is imported."""
    matplotlib = require("matplotlib", "python3-matplotlib")
    matplotlib.use("Agg")
    matplotlib.rcParams.update({"font.size": 10, "axes.titlesize": 11, "figure.titlesize": 12,
                                "savefig.dpi": 100, "path.simplify": True})
    return matplotlib


def figure(width, height):
    """A matplotlib Figure of width x height inches at 100 dots an inch, drawn by Agg, outside pyplot."""
    matplotlib_agg()
    from matplotlib.figure import Figure  # pylint: disable=import-outside-toplevel
    return Figure(figsize=(width, height), dpi=100, layout="constrained")


def png_bytes(fig):
    """The figure as PNG bytes, drawn in memory."""
    buffer = io.BytesIO()
    fig.savefig(buffer, format="png")
    return buffer.getvalue()


def parse(argv, options, usage):
    """Splits argv into ({option: value}, [arguments]).

    `options` maps each option that takes a value to the name of its value
    ("--rigidity": "PA"). -h and --help print `usage` and stop with status 0;
    "--" ends the options; "-" alone is an argument (standard input).
    """
    values, arguments = {}, []
    words = list(argv)
    while words:
        word = words.pop(0)
        if word in ("-h", "--help"):
            print(usage, end="")
            raise SystemExit(0)
        if word == "--":
            arguments += words
            break
        name, given, value = word.partition("=") if word.startswith("--") else (word, "", None)
        if name in options:
            if not given:
                if not words:
                    raise Refusal(f"{name} needs a value ({options[name]})")
                value = words.pop(0)
            if name in values:
                raise Refusal(f"{name} is given twice ({values[name]} and {value})")
            values[name] = value
        elif word.startswith("-") and word != "-":
            raise Refusal(f"unknown option: {word} (see --help)")
        else:
            arguments.append(word)
    return values, arguments


def number(option, text, rule, accept):
    """The value of an option as a finite float that `accept` takes, or a refusal naming the rule."""
    if not NUMBER.fullmatch(text):
        raise Refusal(f"{option} {text}: not a number ({rule})")
    value = float(text)
    if not math.isfinite(value):
        raise Refusal(f"{option} {text}: beyond the range of numbers ({rule})")
    if not accept(value):
        raise Refusal(f"{option} {text}: must be {rule}")
    return value


def readable(path, what="file"):
    """Refuses an input that is missing or a folder, before its reader is asked."""
    if path == "-":
        return
    if os.path.isdir(path):
        raise Refusal(f"{path}: is a folder, not a {what}")
    if not os.path.lexists(path):
        raise Refusal(f"{path}: not found")
    if not os.path.exists(path):
        raise Refusal(f"{path}: a link that leads nowhere")


def read(slipvel, reader, path, *arguments):
    """reader(path, ...) with its refusals said as the tool's: the library names the line, value and rule."""
    readable(path)
    try:
        return reader(path, *arguments)
    except slipvel.ParameterError as e:
        raise Refusal(str(e)) from None
    except OSError as e:
        raise Refusal(f"{path}: cannot be read: {e.strerror or e}") from None


def read_standard_input(slipvel, reader, *arguments):
    """reader on standard input, read once through its file descriptor, its messages naming standard input."""
    if sys.stdin is None or sys.stdin.isatty():
        raise Refusal("- reads the file from standard input, which is a terminal here: give a file or pipe one in")
    try:
        return reader("/dev/stdin", *arguments)
    except slipvel.ParameterError as e:
        raise Refusal(str(e).replace("/dev/stdin", STANDARD_INPUT)) from None
    except OSError as e:
        raise Refusal(f"{STANDARD_INPUT}: cannot be read: {e.strerror or e}") from None


def first_line(path):
    """The first line of a file (without its line end), for a header check; '' for an empty file."""
    try:
        with open(path, "rb") as file:
            line = file.readline(4096)
    except OSError as e:
        raise Refusal(f"{path}: cannot be read: {e.strerror or e}") from None
    return line.decode("utf-8", "replace").rstrip("\r\n")


def refusal_of(error):
    """A ParameterError of the output checks as a refusal, without the Python argument's name."""
    return Refusal("\n".join(text.removeprefix("path ") for _, text in error.problems) or str(error))


def check_outputs(slipvel, outputs, inputs):
    """Refuses before drawing any output that write_atomically would refuse after (the same checks)."""
    for output in outputs:
        try:
            slipvel.check_output(output, inputs=[i for i in inputs if i != "-"], regular_only=True)
        except slipvel.ParameterError as e:
            raise refusal_of(e) from None
    if len(set(map(os.path.realpath, outputs))) < len(outputs):
        raise Refusal(f"two pictures would go to one file: {', '.join(outputs)}")


def write_pictures(slipvel, pictures, inputs):
    """Writes each (path, png bytes) whole, through the programs' output checks, once all are drawn."""
    for path, data in pictures:
        try:
            slipvel.write_atomically(path, data, inputs=[i for i in inputs if i != "-"], regular_only=True)
        except slipvel.ParameterError as e:
            raise refusal_of(e) from None
        except OSError as e:
            raise Refusal(f"{path}: could not be written ({e}; a full disk or a file-size limit?)") from None


def contour_levels(low, high, most=10):
    """Round levels (1, 2 or 5 times a power of ten apart) between low and high, about `most` of them."""
    span = high - low
    if not (math.isfinite(span) and span > 0):
        return [], 0.0
    raw = span / most
    power = 10.0 ** math.floor(math.log10(raw))
    step = next(m for m in (1, 2, 5, 10) if raw / power <= m * (1 + 1e-12)) * power
    first = (math.floor(low / step) + 1) * step
    count = min(int((high - first) / step) + 1, 4 * most) if first <= high else 0
    levels = [first + n * step for n in range(count)]
    return [level for level in levels if low < level < high], step


def magnitude(moment):
    """Mw = (2/3)(log10 M0 - 9.1), or None for no moment."""
    return (2 / 3) * (math.log10(moment) - 9.1) if moment > 0 else None


def say(tool, message, stream=None):
    """Each line of a message on standard error, after the tool's name."""
    for line in str(message).splitlines() or [""]:
        print(f"{tool}: {line}", file=stream or sys.stderr)


def run(tool, main, argv=None):
    """Runs main(argv) and returns the exit status: 0 done, 1 refused (said on standard error)."""
    try:
        main(sys.argv[1:] if argv is None else argv)
        sys.stdout.flush()
    except Refusal as e:
        say(tool, e)
        return 1
    except KeyboardInterrupt:
        say(tool, "stopped; nothing written")
        return 130
    except BrokenPipeError:
        # Standard output closed early: the pictures are written; say nothing more.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    return 0
