"""Measures what the Python module adds to the C++ converter.

Times the import and the export of a generated program of N statements (10^6 by default):
the C++ core alone (corvane._native._time_cxx_round_trip, no Python values at all), and the
module's qasm3_to_gate_sequence and gate_sequence_to_qasm3. The export is timed twice: on
the sequence as imported (its records are lent to the exporter as they are), and after one
record was replaced by a new QuantumGate, which makes the export copy every record. Reports
the best of several rounds and the ratios; with --check, exits 1 when a ratio passes 2.

    PYTHONPATH=build/python python3 python/benchmarks/bench_overhead.py [--statements N] [--rounds R]
"""

import argparse
import gc
import sys
import time

from corvane import _native
from corvane.backend.gate.gatebase import QuantumGate
from corvane.backend.qasm import qasm3


def generated_program(statements):
    """A circuit over 16 qubits mixing the common statement kinds."""
    width = 16
    lines = ["OPENQASM 3.0;", 'include "stdgates.inc";', f"qubit[{width}] q;", f"bit[{width}] c;"]
    kinds = (
        lambda i: f"h q[{i % width}];",
        lambda i: f"cx q[{i % width}], q[{(i + 1) % width}];",
        lambda i: f"rz({(i % 97) / 16}) q[{i % width}];",
        lambda i: f"ctrl @ ry(pi/{i % 7 + 1}) q[{i % width}], q[{(i + 3) % width}];",
        lambda i: f"measure q[{i % width}] -> c[{i % width}];",
    )
    lines += [kinds[i % len(kinds)](i) for i in range(statements)]
    return "\n".join(lines) + "\n"


def timed(action):
    start = time.perf_counter()
    result = action()
    return time.perf_counter() - start, result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--statements", type=int, default=1_000_000)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--check", action="store_true", help="exit 1 when a ratio passes 2")
    args = parser.parse_args()

    code = generated_program(args.statements)
    print(f"program: {args.statements} statements, {len(code) / 1e6:.1f} MB")
    best = {"cxx import": float("inf"), "cxx export": float("inf"), "py import": float("inf"),
            "py export": float("inf"), "py export (copying)": float("inf"),
            "py release": float("inf")}
    gc.disable()  # the records hold no cycles; a collection mid-run would only add noise
    for _ in range(args.rounds):
        cxx = _native._time_cxx_round_trip(code)
        best["cxx import"] = min(best["cxx import"], cxx["import"])
        best["cxx export"] = min(best["cxx export"], cxx["export"])

        seconds, gs = timed(lambda: qasm3.qasm3_to_gate_sequence(code))
        best["py import"] = min(best["py import"], seconds)
        layout = {"qregs": gs._qasm_quantum_registers, "cregs": gs._qasm_classical_registers}
        seconds, text = timed(lambda: qasm3.gate_sequence_to_qasm3(gs, **layout))
        best["py export"] = min(best["py export"], seconds)
        assert len(gs.data()) == cxx["gates"] and text.startswith("OPENQASM 3.0;")
        del text
        first = gs.data()[0]
        gs.data()[0] = QuantumGate(id=first.id, target=first.target, control=first.control,
                                   control_state=first.control_state, parameter=first.parameter)
        seconds, copied = timed(lambda: qasm3.gate_sequence_to_qasm3(gs, **layout))
        best["py export (copying)"] = min(best["py export (copying)"], seconds)
        del copied
        seconds, _ = timed(lambda: gs.data().clear())
        best["py release"] = min(best["py release"], seconds)
        del gs
    gc.enable()

    for name, seconds in best.items():
        print(f"{name:>19}: {seconds * 1e3:9.1f} ms")
    ratios = {"import": best["py import"] / best["cxx import"],
              "export": best["py export"] / best["cxx export"],
              "export (copying)": best["py export (copying)"] / best["cxx export"]}
    for name, ratio in ratios.items():
        print(f"{name}: {ratio:.2f}x the C++ {name.split()[0]} alone (target <= 2x)")
    if args.check and max(ratios.values()) > 2:
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
