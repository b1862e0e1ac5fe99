"""The names importable from corvane, the type information the package ships (py.typed, the
stub of the native core) and the docstrings that say what each argument takes."""

import ast
import importlib.util
import inspect
import pathlib
import re
import subprocess
import sys

import pytest

import corvane
from corvane import _native
from corvane.backend.gate.gatebase import QuantumGate
from corvane.backend.gatesequence.gatesequence import GateSequence
from corvane.backend.pygates import unitary
from corvane.backend.qasm import qasm3

PACKAGE_DIR = pathlib.Path(corvane.__file__).resolve().parent
USAGE = pathlib.Path(__file__).resolve().parent / "typing" / "usage.py"


@pytest.mark.parametrize("name, home", [
    ("qasm3_to_gate_sequence", qasm3), ("gate_sequence_to_qasm3", qasm3),
    ("lower_qasm3", qasm3), ("lower_to_gate_sequence", qasm3), ("QuantumGate", "corvane.backend.gate.gatebase"),
    ("GateSequence", "corvane.backend.gatesequence.gatesequence"),
    ("circuit_unitary", "corvane.backend.gatesequence.gatesequence"),
])
def test_main_names_come_from_corvane_itself(name, home):
    module = home if not isinstance(home, str) else sys.modules[home]
    assert getattr(corvane, name) is getattr(module, name)
    assert name in corvane.__all__


def test_every_name_in_all_exists():
    for module in (corvane, qasm3, sys.modules["corvane.backend.gate.gatebase"],
                   sys.modules["corvane.backend.gatesequence.gatesequence"],
                   unitary):
        assert all(hasattr(module, name) for name in module.__all__), module.__name__


def stub_tree():
    return ast.parse((PACKAGE_DIR / "_native.pyi").read_text(encoding="utf-8"))


def test_the_package_ships_its_type_information():
    assert (PACKAGE_DIR / "py.typed").is_file()
    defined = set()
    for node in stub_tree().body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            defined.add(node.name)
        elif isinstance(node, ast.AnnAssign):
            defined.add(node.target.id)
    public = {name for name in vars(_native) if not name.startswith("__") or name == "__version__"}
    assert public <= defined, public - defined


def test_the_stub_has_every_attribute_of_a_record():
    (gate_class,) = [n for n in stub_tree().body
                     if isinstance(n, ast.ClassDef) and n.name == "QuantumGate"]
    properties = {n.name for n in gate_class.body if isinstance(n, ast.FunctionDef)
                  and any(isinstance(d, ast.Name) and d.id == "property" for d in n.decorator_list)}
    attributes = {name for name, value in vars(QuantumGate).items()
                  if inspect.isgetsetdescriptor(value) and not name.startswith("__")}
    assert properties == attributes
    init = next(n for n in gate_class.body if isinstance(n, ast.FunctionDef)
                and n.name == "__init__")
    assert {a.arg for a in init.args.kwonlyargs} == attributes
    assert set(inspect.signature(QuantumGate).parameters) == attributes


@pytest.mark.parametrize("function", [
    qasm3.gate_sequence_to_qasm3, qasm3.qasm3_to_gate_sequence, qasm3.lower_qasm3,
    qasm3.lower_to_gate_sequence,
    corvane.circuit_unitary, GateSequence.__init__, GateSequence.add_gate, QuantumGate,
], ids=lambda f: f.__qualname__)
def test_docstrings_say_what_each_argument_takes(function):
    doc = inspect.getdoc(function) or ""
    if function is GateSequence.__init__:
        doc = inspect.getdoc(GateSequence)
    for name in inspect.signature(function).parameters:
        if name != "self":
            assert re.search(rf"\b{name}\b", doc), f"{function.__qualname__}: {name}"


def mypy(tmp_path, *arguments):
    """mypy --strict's error lines for `arguments`, with the tested package on its path."""
    run = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--cache-dir", str(tmp_path),
         "--no-error-summary", *arguments],
        capture_output=True, text=True, timeout=600,
        env={"MYPYPATH": str(PACKAGE_DIR.parent), "PATH": "/usr/bin:/bin"})
    assert run.returncode in (0, 1), run.stderr
    return run.stdout.splitlines()


def test_a_type_checker_knows_the_signatures(tmp_path):
    if importlib.util.find_spec("mypy") is None:
        pytest.skip("mypy is not installed (Debian: apt-get install mypy)")
    reported = set()
    # The package's modules that usage.py imports are checked too, and must be clean.
    for line in mypy(tmp_path, str(USAGE)):
        found = re.match(r".*usage\.py:(\d+): error:", line)
        assert found or ": note:" in line, line
        if found:
            reported.add(int(found.group(1)))
    marked = {number for number, line in enumerate(USAGE.read_text().splitlines(), 1)
              if line.endswith("# error")}
    assert reported == marked
