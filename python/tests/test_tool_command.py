"""The corvane-qasm3 command of the package (corvane._tool, the console entry point pip
installs): it runs the tool inside the package with the same arguments, standard streams and
exit status."""

import os
import pathlib
import subprocess
import sys

import pytest

import corvane
from corvane import _tool
from helpers import EXAMPLES_DIR, tool_path

# Runs the entry point as its console script does; the first argument, when not empty,
# names another tool.
LAUNCH = ("import pathlib, sys; from corvane import _tool; tool = sys.argv.pop(1); "
          "_tool.TOOL = pathlib.Path(tool) if tool else _tool.TOOL; _tool.main()")


def command(*arguments, stdin=None, tool=""):
    environment = {**os.environ, "PYTHONPATH": str(pathlib.Path(corvane.__file__).parents[1])}
    return subprocess.run([sys.executable, "-c", LAUNCH, tool, *arguments], input=stdin,
                          capture_output=True, text=True, env=environment, timeout=60)


def direct(*arguments, stdin=None):
    return subprocess.run([str(tool_path()), *arguments], input=stdin, capture_output=True,
                          text=True, timeout=60)


@pytest.fixture(autouse=True)
def tool_in_the_package():
    if not os.access(_tool.TOOL, os.X_OK):
        pytest.skip(f"the tool is not in the package at {_tool.TOOL}")


BELL = str(EXAMPLES_DIR / "bell.qasm")


@pytest.mark.parametrize("arguments, stdin", [
    (["--version"], None), (["--help"], None), (["convert", BELL], None),
    (["convert", "-"], (EXAMPLES_DIR / "teleport.qasm").read_text(encoding="utf-8")),
    (["import"], "qubit[1] q;\nrz(1/0) q[0];\n"),   # a conversion error: status 1
    (["convert", "--no-such-option"], None),         # a usage error: status 2
    (["export", str(EXAMPLES_DIR / "no-such-file.json")], None),
])
def test_the_command_is_the_tool(arguments, stdin):
    through, tool = command(*arguments, stdin=stdin), direct(*arguments, stdin=stdin)
    assert (through.returncode, through.stdout, through.stderr) == \
        (tool.returncode, tool.stdout, tool.stderr)


def test_a_package_without_the_tool_says_so():
    run = command("--version", tool="/nonexistent/corvane-qasm3")
    assert run.returncode == 2 and run.stdout == ""
    assert run.stderr.startswith("corvane-qasm3: the command-line tool was not built")
