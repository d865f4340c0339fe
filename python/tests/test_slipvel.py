"""The module against what the slipvel program prints and writes."""
import os
import subprocess
import threading

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
    assert slipvel.__version__ == "0.2.0"


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
    v.setflags(write=True)  # allowed on a copy of one's own, but it is only that
    v[10] = 99.0
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
