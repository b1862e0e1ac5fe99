"""The README's Python section: its example runs, and its one-line round trip of the
shipped example prints what the tool's convert --flat writes."""

import os
import pathlib
import shlex
import subprocess
import sys


import corvane
from helpers import SOURCE_DIR, tool_path


def python_section():
    text = (SOURCE_DIR / "README.md").read_text(encoding="utf-8")
    start = text.index("\n## Python\n")
    end = text.find("\n## ", start + 1)
    return text[start:end if end != -1 else len(text)]


def fenced_blocks(section, language):
    blocks, inside, lines = [], False, []
    for line in section.split("\n"):
        if not inside and line == "```" + language:
            inside, lines = True, []
        elif inside and line == "```":
            inside = False
            blocks.append("\n".join(lines) + "\n")
        elif inside:
            lines.append(line)
    return blocks


def test_python_example_runs():
    (example,) = fenced_blocks(python_section(), "python")
    exec(compile(example, "README.md", "exec"), {"__name__": "readme_example"})


def test_one_line_round_trip_matches_the_tool():
    (commands,) = fenced_blocks(python_section(), "sh")
    (line,) = [c for c in commands.splitlines() if c.startswith("PYTHONPATH=build/python ")]
    words = shlex.split(line)
    assert words[1:3] == ["python3", "-c"]
    package_root = pathlib.Path(corvane.__file__).resolve().parents[1]
    run = subprocess.run([sys.executable, "-c", words[3]], cwd=SOURCE_DIR, capture_output=True,
                         text=True, env={**os.environ, "PYTHONPATH": str(package_root)},
                         timeout=120)
    assert run.returncode == 0, run.stderr
    tool = tool_path()
    flat = subprocess.run([str(tool), "convert", "--strict", "--flat", "examples/teleport.qasm"],
                          cwd=SOURCE_DIR, capture_output=True, text=True, timeout=60)
    assert flat.returncode == 0, flat.stderr
    assert run.stdout == flat.stdout + "\n"
