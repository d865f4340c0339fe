"""Times from Python the work of a C++ benchmark and prints the least time per
call of ROUNDS rounds, in microseconds:

  function    slip_function + spectrum (nt = 4096), BM_function_and_spectrum
  slip_until  f.slip_until of 10^6 times 0, 4e-6, ... s, BM_slip_until_many

Usage: PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py [ROUNDS] [WORK]
"""
import sys
import timeit

import numpy as np

import slipvel


def function_and_spectrum():
    f = slipvel.slip_function(nt=4096)
    f.spectrum()


TIMES = np.arange(10**6) * (4.0 / 10**6)  # the bits of the C++ benchmark's k * (4.0 / 1e6)
F = slipvel.slip_function()

WORK = {
    "function": ("slip_function + spectrum", function_and_spectrum, 1000),
    "slip_until": ("slip_until of 10^6 times", lambda: F.slip_until(TIMES), 20),
}

rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 15
name, work, calls = WORK[sys.argv[2] if len(sys.argv) > 2 else "function"]
best = min(timeit.repeat(work, number=calls, repeat=rounds)) / calls
print(f"python {name}  {best * 1e6:8.1f} us")
