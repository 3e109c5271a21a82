"""Shared helpers of the Python module's tests: the programs of the build,
the examples, and runs of the command line to compare with."""
import json
import os
import subprocess
from pathlib import Path

import pytest

SOURCE = Path(os.environ.get("QUOREL_SOURCE_DIR", Path(__file__).resolve().parents[2]))
EXAMPLES = SOURCE / "examples"
PROGRAM = Path(os.environ.get("QUOREL_PROGRAM", SOURCE / "build" / "quorel"))


def run_quorel(args, cwd=None):
    """The command line with `args`; its status, standard output and error."""
    done = subprocess.run([str(PROGRAM), *map(str, args)], cwd=cwd, capture_output=True, text=True, timeout=600)
    return done.returncode, done.stdout, done.stderr


def read_summary(folder):
    with open(Path(folder) / "summary.json", encoding="utf-8") as file:
        return json.load(file)


def read_csv(path):
    """The text fields of every row after the header."""
    lines = Path(path).read_text(encoding="utf-8").splitlines()[1:]
    return [line.split(",") for line in lines]


@pytest.fixture
def in_tmp(tmp_path, monkeypatch):
    """A fresh working directory."""
    monkeypatch.chdir(tmp_path)
    return tmp_path
