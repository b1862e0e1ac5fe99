"""Conversions release the GIL while the C++ core works: other threads keep running, and
conversions in several threads give the same results as one after another."""

import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor

from corvane.backend.qasm import qasm3
from helpers import sequence_value

# Much work for the importer, little for building Python records: the skipped header
# statements dominate.
SLOW_PROGRAM = "qubit[2] q;\n" + 'include "stdgates.inc";\n' * 800_000 + "h q[0];\n"


def program(width, depth):
    lines = [f"qubit[{width}] q;", f"bit[{width}] c;"]
    for layer in range(depth):
        for k in range(width - 1):
            lines.append(f"rz({layer}.5) q[{k}];")
            lines.append(f"ctrl @ x q[{k}], q[{k + 1}];")
    lines.append("c = measure q;")
    return "\n".join(lines) + "\n"


def test_other_threads_run_while_the_importer_works():
    # With an endless switch interval a thread keeps the GIL until it blocks. Between its
    # two readings of the count the worker blocks nowhere but in the importer, so the main
    # thread can move the count in between only while the importer lets go of the GIL.
    # The deadline only ends the worker's tries when the GIL is never let go.
    count, moved = [0], []

    def work():
        deadline = time.monotonic() + 60
        while not moved and time.monotonic() < deadline:
            before = count[0]
            qasm3.qasm3_to_gate_sequence(SLOW_PROGRAM)
            if count[0] != before:
                moved.append(True)

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e6)
    try:
        worker = threading.Thread(target=work)
        worker.start()
        while worker.is_alive():
            count[0] += 1
            worker.join(0.001)  # lets go of the GIL for a moment
    finally:
        sys.setswitchinterval(interval)
    assert moved


def outcome(text):
    try:
        gs = qasm3.qasm3_to_gate_sequence(text)
    except ZeroDivisionError as error:
        return str(error)
    return sequence_value(gs), qasm3.gate_sequence_to_qasm3(gs)


def test_threads_convert_in_parallel_with_the_same_results_and_errors():
    programs = [program(5, 300), program(8, 200), "qubit[1] q;\nrz(1/0) q[0];", program(5, 300)]
    expected = [outcome(text) for text in programs]
    assert expected[2] == "float division by zero"
    barrier = threading.Barrier(len(programs))

    def convert(text):
        barrier.wait()  # every task's first step: reached by all four
        return [outcome(text) for _ in range(3)]

    with ThreadPoolExecutor(max_workers=len(programs)) as pool:
        futures = [pool.submit(convert, text) for text in programs]
        outcomes = [f.result(timeout=120) for f in futures]
    for got, want in zip(outcomes, expected):
        assert got == [want] * 3


def test_records_changed_while_another_thread_exports_them():
    gs = qasm3.qasm3_to_gate_sequence(program(8, 4000))
    original = qasm3.gate_sequence_to_qasm3(gs)
    first = gs.data()[0]
    changed = original.replace("\nrz(0.5) q[0];\n", "\nrx(0.5) q[0];\n", 1)
    assert changed != original

    exported = []
    worker = threading.Thread(target=lambda: exported.append(qasm3.gate_sequence_to_qasm3(gs)))
    worker.start()
    first.id = "rx"  # once at least, should the export end first
    while worker.is_alive():
        first.id = "rx"
    worker.join()
    # The export sees the record either before or after the change, never torn.
    assert exported[0] in (original, changed)
    assert first.id == "rx" and gs.data()[0] is first
    assert qasm3.gate_sequence_to_qasm3(gs) == changed
