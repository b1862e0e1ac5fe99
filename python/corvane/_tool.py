"""The ``corvane-qasm3`` command that pip installs: it runs the command-line tool built
with this package, which pip puts inside it, with the same arguments, standard streams and
exit status."""

import os
import pathlib
import subprocess
import sys

__all__ = ["main"]

TOOL = pathlib.Path(__file__).resolve().parent / "corvane-qasm3"


def main() -> None:
    """Runs the tool with this process's arguments, in this process's place where the
    system allows it (so signals and the exit status are the tool's own)."""
    if not os.access(TOOL, os.X_OK):
        sys.stderr.write(f"corvane-qasm3: the command-line tool was not built with this "
                         f"package (no {TOOL})\n")
        sys.exit(2)
    arguments = ["corvane-qasm3", *sys.argv[1:]]
    if os.name == "posix":
        sys.stdout.flush()
        sys.stderr.flush()
        os.execv(TOOL, arguments)
    sys.exit(subprocess.call([str(TOOL), *sys.argv[1:]]))
