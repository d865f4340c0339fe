"""The module against what the slipvel program prints and writes."""
import os
import pickle
import pydoc
import re
import signal
import subprocess
import sys
import threading
import time
import warnings
from pathlib import Path

import numpy as np
import pytest

import slipvel


def program_files(tmp_path, program, *arguments):
    """Runs a built program in tmp_path and returns its two result files."""
    subprocess.run([program, *arguments], cwd=tmp_path, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, check=True)
    return ((tmp_path / "Vek_Slip.csv").read_text(), (tmp_path / "Vek_Amp.csv").read_text())


def test_builtin_source_is_the_programs(tmp_path):
    f = slipvel.slip_function()
    s = f.spectrum()
    slip_text, amp_text = program_files(tmp_path, os.environ["SLIPVEL_PROGRAM"])
    assert f.time_history_text() == slip_text
    assert s.text() == amp_text
    # The shape the program prints (9 digits) and tabled rows of both files.
    shape = f.stages
    for name, printed in [("am", 154.264766), ("tb", 0.088203027), ("b", 0.243249097),
                          ("c", 0.170432712), ("ar", 0.161241923), ("eps", 0.0769740377)]:
        assert getattr(shape, name) == pytest.approx(printed, rel=5e-9)
    assert f.ts == 2.114 * 1.5
    assert slip_text.splitlines()[2] == "  0.0050,      0.7349760,      0.0018374,    146.9952099"
    assert f.velocity[1] == pytest.approx(0.7349760, abs=5e-8)
    assert amp_text.splitlines()[1] == "  0.0488,  0.9706E+00,  0.2978E+00"
    assert (s.frequency[0], s.velocity[0]) == (pytest.approx(0.0488, abs=5e-5), pytest.approx(0.9706, abs=5e-5))
    assert len(f.time) == 4096 and len(s.frequency) == 2047
    assert slipvel.__version__ == os.environ["SLIPVEL_VERSION"]


@pytest.mark.parametrize("arguments, keywords", [
    (["--vm", "3.0", "--slip", "0.8"], dict(vm=3.0, slip=0.8)),
    (["--dt", "0.002", "--nt", "16384", "--tr", "1.8", "--ts", "2.4"], dict(dt=0.002, nt=16384, tr=1.8, ts=2.4)),
])
def test_other_sources_match_the_batch_program(tmp_path, arguments, keywords):
    batch = os.environ.get("SLIPVEL_BATCH", "")
    if not os.access(batch, os.X_OK):
        pytest.skip("slipvel-batch not built")
    slip_text, amp_text = program_files(tmp_path, batch, *arguments)
    f = slipvel.slip_function(**keywords)
    assert f.time_history_text() == slip_text
    assert f.spectrum().text() == amp_text
    # The arrays hold the rows' values: the trapezoid slip, to the printed digits.
    last = slip_text.splitlines()[-1].split(",")
    assert f.displacement[-1] == pytest.approx(float(last[2]), abs=5e-8)


@pytest.mark.parametrize("keywords, error, message", [
    (dict(nt=1000), slipvel.ParameterError, "nt = 1000: must be a power of two from 2 to 4194304"),
    (dict(nt=2**40), slipvel.ParameterError, "nt = 1099511627776: must be a power of two"),
    (dict(vm=0, slip=-1.0), slipvel.ParameterError,
     "vm = 0: must be finite and greater than 0\nslip = -1: must be finite and greater than 0"),
    (dict(slip=8), slipvel.ParameterError, "slip = 8: must be from 0.2894971344616258 to 7.98992276034132 m"),
    (dict(dt=float("nan")), slipvel.ParameterError, "dt = nan: must be finite and greater than 0"),
    (dict(nt=4096.0), TypeError, "nt must be an int, not float"),
    (dict(nt=True), TypeError, "nt must be an int, not bool"),
    (dict(nt="4096"), TypeError, "nt must be an int, not str"),
    (dict(vm="fast"), TypeError, ""),
    (dict(vm=np.bool_(True)), TypeError, "vm must be a real number, not bool"),
    (dict(nt=np.timedelta64(4096)), TypeError, "nt must be an int, not timedelta64"),
    (dict(dt=10**400), OverflowError, "dt is an int of 1329 bits: too large for a float"),
])
def test_bad_parameters_raise(keywords, error, message):
    with pytest.raises(error) as raised:
        slipvel.slip_function(**keywords)
    assert str(raised.value).startswith(message)


def test_parameter_error_is_a_value_error_and_numpy_types_are_taken():
    assert issubclass(slipvel.ParameterError, ValueError)
    f = slipvel.slip_function(nt=np.int64(2048), vm=np.float32(3.5))
    assert len(f.velocity) == 2048


def test_arrays_are_read_only_and_the_function_keeps_its_values():
    f = slipvel.slip_function()
    v = f.velocity
    assert v.dtype == np.float64 and not v.flags.writeable
    with pytest.raises(ValueError):
        v[10] = 99.0
    with pytest.raises(ValueError):
        v.setflags(write=True)  # a view of the result's own values: never writeable
    own = v.copy()
    own[10] = 99.0
    assert f.velocity[10] != 99.0


def test_threads_get_identical_results():
    expected = slipvel.slip_function(vm=3.0).time_history_text()
    results = []
    threads = [threading.Thread(target=lambda: results.append(slipvel.slip_function(vm=3.0).time_history_text()))
               for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == [expected] * 4


# --- Results that know their sampling, arrays made once, pickling, S(t) -----

def test_arrays_are_made_once_and_read_only():
    f = slipvel.slip_function()
    s = f.spectrum()
    for owner, name in [(f, "time"), (f, "velocity"), (f, "displacement"), (f, "acceleration"),
                        (s, "frequency"), (s, "velocity"), (s, "acceleration")]:
        assert getattr(owner, name) is getattr(owner, name), name
        assert not getattr(owner, name).flags.writeable, name


def test_results_know_their_sampling():
    f = slipvel.slip_function(dt=0.01, nt=1024, vm=3.0)
    for result in (f, f.spectrum()):
        assert (result.dt, result.nt, result.sampling_rate) == (0.01, 1024, 100.0)
        p = result.parameters
        assert (p.dt, p.nt, p.fmax, p.vm, p.slip, p.tr, p.ts) == (0.01, 1024, 6.0, 3.0, 1.0, 2.114, 2.114 * 1.5)
        assert "vm=3.0" in repr(result)
    # A function gives its parameters as attributes too, of their types.
    given = [f.dt, f.nt, f.fmax, f.vm, f.slip, f.tr, f.ts]
    assert [(v, type(v)) for v in given] == [(0.01, float), (1024, int), (6.0, float), (3.0, float), (1.0, float),
                                             (2.114, float), (2.114 * 1.5, float)]


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_every_pickle_protocol_round_trips(protocol):
    f = slipvel.slip_function(dt=0.01, nt=1024, vm=3.0, ts=3.0)
    results = [f, f.spectrum(), f.parameters]
    back = [pickle.loads(pickle.dumps(result, protocol)) for result in results]
    assert [(type(b), repr(b)) for b in back] == [(type(r), repr(r)) for r in results]
    assert [b.velocity.tobytes() for b in back[:2]] == [r.velocity.tobytes() for r in results[:2]]
    with pytest.raises(TypeError, match="a Shape does not pickle"):
        pickle.dumps(f.stages, protocol)


STATE = (0.005, 4096, 6.0, 4.092, 1.0, 2.114, None)


@pytest.mark.parametrize("kind, state, error, message", [
    ("SlipFunction", None, TypeError, "a pickled SlipFunction state must be the 7 parameters (dt, nt, fmax"),
    ("Spectrum", STATE[:6], TypeError, "a pickled Spectrum state must be the 7 parameters"),
    ("SlipFunction", (None,) * 7, TypeError, "dt must be a real number, not None"),
    ("Spectrum", STATE[:1] + ("4096",) + STATE[2:], TypeError, "nt must be an int, not str"),
    ("Parameters", STATE[:1] + (1000,) + STATE[2:], slipvel.ParameterError, "nt = 1000: must be a power of two"),
    ("Shape", STATE, ValueError, "a pickled slipvel object must be a SlipFunction, Spectrum or Parameters"),
])
def test_a_tampered_pickle_raises(kind, state, error, message):
    with pytest.raises(error) as raised:
        slipvel._unpickle(kind, state)  # what pickle.loads calls with a stream's values
    assert str(raised.value).startswith(message)


@pytest.mark.parametrize("cls", [slipvel.SlipFunction, slipvel.Spectrum, slipvel.Parameters, slipvel.Shape]
                         + [getattr(slipvel, "Rupture")] * hasattr(slipvel, "Rupture"))
def test_an_object_is_not_made_by_new_alone(cls):
    with pytest.raises(TypeError, match=f"{cls.__name__} objects come from .*, not from __new__"):
        cls.__new__(cls)
    assert slipvel.slip_function().parameters != 3  # compared with anything


def test_defaults_are_the_built_in_source():
    signature = slipvel.slip_function.__doc__.splitlines()[0]
    for default in ["dt: float = 0.005", "nt: int = 4096", "fmax: float = 6.0", "vm: float = 4.092",
                    "slip: float = 1.0", "tr: float = 2.114", "ts: Optional[float] = None"]:
        assert default in signature


@pytest.mark.parametrize("arguments, error", [
    ({"nt": 2**63}, slipvel.ParameterError),
    ({"nt": -2**70}, slipvel.ParameterError),
    ({"nt": True}, TypeError),
    ({"dt": True}, TypeError),
    ({"vm": "3"}, TypeError),
])
def test_arguments_of_the_wrong_kind_or_size(arguments, error):
    with pytest.raises(error):
        slipvel.slip_function(**arguments)


F = slipvel.slip_function()
S1, S2, WHOLE = F.slip_until(1.0), F.slip_until(2.0), F.slip_until(10.0)
NAN = float("nan")


@pytest.mark.parametrize("t, expected", [
    (1, S1),
    (np.int8(2), S2),
    (np.float32(1.0), S1),
    (np.array(2), S2),  # 0-d: a float back
    (np.array([[0, 1], [2, 10]]), np.array([[0.0, S1], [S2, WHOLE]])),
    ([1.0, 2.0], np.array([S1, S2])),
    (NAN, NAN),
    (np.array([NAN, 1.0]), np.array([NAN, S1])),
    (10**400, OverflowError),
    *[(bad, TypeError) for bad in [None, "1.0", True, np.bool_(True), np.array([True, False]), np.datetime64(1, "s"),
                                   np.timedelta64(1, "s"), 1j, np.array([1.0], dtype=object), np.array(["1.0"])]],
])
def test_slip_until_takes_real_numbers_only(t, expected):
    if isinstance(expected, type):
        with pytest.raises(expected):
            F.slip_until(t)
        return
    got = F.slip_until(t)
    assert type(got) is type(expected)
    np.testing.assert_array_equal(got, expected)


def test_slip_until_ends_at_the_whole_slip():
    assert WHOLE == F.slip_until(F.ts) and abs(WHOLE - F.displacement[-1]) < 1e-2  # near the sampled sum


def test_first_results_in_two_threads_at_once_do_not_deadlock():
    code = ("import slipvel; from concurrent.futures import ThreadPoolExecutor as E;"
            "print(list(E(2).map(lambda v: slipvel.slip_function(vm=v).velocity.shape, [3.0, 4.0])))")
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == "[(4096,), (4096,)]"


def test_stub_names_every_function_class_and_attribute():
    stub = (Path(__file__).parent.parent / "slipvel.pyi").read_text()
    for name in [n for n in dir(slipvel) if not n.startswith("_")]:
        assert f" {name}" in stub, name
        for attribute in [a for a in dir(getattr(slipvel, name)) if not a.startswith("_")]:
            if isinstance(getattr(slipvel, name), type) and attribute not in dir(ValueError):
                assert f"def {attribute}(" in stub, f"{name}.{attribute}"


# --- Errors as data, the moment, the rupture library ---------------------------

def test_parameter_errors_carry_their_problems():
    with pytest.raises(slipvel.ParameterError) as raised:
        slipvel.slip_function(vm=0, slip=8, nt=1000)
    problems = raised.value.problems
    assert [field for field, _ in problems] == ["nt", "vm"]
    assert "\n".join(text for _, text in problems) == str(raised.value)


def test_moment_magnitude():
    assert slipvel.moment_magnitude(10 ** (1.5 * 6.6 + 9.1)) == pytest.approx(6.6, abs=1e-12)
    assert slipvel.moment_magnitude(0.0) == float("-inf")


EXAMPLES = Path(os.environ.get("SLIPVEL_SOURCE_DIR", Path(__file__).parents[2])) / "examples"
RUPTURE = os.environ.get("SLIPVEL_RUPTURE", "")


@pytest.mark.parametrize("version, keywords, options", [
    ("1.0", {}, []),
    ("2.0", {"blocks": "one"}, ["--srf-blocks", "one"]),
    ("2.0", {"plane": False}, ["--srf-no-plane"]),
    ("2.0", {"for_code": "sw4"}, ["--srf-for", "sw4"]),
    ("1.0", {"for_code": "seissol"}, ["--srf-for", "seissol"]),
])
def test_a_rupture_writes_the_programs_bytes(tmp_path, version, keywords, options):
    if not os.access(RUPTURE, os.X_OK):
        pytest.skip("slipvel-rupture not built")
    segments, patches = EXAMPLES / "bend-segments.csv", EXAMPLES / "bend-patches.csv"
    done = subprocess.run([RUPTURE, "--segments", segments, "--patches", patches, "--hypocentre", "1:0:9", "--vr",
                           "2.8", "--srf", tmp_path / "program.srf", "--srf-version", version, *options],
                          capture_output=True, text=True, check=True)
    rupture = slipvel.build_rupture(segments, patches, hypocentre="1:0:9", vr=2.8)
    with warnings.catch_warnings(record=True) as said:
        warnings.simplefilter("always")
        rupture.write_srf(tmp_path / "module.srf", version, **keywords)
    assert (tmp_path / "module.srf").read_bytes() == (tmp_path / "program.srf").read_bytes()
    several_blocks = version == "2.0" and not keywords.get("for_code") and "blocks" not in keywords and \
        "plane" not in keywords  # without a PLANE block the points are one block
    sw4_said = [str(w.message) for w in said if "SW4 reads only the first POINTS block" in str(w.message)]
    assert sw4_said == (['SW4 reads only the first POINTS block: 450 of 730 points; for_code="sw4" writes one block']
                        if several_blocks else [])
    assert ("SW4 reads only" in done.stderr) == several_blocks
    moment = float(done.stdout.split("M0_Nm=")[1].split()[0])
    assert rupture.moment == moment and rupture.magnitude == slipvel.moment_magnitude(moment)
    points = rupture.points
    assert len(rupture) == len(points["lon"]) == 730 and not points["tinit"].flags.writeable
    assert points["tinit"].min() == pytest.approx(np.hypot(0.5, 0.5) / 2.8)  # the hypocentre on four corners


def test_a_layered_rupture_by_its_trace_writes_the_programs_bytes(tmp_path):
    if not os.access(RUPTURE, os.X_OK):
        pytest.skip("slipvel-rupture not built")
    segments, patches, medium = (EXAMPLES / name for name in ("trace-segments.csv", "trace-patches.csv", "medium.csv"))
    done = subprocess.run([RUPTURE, "--segments", segments, "--patches", patches, "--medium", medium,
                           "--hypocentre-at", "-117.494:34.018:9.2", "--vr-fraction", "0.8", "--mw", "6.6",
                           "--srf", tmp_path / "program.srf", "--srf-version", "2.0"],
                          capture_output=True, text=True, check=True)
    rupture = slipvel.build_rupture(segments, patches, medium=medium, hypocentre_at=(-117.494, 34.018, 9.2),
                                    vr_fraction=0.8, mw=6.6)
    rupture.write_srf(tmp_path / "module.srf", "2.0")
    assert (tmp_path / "module.srf").read_bytes() == (tmp_path / "program.srf").read_bytes()
    assert f"slip and vm scaled by {rupture.slip_factor!r}" in done.stderr and abs(rupture.magnitude - 6.6) <= 0.001


@pytest.mark.parametrize("keywords, field, start", [
    ({"for_code": "sw5"}, "for_code", "for_code = sw5: must be sw4"),
    ({"for_code": "sw4", "blocks": "one"}, "blocks", "blocks and for_code = sw4: for_code sets the blocks"),
    ({"for_code": "seissol", "plane": False}, "plane", "plane and for_code = seissol: for_code sets"),
    ({"blocks": "two"}, "blocks", "blocks = two: must be per-plane"),
])
def test_a_layout_asked_for_twice_or_unknown_is_refused(tmp_path, keywords, field, start):
    if not slipvel.build_rupture.__doc__ or "Not available" in slipvel.build_rupture.__doc__:
        pytest.skip("built without GeographicLib")
    rupture = slipvel.build_rupture(EXAMPLES / "segments.csv", hypocentre="1:0:5", vr=2.8)
    with pytest.raises(slipvel.ParameterError) as raised:
        rupture.write_srf(tmp_path / "r.srf", "2.0", **keywords)
    assert raised.value.problems[0][0] == field and str(raised.value).startswith(start)
    assert not (tmp_path / "r.srf").exists()


@pytest.mark.parametrize("arguments, field, start", [
    ({"hypocentre": "1:0"}, "hypocentre", 'hypocentre "1:0": must be SEG:S:D'),
    ({"vr": 0}, "vr", "vr = 0: must be greater than 0 km/s"),
    ({"vr": None}, "vr", "give vr (km/s) or vr_fraction (of the local vs), one of them"),
    ({"vr": None, "vr_fraction": 2.5}, "vr_fraction", "vr_fraction = 2.5: must be greater than 0 and at most sqrt(3)"),
    ({"hypocentre_at": (-118.5, 34.2, 5)}, "hypocentre", "give hypocentre"),
    ({"hypocentre": None, "hypocentre_at": (-118.5, 34.2, 30)}, "hypocentre_at", "hypocentre_at -118.5:34.2:30: 21.2"),
    ({"hypocentre": None, "hypocentre_at": (float("nan"), 34.2, 5)}, "hypocentre_at",
     "hypocentre_at nan:34.2:5: the longitude must be"),
    ({"dt": 0}, "dt", "dt = 0: must be finite and greater than 0"),
])
def test_a_bad_rupture_raises_its_problems(arguments, field, start):
    if not slipvel.build_rupture.__doc__ or "Not available" in slipvel.build_rupture.__doc__:
        pytest.skip("built without GeographicLib")
    given = {"hypocentre": "1:0:5", "vr": 2.8, **arguments}
    with pytest.raises(slipvel.ParameterError) as raised:
        slipvel.build_rupture(EXAMPLES / "segments.csv", **given)
    assert raised.value.problems[0][0] == field and str(raised.value).startswith(start)


def bad_faults():
    """The faults every interface refuses (tests/data/bad_faults.txt), as dicts."""
    cases, table = [], None
    path = Path(os.environ.get("SLIPVEL_SOURCE_DIR", Path(__file__).parents[2])) / "tests" / "data" / "bad_faults.txt"
    for line in path.read_text().splitlines():
        if line.startswith("  ") and table:
            cases[-1]["tables"][table] += line[2:] + "\n"
            continue
        table = None
        if not line or line.startswith("#"):
            continue
        key, _, value = line.partition(" ")
        if key == "case":
            cases.append({"name": value, "tables": {}, "options": [], "text-only": False})
        elif key in ("segments", "trace", "faults", "patches", "medium"):
            table = key
            cases[-1]["tables"][key] = ""
        elif key == "with":
            cases[-1]["options"] = ["" if word == '""' else word for word in value.split()]
        elif key == "text-only":
            cases[-1]["text-only"] = True
        else:
            cases[-1][key] = value
    return cases


ONE_SEGMENT = "elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr\n-118.5,34.2,300,45,30,15,1,6,3,90,0.5,1.5,1.2\n"
KEYWORDS = {"--vr": ("vr", float), "--vr-fraction": ("vr_fraction", float), "--hypocentre": ("hypocentre", str),
            "--hypocentre-at": ("hypocentre_at", lambda v: tuple(float(x) for x in v.split(":"))),
            "--mw": ("mw", float), "--dt": ("dt", float), "--nt": ("nt", int), "--fmax": ("fmax", float),
            "--rigidity": ("rigidity", float), "--mw-scales": ("mw_scales", str),
            "--hypocentre-tolerance": ("hypocentre_tolerance", float),
            "--max-strike-drift": ("max_strike_drift", float)}


@pytest.mark.parametrize("case", bad_faults(), ids=lambda case: case["name"])
def test_a_bad_fault_is_refused_as_the_program_refuses_it(tmp_path, monkeypatch, case):
    if not slipvel.build_rupture.__doc__ or "Not available" in slipvel.build_rupture.__doc__:
        pytest.skip("built without GeographicLib")
    if case["text-only"]:
        pytest.skip("hypocentre_at takes three numbers, not a text")
    monkeypatch.chdir(tmp_path)
    tables = {**({} if "trace" in case["tables"] else {"segments": ONE_SEGMENT}), **case["tables"]}
    for name, text in tables.items():
        Path(f"{name}.csv").write_text(text)
    options, words = {}, case["options"]
    keywords = {"hypocentre": "1:0:5", "vr": 3.0}
    for option, value in zip(words, words[1:] + [""]):
        if option in KEYWORDS:
            name, kind = KEYWORDS[option]
            keywords[name] = kind(value)
    if "vr_fraction" in keywords:
        del keywords["vr"]
    if "hypocentre_at" in keywords:
        del keywords["hypocentre"]
    version = words[words.index("--srf-version") + 1] if "--srf-version" in words else "1.0"
    with pytest.raises(slipvel.ParameterError) as raised:
        given = {name: f"{name}.csv" for name in ("segments", "trace", "faults", "medium") if name in tables}
        rupture = slipvel.build_rupture(patches="patches.csv" if "patches" in tables else None, **given, **keywords)
        if "--moment-rate" in words:
            rupture.write_moment_rate("rate.csv")
        rupture.write_srf("r.srf", version)
    first = raised.value.diagnostics[0]
    where = (f"option {first.option}" if first.option else "none" if first.table is None else
             first.table.split(".")[0] + ("" if first.line is None else f" {first.line}"))
    assert (where, first.field) == (case["at"], case.get("field", "")) and case["says"] in first.text, str(first)
    assert sorted(p.name for p in tmp_path.iterdir()) == sorted(f"{name}.csv" for name in tables)


def test_a_bad_table_names_its_lines(tmp_path):
    (tmp_path / "s.csv").write_text("elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr\n"
                                    "-118,34,300,95,30,15,1,6,3,90,0.5,1.5,1.2\n")
    with pytest.raises(slipvel.ParameterError) as raised:
        slipvel.build_rupture(tmp_path / "s.csv", hypocentre="1:0:5", vr=2.8)
    assert raised.value.problems == [("dip", f"{tmp_path / 's.csv'}:2: dip = 95: must be from 0 to 90 degrees")]


# --- Samples that fall short, the function's attributes, signatures ----------

NYQUIST_TAIL = (" s: the samples are too far apart to show the function's highest frequencies, and a reader that "
                "interpolates them with a spline (as SW4 does) radiates more moment than they carry (+4 to +15 % at "
                "dt 0.1 s with fmax 6 Hz; within 1 % at dt 0.05 s or less); a dt of at most 1/(2*fmax), or a lower "
                "fmax, fixes it")


def coarse(sampled, asked, dt):
    return (f"the sampled slip ends more than 1 % off the slip asked ({sampled} m sampled, {asked} m asked): at "
            f"dt = {dt} s the samples miss part of the sharp rise; a smaller dt fixes it")


@pytest.mark.parametrize("keywords, messages", [
    ({}, []),
    (dict(dt=0.01, fmax=50, vm=2, tr=10), []),  # at the Nyquist frequency, not above it
    (dict(dt=0.01, fmax=60, vm=2, tr=10),
     ["fmax = 60 Hz is above the Nyquist frequency 1/(2*dt) = 50 Hz of dt = 0.01" + NYQUIST_TAIL]),
    (dict(dt=0.05, vm=3, slip=0.8), [coarse("0.7719236040948897", "0.8", "0.05")]),
    (dict(dt=0.1, nt=1024, vm=3, slip=0.8),  # the figures slipvel-batch gives for the same source
     ["fmax = 6 Hz is above the Nyquist frequency 1/(2*dt) = 5 Hz of dt = 0.1" + NYQUIST_TAIL,
      coarse("0.6640544661149328", "0.8", "0.1")]),
])
def test_samples_that_fall_short_warn_at_the_callers_line(keywords, messages):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        slipvel.slip_function(**keywords)
    assert [(w.category, str(w.message)) for w in caught] == [(slipvel.SamplingWarning, m) for m in messages]
    assert all(w.filename == __file__ for w in caught)


def test_a_sampling_warning_can_be_an_error_and_unpickling_does_not_warn_again():
    assert issubclass(slipvel.SamplingWarning, UserWarning)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        f = slipvel.slip_function(dt=0.1, nt=1024, vm=3, slip=0.8)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(slipvel.SamplingWarning, match="Nyquist"):
            slipvel.slip_function(dt=0.1, nt=1024, vm=3, slip=0.8)
        assert repr(pickle.loads(pickle.dumps(f))) == repr(f)


def test_shape_is_deprecated_for_stages():
    f = slipvel.slip_function()
    with pytest.warns(DeprecationWarning, match=r"use SlipFunction\.stages") as caught:
        shape = f.shape
    assert caught[0].filename == __file__
    assert type(shape) is type(f.stages) is slipvel.Shape and repr(shape) == repr(f.stages)


@pytest.mark.parametrize("function, shown", [
    (slipvel.slip_function, ["dt: float = 0.005", "nt: int = 4096", "ts: Optional[float] = None",
                             "-> slipvel.SlipFunction"]),
    (slipvel.SlipFunction.slip_until, ["t: Union[float, numpy.ndarray]) -> Union[float, numpy.ndarray]"]),
    (slipvel.build_rupture, ["segments: Optional[Union[str, os.PathLike, Dict[", "vr: Optional[float] = None",
                             "nt: int = 4096", "trace: Optional[Union[str, os.PathLike, Dict["]),
])
def test_signatures_show_the_types_taken(function, shown):
    if "Not available" in function.__doc__:
        pytest.skip("built without GeographicLib")
    signature = function.__doc__.splitlines()[0]
    assert signature in pydoc.render_doc(function)  # as help() shows it
    assert all(part in signature for part in shown) and "object" not in signature


TIMES = np.concatenate([np.linspace(-1.0, 4.0, 4006), [0.0, -0.0, np.nan, np.inf]])


@pytest.mark.parametrize("keywords, times", [
    ({}, TIMES),
    (dict(vm=3.0, slip=0.8, ts=4.0), TIMES.reshape(5, -1, 2)),
    (dict(fmax=12, vm=1.5, slip=0.4, tr=0.9), TIMES[::3]),  # strided: copied before the work
    ({}, np.array([F.stages.tb, np.nextafter(F.stages.tb, 0), F.tr, np.nextafter(F.tr, 9), F.ts], dtype=np.float32)),
])
def test_slip_until_of_an_array_gives_the_bits_of_each_time(keywords, times):
    f = slipvel.slip_function(**keywords)
    got = f.slip_until(times)
    each = np.array([f.slip_until(float(t)) for t in times.ravel()]).reshape(times.shape)
    assert got.shape == times.shape and got.tobytes() == each.tobytes()


# --- Ruptures from columns, every file of the program, the readers -----------

def needs_rupture():
    if not os.access(RUPTURE, os.X_OK) or "Not available" in (slipvel.build_rupture.__doc__ or "Not available"):
        pytest.skip("slipvel-rupture or the module's rupture library not built")


def columns_of(path, as_arrays):
    """A CSV table as the dict of columns build_rupture takes: lists with None for empty fields, or arrays."""
    lines = [line for line in Path(path).read_text().splitlines() if line and not line.startswith("#")]
    names, rows = lines[0].split(","), [line.split(",") for line in lines[1:]]
    columns = {name: [float(row[c]) if row[c] else None for row in rows] for c, name in enumerate(names)}
    return {name: np.array(values) for name, values in columns.items()} if as_arrays else columns


LAYERED = {"segments": EXAMPLES / "trace-segments.csv", "patches": EXAMPLES / "trace-patches.csv",
           "medium": EXAMPLES / "medium.csv"}
LAYERED_OPTIONS = ["--hypocentre-at", "-117.494:34.018:9.2", "--vr-fraction", "0.8", "--mw", "6.6"]
LAYERED_KEYWORDS = {"hypocentre_at": (-117.494, 34.018, 9.2), "vr_fraction": 0.8, "mw": 6.6}


def rupture_files(tmp_path, outputs, *options):
    """slipvel-rupture on the layered example, writing each (option, name) of `outputs` into tmp_path."""
    arguments = [RUPTURE, "--segments", LAYERED["segments"], "--patches", LAYERED["patches"], "--medium",
                 LAYERED["medium"], *LAYERED_OPTIONS, "--quiet", *options]
    for option, name in outputs:
        arguments += [option, tmp_path / name]
    return subprocess.run(arguments, capture_output=True, text=True, check=True)


@pytest.mark.parametrize("as_arrays", [False, True])
def test_tables_as_columns_give_the_programs_bytes(tmp_path, as_arrays):
    needs_rupture()
    rupture_files(tmp_path, [("--srf", "program.srf")], "--srf-version", "2.0")
    tables = {name: columns_of(path, as_arrays) for name, path in LAYERED.items()}
    rupture = slipvel.build_rupture(tables["segments"], tables["patches"], medium=tables["medium"], **LAYERED_KEYWORDS)
    rupture.write_srf(tmp_path / "module.srf", "2.0", jobs=1)
    assert (tmp_path / "module.srf").read_bytes() == (tmp_path / "program.srf").read_bytes()


@pytest.mark.parametrize("method, option, arguments", [
    ("write_srf", "--srf", ("2.0",)),
    ("write_points", "--points", ()),
    ("write_planes", "--planes", ()),
    ("write_moment_rate", "--moment-rate", ()),
])
def test_every_file_is_the_programs(tmp_path, method, option, arguments):
    needs_rupture()
    outputs = [(option, "program.out")] + ([("--srf", "unused.srf")] if option in ("--planes", "--moment-rate") else [])
    done = rupture_files(tmp_path, outputs, *(["--srf-version", "2.0"] if arguments else []))
    rupture = slipvel.build_rupture(LAYERED["segments"], LAYERED["patches"], medium=LAYERED["medium"],
                                    **LAYERED_KEYWORDS)
    getattr(rupture, method)(tmp_path / "module.out", *arguments)
    assert (tmp_path / "module.out").read_bytes() == (tmp_path / "program.out").read_bytes()
    spelt = {"--hypocentre-at": "hypocentre_at", "--mw": "mw"}
    lines = [line.removeprefix("slipvel-rupture: ") for line in done.stderr.splitlines()]
    said = [line.split(" ", 1) for line in lines if not line.startswith("warning: ")]  # the writers' warnings aside
    assert rupture.notes == [f"{spelt[option]} {rest}" for option, rest in said]


def test_the_readers_give_the_rupture_back(tmp_path):
    needs_rupture()
    rupture = slipvel.build_rupture(LAYERED["segments"], LAYERED["patches"], medium=LAYERED["medium"],
                                    **LAYERED_KEYWORDS)
    rupture.write_points(tmp_path / "points.csv")
    points = slipvel.read_points(tmp_path / "points.csv")
    assert len(points["id"]) == len(rupture) and points["id"][0] == "1-0-0"
    for column in ("lon", "lat", "dep", "tinit", "vs", "den", "vm", "tr", "ts"):
        assert np.array_equal(points[column], rupture.points[column]), column
    for version, rigidity in (("2.0", None), ("1.0", None), ("1.0", 3e10)):
        rupture.write_srf(tmp_path / "r.srf", version)
        srf = slipvel.read_srf(tmp_path / "r.srf", rigidity)
        assert srf.version == version and len(srf) == len(rupture) and srf.planes["nstk"].tolist() == [25, 28]
        assert np.allclose(srf.points["tinit"], rupture.points["tinit"], atol=5e-5)
        assert np.allclose(srf.points["slip1"], rupture.points["slip"], atol=5e-7)
        sums = np.array([rates.sum() for rates in srf.samples[0]]) * srf.points["dt"]
        assert np.allclose(sums, srf.points["slip1"], atol=1e-6)
        if version == "2.0":
            assert srf.moment == pytest.approx(rupture.moment, rel=1e-5) and srf.blocks == [450, 504]
        else:
            assert np.isnan(srf.points["vs"]).all() and srf.blocks == [954]
            assert (srf.moment is None) == (rigidity is None)


def test_warnings_notes_and_where_it_starts():
    needs_rupture()
    with warnings.catch_warnings(record=True) as said:
        warnings.simplefilter("always")
        rupture = slipvel.build_rupture({"elon": [-118.5], "elat": [34.2], "stk": [300], "dip": [45], "len": [30],
                                         "wid": [15], "dtop": [1], "nstk": [6], "ndip": [3], "rake": [90],
                                         "slip": [0.5], "vm": [1.5], "tr": [1.2], "vs": [3.3], "den": [2700]},
                                        hypocentre_at=(-118.5, 34.2, 1.2), vr=2.8)
    assert [w.category for w in said] == [slipvel.RuptureWarning] * 3
    assert str(said[0].message).startswith("segments row 1: subfault 1-0-0: vs = 3.3 m/s: outside 100 to 10000 m/s")
    assert str(said[2].message).startswith("segments row 1: subfaults of 5 km along strike by 5 km down dip, the "
                                           "front at 2.8 km/s: the front crosses a subfault in 1.79 s")
    assert said[0].filename == __file__
    assert rupture.notes[0].startswith("hypocentre_at -118.5:34.2:1.2: on segment 1 at s = 0.000 km, d = ")
    start = rupture.hypocentre
    assert start.segment == 1 and start.s == 0 and start.dep == pytest.approx(1 + start.d * np.sin(np.pi / 4))


@pytest.mark.parametrize("keywords, error, says", [
    ({"hypocentre": 1}, TypeError, "hypocentre must be a str \"SEG:S:D\""),
    ({"hypocentre": [1, 0, 1]}, TypeError, "hypocentre must be a str"),
    ({"hypocentre": None, "hypocentre_at": "1:2:3"}, TypeError, "hypocentre_at must be (lon, lat, dep)"),
    ({"segments": 1}, TypeError, "segments must be a path (str or os.PathLike) or a dict of columns"),
    ({"segments": {1: [1.0]}}, TypeError, "segments's keys must be column names (str)"),
    ({"segments": {"elon": ["a"]}}, TypeError, "segments['elon'] must be a real number"),
    ({"segments": {"elon": [True]}}, TypeError, "segments['elon'] must be a real number"),
    ({"segments": {"elon": np.array([[1.0]])}}, TypeError, "segments['elon'] must be a 1-D numpy array"),
    ({"segments": ""}, slipvel.ParameterError, "segments: an empty path names no file"),
    ({"segments": {"elon": [1.0], "elat": [1.0, 2.0]}}, slipvel.ParameterError,
     "segments: columns of unequal lengths: elon has 1 values, elat has 2"),
    ({"jobs": 0}, slipvel.ParameterError, "jobs = 0: must be from 1 to 4096"),
    ({"jobs": 1.5}, TypeError, "jobs must be an int or None"),
])
def test_arguments_of_the_wrong_kind_name_the_forms_taken(keywords, error, says):
    needs_rupture()
    given = {"segments": EXAMPLES / "segments.csv", "hypocentre": "1:0:5", "vr": 2.8, **keywords}
    with pytest.raises(error) as raised:
        slipvel.build_rupture(given.pop("segments"), **given)
    assert says in str(raised.value)


STOCHASTIC_KEYWORDS = {"seed", "realisation", "correlation", "hurst", "slip_cv", "taper", "shallow", "rise_time",
                       "vr_slip", "slip_floor", "rake_sigma", "random_hypocentre"}


def keywords_of(function):
    """The keywords of a function of the module, as its signature line names them."""
    signature = function.__doc__.splitlines()[0]
    return [name for name in re.findall(r"(\w+): ", signature.split("(", 1)[1]) if name != "self"]


def test_every_keyword_of_the_wrong_kind_is_a_type_error_naming_it(tmp_path):
    needs_rupture()
    base = {"segments": EXAMPLES / "segments.csv", "hypocentre": "1:0:5", "vr": 2.8}
    for keyword in keywords_of(slipvel.build_rupture):
        given = {**base, keyword: object()}
        if keyword in STOCHASTIC_KEYWORDS:
            given["stochastic"] = True
        if keyword in ("vr_fraction", "hypocentre_at"):
            del given["vr" if keyword == "vr_fraction" else "hypocentre"]
        if keyword in ("trace", "faults"):
            del given["segments"]
            given.update({"trace": EXAMPLES / "segments.csv", "faults": EXAMPLES / "segments.csv", keyword: object()})
        with pytest.raises(TypeError, match=f"^{keyword} must be "):
            slipvel.build_rupture(**given)
    rupture = slipvel.build_rupture(**base)
    for method in ("write_srf", "write_points", "write_planes", "write_moment_rate"):
        for keyword in keywords_of(getattr(rupture, method)):
            arguments = {"path": tmp_path / "out", keyword: object()}
            with pytest.raises(TypeError, match=f"^{keyword} must be "):
                getattr(rupture, method)(**arguments)
    assert os.listdir(tmp_path) == []


@pytest.mark.parametrize("keywords, error, says", [
    ({"jobs": 2 ** 70}, slipvel.ParameterError, "jobs = 1180591620717411303424: must be from 1 to 4096"),
    ({"jobs": np.int32(2)}, None, None),
    ({"stochastic": True, "seed": np.int64(5)}, None, None),
    ({"mw_scales": "slip"}, slipvel.ParameterError, "mw_scales: needs mw"),
    ({"hypocentre_tolerance": 3}, slipvel.ParameterError, "hypocentre_tolerance: needs hypocentre_at"),
])
def test_integers_of_numpy_and_keywords_that_need_another(keywords, error, says):
    needs_rupture()
    scenario = dict(trace=EXAMPLES / "scenario-trace.csv", faults=EXAMPLES / "scenario-faults.csv",
                    hypocentre="1:10:5", vr=2.8, dt=0.025)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", slipvel.RuptureWarning)
        if error is None:
            assert len(slipvel.build_rupture(**scenario, **keywords)) == 3000
            return
        with pytest.raises(error, match=re.escape(says)):
            slipvel.build_rupture(**scenario, **keywords)


def test_a_long_refusal_shows_twenty_lines_and_keeps_every_problem(tmp_path):
    needs_rupture()
    rows = "".join("0,0,90,95,30,15,1,6,3,90,1,1,1\n" for _ in range(25))
    (tmp_path / "s.csv").write_text("elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr\n" + rows)
    with pytest.raises(slipvel.ParameterError) as raised:
        slipvel.build_rupture(tmp_path / "s.csv", hypocentre="1:0:5", vr=2.8)
    lines = str(raised.value).splitlines()
    assert len(lines) == 21 and lines[-1].startswith("... and 5 more problems")
    assert len(raised.value.problems) == len(raised.value.diagnostics) == 25


def test_a_masked_value_is_an_empty_field():
    needs_rupture()
    segments = {"elon": [-118.5], "elat": [34.2], "stk": [300], "dip": [45], "len": [30], "wid": [15], "dtop": [1],
                "nstk": [6], "ndip": [3], "rake": [90], "slip": [0.5], "vm": [1.5], "tr": [1.2],
                "ts": np.ma.array([9.0], mask=[True])}
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", slipvel.RuptureWarning)
        rupture = slipvel.build_rupture(segments, hypocentre="1:0:5", vr=2.8)
    assert rupture.points["ts"][0] == 1.5 * 1.2  # the default, not the masked 9
    with pytest.raises(TypeError, match="must be a 1-D numpy array"):
        slipvel.build_rupture({**segments, "ts": np.ma.array([[9.0]], mask=[[True]])}, hypocentre="1:0:5", vr=2.8)


def test_an_output_that_is_an_input_is_refused_and_left_as_it_was(tmp_path):
    needs_rupture()
    segments = tmp_path / "segments.csv"
    segments.write_bytes((EXAMPLES / "segments.csv").read_bytes())
    rupture = slipvel.build_rupture(segments, hypocentre="1:0:5", vr=2.8)
    for method in ("write_srf", "write_points", "write_planes", "write_moment_rate"):
        with pytest.raises(slipvel.ParameterError, match="would overwrite the input segments"):
            getattr(rupture, method)(segments)
    assert segments.read_bytes() == (EXAMPLES / "segments.csv").read_bytes()
    with pytest.raises(slipvel.ParameterError, match="no folder"):
        rupture.write_srf(tmp_path / "nowhere" / "r.srf")


WRITER = ("import os, sys, resource, slipvel\n"
          "limit = int(sys.argv[3])\n"
          "if limit: resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))\n"
          "r = slipvel.build_rupture(sys.argv[1], hypocentre=sys.argv[2], vr=2.8, jobs=1)\n"
          "try:\n"
          "    r.write_srf(sys.argv[4], '2.0')\n"
          "except OSError as e:\n"
          "    print(e.errno, e, file=sys.stderr); sys.exit(3)\n")


def test_a_write_cut_short_or_raced_leaves_one_whole_file(tmp_path):
    needs_rupture()
    run = lambda hypocentre, limit=0: subprocess.Popen(  # noqa: E731
        [sys.executable, "-c", WRITER, str(EXAMPLES / "segments.csv"), hypocentre, str(limit), str(tmp_path / "r.srf")],
        env=dict(os.environ, PYTHONPATH=os.path.dirname(slipvel.__file__)), stderr=subprocess.PIPE, text=True)
    whole = {}
    for hypocentre in ("1:-8:9", "1:5:5"):
        assert run(hypocentre).wait() == 0
        whole[hypocentre] = (tmp_path / "r.srf").read_bytes()
    # A file-size limit: OSError (EFBIG), the old file as it was, no temporary left.
    cut = run("1:5:5", limit=100_000)
    assert cut.wait() == 3 and "\n27 [Errno 27] " in "\n" + cut.stderr.read()
    assert (tmp_path / "r.srf").read_bytes() == whole["1:5:5"] and os.listdir(tmp_path) == ["r.srf"]
    # Two writers at once: one of the two whole files, never a mix.
    for _ in range(3):
        racing = [run("1:-8:9"), run("1:5:5")]
        assert [p.wait() for p in racing] == [0, 0]
        assert (tmp_path / "r.srf").read_bytes() in whole.values() and os.listdir(tmp_path) == ["r.srf"]


def output_cases(root):
    """Outputs of every kind, by name: what check_output and write_atomically must refuse or take."""
    (root / "old.png").write_bytes(b"old")
    (root / "input.srf").write_bytes(b"2.0\n")
    (root / "folder").mkdir()
    os.mkfifo(root / "fifo")
    (root / "link").symlink_to("old.png")
    (root / "loop-a").symlink_to("loop-b")
    (root / "loop-b").symlink_to("loop-a")
    return root


@pytest.mark.parametrize("name, refusal", [
    ("new.png", None),
    ("link", None),
    ("input.srf", "would overwrite the input"),
    ("folder", "is a folder"),
    ("fifo", "not a regular file (a FIFO, a device or a socket)"),
    ("loop-a", "Too many levels of symbolic links"),
    ("missing/new.png", "no folder"),
])
def test_an_output_is_checked_alone_as_it_is_before_writing(tmp_path, name, refusal):
    root = output_cases(tmp_path)
    before = sorted((p.name, p.is_symlink() or p.read_bytes() if p.is_file() else None) for p in root.iterdir())
    for attempt in (lambda: slipvel.check_output(root / name, inputs=[root / "input.srf"], regular_only=True),
                    lambda: slipvel.write_atomically(root / name, b"new", inputs=[root / "input.srf"],
                                                     regular_only=True)):
        if refusal is None:
            attempt()
            continue
        with pytest.raises(slipvel.ParameterError, match=re.escape(refusal)):
            attempt()
        after = sorted((p.name, p.is_symlink() or p.read_bytes() if p.is_file() else None) for p in root.iterdir())
        assert after == before, "a refused output changed the folder"
    if refusal is None:
        assert (root / name).read_bytes() == b"new"
        assert (root / "link").is_symlink()


def test_the_planes_points_and_moment_rate_readers_give_lines_and_columns(tmp_path):
    (tmp_path / "planes.csv").write_text("elon,elat,nstk,ndip,len,wid,stk,dip,dtop,shyp,dhyp\n"
                                         "-118.5,34.2,30,15,30,15,300,45,1,0,9\n"
                                         "-118.7179,34.3313,20,14,20,14,315,60,1,-25,9\n")
    planes = slipvel.read_planes(tmp_path / "planes.csv")
    assert planes["nstk"].tolist() == [30, 20] and planes["shyp"].tolist() == [0, -25]
    (tmp_path / "bad.csv").write_text("elon,elat,nstk,ndip,len,wid,stk,dip,dtop,shyp,dhyp\n"
                                      "-118.5,34.2,30,15,-30,15,300,45,1,0,9\n")
    with pytest.raises(slipvel.ParameterError, match=r"bad\.csv:2: .*len"):
        slipvel.read_planes(tmp_path / "bad.csv")
    (tmp_path / "points.csv").write_text("# a comment first\nid,lon,lat,dep,stk,dip,rake,area,tinit\n"
                                         "a,10,10,1,0,90,0,1e6,1\n\nb,10,10,2,0,90,0,1e6,2\n")
    points = slipvel.read_points(tmp_path / "points.csv")
    assert points["id"] == ["a", "b"] and points["line"] == [3, 5]
    (tmp_path / "rate.csv").write_text("time(s),moment_rate(N*m/s)\n0,0\n0.5,2e+18\n1,1.5e+17\n")
    times, rates = slipvel.read_moment_rate(tmp_path / "rate.csv")
    assert times.tolist() == [0, 0.5, 1] and rates.tolist() == [0, 2e18, 1.5e17]


# --- Stochastic ruptures ------------------------------------------------------

STOCHASTIC_SEGMENTS = ("elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr\n"
                       "0,0,0,60,30,15,1,30,15,90,1,0.8667,1.5\n"
                       "-0.01556,0.2238,350,60,20,15,1,20,15,80,1,0.8667,1.5\n")


def test_a_realisation_is_the_programs(tmp_path):
    needs_rupture()
    (tmp_path / "segments.csv").write_text(STOCHASTIC_SEGMENTS)
    subprocess.run([RUPTURE, "--segments", tmp_path / "segments.csv", "--medium", EXAMPLES / "medium.csv",
                    "--random-hypocentre", "--vr-fraction", "0.8", "--mw", "6.8", "--stochastic", "--seed", "11",
                    "--realisations", "3", "--rake-sigma", "10", "--shallow", "4:0.8:1.5", "--srf",
                    tmp_path / "r.srf", "--srf-version", "2.0", "--quiet"], check=True, capture_output=True)
    keywords = {"medium": EXAMPLES / "medium.csv", "random_hypocentre": True, "vr_fraction": 0.8, "mw": 6.8,
                "seed": 11, "rake_sigma": 10, "shallow": (4, 0.8, 1.5)}
    ruptures = list(slipvel.realisations(tmp_path / "segments.csv", n=3, **keywords))
    assert len(ruptures) == 3
    for k, rupture in enumerate(ruptures):
        rupture.write_srf(tmp_path / f"module-{k}.srf", "2.0")
        assert (tmp_path / f"module-{k}.srf").read_bytes() == (tmp_path / f"r-{k:04d}.srf").read_bytes()
        assert abs(rupture.magnitude - 6.8) <= 0.001
    alone = slipvel.build_rupture(tmp_path / "segments.csv", stochastic=True, realisation=2, **keywords)
    assert np.array_equal(alone.points["slip"], ruptures[2].points["slip"])
    assert not np.array_equal(ruptures[0].points["slip"], ruptures[1].points["slip"])


@pytest.mark.parametrize("keywords, error, says", [
    ({"seed": 1}, slipvel.ParameterError, "seed: needs stochastic=True"),
    ({"random_hypocentre": True}, slipvel.ParameterError, "random_hypocentre: needs stochastic=True"),
    ({"stochastic": True, "seed": -1}, slipvel.ParameterError, "seed = -1: must be a whole number from 0 to 2^63-1"),
    ({"stochastic": True, "seed": 1.5}, TypeError, "seed must be an int"),
    ({"stochastic": True, "realisation": 2 ** 31}, slipvel.ParameterError, "realisation = 2147483648: must be"),
    ({"stochastic": True, "hurst": 0}, slipvel.ParameterError, "hurst = 0: must be greater than 0 and at most 1"),
    ({"stochastic": True, "correlation": (5,)}, TypeError, "correlation must be (ax, az)"),
    ({"stochastic": True, "taper": (0.6, 0.1)}, slipvel.ParameterError, "taper = 0.6:0.1: each must be from 0 to 0.5"),
    ({"stochastic": True, "shallow": (5, 0, 2)}, slipvel.ParameterError, "shallow = 5:0:2:"),
    ({"stochastic": True, "rise_time": -1}, slipvel.ParameterError, "rise_time = -1: must be finite and greater than 0"),
    ({"stochastic": "yes"}, TypeError, "stochastic must be a bool"),
])
def test_stochastic_keywords_are_refused_as_the_options_are(keywords, error, says):
    needs_rupture()
    with pytest.raises(error) as raised:
        slipvel.build_rupture(EXAMPLES / "segments.csv", hypocentre="1:0:5", vr=2.8, **keywords)
    assert says in str(raised.value)


def test_realisations_take_n_as_a_count_and_warn_at_the_callers_line():
    with pytest.raises(TypeError, match="n must be an int"):
        next(slipvel.realisations(EXAMPLES / "segments.csv", n=2.0))
    with pytest.raises(slipvel.ParameterError, match="n = 0: must be at least 1"):
        next(slipvel.realisations(EXAMPLES / "segments.csv", n=0))
    with pytest.raises(TypeError, match="realisations\\(\\) sets realisation itself"):
        next(slipvel.realisations(EXAMPLES / "segments.csv", n=2, realisation=1))
    needs_rupture()
    scenario = dict(trace=EXAMPLES / "scenario-trace.csv", faults=EXAMPLES / "scenario-faults.csv",
                    hypocentre="1:10:5", vr=2.8, dt=0.025)
    with warnings.catch_warnings(record=True) as said:
        warnings.simplefilter("always")
        ruptures = list(slipvel.realisations(n=2, **scenario))
    assert len(ruptures) == 2 and said and all(w.filename == __file__ for w in said)
    with warnings.catch_warnings():
        warnings.simplefilter("error", slipvel.RuptureWarning)  # the caller's filters hold
        with pytest.raises(slipvel.RuptureWarning, match="the front crosses a subfault"):
            next(slipvel.realisations(n=2, **scenario))


def test_the_slip_field_is_a_unit_gaussian_of_its_grid():
    needs_rupture()
    fields = np.array([slipvel.slip_field(100, 30, (1, 1), correlation=(8, 5), seed=4, realisation=k)
                       for k in range(100)])
    assert fields.shape == (100, 30, 100)
    # One node across 100 independent realisations: mean 0 and variance 1 within four standard errors.
    node = fields[:, 15, 50]
    assert abs(node.mean()) < 4 / np.sqrt(100) and abs(node.var() - 1) < 4 * np.sqrt(2 / 100)
    assert np.array_equal(fields[7], slipvel.slip_field(100, 30, (1, 1), correlation=(8, 5), seed=4, realisation=7))
    with pytest.raises(slipvel.ParameterError, match="du = 0: must be finite and greater than 0 km"):
        slipvel.slip_field(100, 30, (0, 1), correlation=(8, 5))



TRACED = {"trace": "fault,lon,lat\n1,-117.60,34.00\n1,-117.35,34.10\n1,-117.10,34.25\n2,-117.10,34.25\n2,-116.9,34.3\n",
          "faults": "fault,dip,wid,dtop,sublen,ndip,rake,slip,vm,tr\n1,75,18,0,3,6,180,1,2,1.5\n2,80,15,0,2,5,175,1,2,1.5\n",
          "patches": "fault,s0,s1,d0,d1,slip\n1,20,30,3,12,2\n"}


def test_faults_by_their_traces_give_the_programs_bytes(tmp_path):
    needs_rupture()
    for name, text in TRACED.items():
        (tmp_path / f"{name}.csv").write_text(text)
    paths = {name: tmp_path / f"{name}.csv" for name in TRACED}
    done = subprocess.run([RUPTURE, "--trace", paths["trace"], "--faults", paths["faults"], "--patches",
                           paths["patches"], "--hypocentre", "1:30:9", "--vr", "2.8", "--max-strike-drift", "0.2",
                           "--srf", tmp_path / "program.srf"], capture_output=True, text=True, check=True)
    rupture = slipvel.build_rupture(trace=paths["trace"], faults={"fault": [1, 2], "dip": [75, 80], "wid": [18, 15],
                                                                  "dtop": [0, 0], "sublen": [3, 2], "ndip": [6, 5],
                                                                  "rake": [180, 175], "slip": [1, 1], "vm": [2, 2],
                                                                  "tr": [1.5, 1.5]},
                                    patches=paths["patches"], hypocentre="1:30:9", vr=2.8, max_strike_drift=0.2)
    rupture.write_srf(tmp_path / "module.srf")
    assert (tmp_path / "module.srf").read_bytes() == (tmp_path / "program.srf").read_bytes()
    assert rupture.hypocentre.segment == 2 and f"{paths['faults']}:2: subfaults of 3" in done.stderr


@pytest.mark.parametrize("keywords, error, says", [
    ({"segments": None}, slipvel.ParameterError, "give segments, or trace with faults: one of them"),
    ({"trace": "trace.csv"}, slipvel.ParameterError, "give segments, or trace with faults: one of them"),
    ({"segments": None, "trace": "trace.csv"}, slipvel.ParameterError, "give trace and faults together"),
    ({"segments": None, "trace": "trace.csv", "faults": "faults.csv", "max_strike_drift": "1"}, TypeError,
     "max_strike_drift must be"),
])
def test_a_fault_given_both_ways_or_half_is_refused(tmp_path, monkeypatch, keywords, error, says):
    needs_rupture()
    monkeypatch.chdir(tmp_path)
    for name, text in TRACED.items():
        Path(f"{name}.csv").write_text(text)
    given = {"segments": EXAMPLES / "segments.csv", "hypocentre": "1:0:5", "vr": 2.8, **keywords}
    with pytest.raises(error) as raised:
        slipvel.build_rupture(**given)
    assert says in str(raised.value)


# A long call stops on Ctrl-C: the process gets SIGINT a second into the call
# and ends within two seconds with KeyboardInterrupt, leaving no file.
INTERRUPTED_CALLS = {
    "a front march over a medium": "slipvel.build_rupture(SEGMENTS, medium=MEDIUM, hypocentre='1:0:10', "
                                   "vr_fraction=0.8, jobs=2)",
    "an SRF file": "R.write_srf(OUT, jobs=2)",
}


@pytest.mark.parametrize("call", INTERRUPTED_CALLS.values(), ids=INTERRUPTED_CALLS.keys())
def test_a_long_call_stops_on_ctrl_c(tmp_path, call):
    needs_rupture()
    segments = tmp_path / "segments.csv"
    segments.write_text("elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr\n"
                        "-118.5,34.2,300,45,200,40,0,2000,1000,90,0.5,1.5,1.2\n")
    code = (f"import slipvel, sys\nSEGMENTS, MEDIUM, OUT = {str(segments)!r}, {str(EXAMPLES / 'medium.csv')!r}, "
            f"{str(tmp_path / 'r.srf')!r}\n"
            "R = slipvel.build_rupture(SEGMENTS, hypocentre='1:0:10', vr=2.8, dt=0.05, jobs=2) if 'R.' in "
            f"{call!r} else None\n"
            f"print('calling', flush=True)\n{call}\nprint('finished', flush=True)\n")
    with subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True) as process:
        assert process.stdout.readline() == "calling\n"
        time.sleep(1)
        process.send_signal(signal.SIGINT)
        sent = time.monotonic()
        try:
            out, err = process.communicate(timeout=30)
        finally:
            process.kill()
        took = time.monotonic() - sent
    assert "finished" not in out
    assert err.rstrip().endswith("KeyboardInterrupt"), err
    assert took < 2, f"{took:.2f} s from SIGINT to the end"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["segments.csv"]
