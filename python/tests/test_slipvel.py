"""The module against what the slipvel program prints and writes."""
import os
import pickle
import subprocess
import sys
import threading
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
    shape = f.shape
    for name, printed in [("am", 154.264766), ("tb", 0.088203027), ("b", 0.243249097),
                          ("c", 0.170432712), ("ar", 0.161241923), ("eps", 0.0769740377)]:
        assert getattr(shape, name) == pytest.approx(printed, rel=5e-9)
    assert f.ts == 2.114 * 1.5
    assert slip_text.splitlines()[2] == "  0.0050,      0.7349760,      0.0018374,    146.9952099"
    assert f.velocity[1] == pytest.approx(0.7349760, abs=5e-8)
    assert amp_text.splitlines()[1] == "  0.0488,  0.9706E+00,  0.2978E+00"
    assert (s.frequency[0], s.velocity[0]) == (pytest.approx(0.0488, abs=5e-5), pytest.approx(0.9706, abs=5e-5))
    assert len(f.time) == 4096 and len(s.frequency) == 2047
    assert slipvel.__version__ == "0.3.0"


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


def test_results_know_their_sampling_and_pickle():
    f = slipvel.slip_function(dt=0.01, nt=1024, vm=3.0)
    for result in (f, f.spectrum()):
        assert (result.dt, result.nt, result.sampling_rate) == (0.01, 1024, 100.0)
        p = result.parameters
        assert (p.dt, p.nt, p.fmax, p.vm, p.slip, p.tr, p.ts) == (0.01, 1024, 6.0, 3.0, 1.0, 2.114, 2.114 * 1.5)
        assert "vm=3.0" in repr(result)
        back = pickle.loads(pickle.dumps(result))
        assert back.parameters == result.parameters
        assert back.velocity.tobytes() == result.velocity.tobytes()


def test_defaults_are_the_built_in_source():
    signature = slipvel.slip_function.__doc__.splitlines()[0]
    for default in ["dt: object = 0.005", "nt: object = 4096", "fmax: object = 6.0", "vm: object = 4.092",
                    "slip: object = 1.0", "tr: object = 2.114", "ts: object = None"]:
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


def test_slip_until_takes_floats_and_arrays():
    f = slipvel.slip_function()
    times = np.array([[0.0, 1.0], [2.0, 10.0]])
    slips = f.slip_until(times)
    assert slips.shape == times.shape
    assert slips[0, 0] == 0.0
    assert [f.slip_until(float(t)) for t in times.ravel()] == list(slips.ravel())
    assert abs(f.slip_until(10.0) - f.displacement[-1]) < 1e-2  # the whole slip, near the sampled sum


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
