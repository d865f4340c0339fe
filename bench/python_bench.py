"""Times slip_function + spectrum (nt = 4096) from Python: the work of the C++
benchmark BM_function_and_spectrum. Prints the least time per call of ROUNDS
rounds, in microseconds.

Usage: PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py [ROUNDS]
"""
import sys
import timeit

import slipvel


def work():
    f = slipvel.slip_function(nt=4096)
    f.spectrum()


rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 15
calls = 1000
best = min(timeit.repeat(work, number=calls, repeat=rounds)) / calls
print(f"python slip_function + spectrum  {best * 1e6:8.1f} us")
