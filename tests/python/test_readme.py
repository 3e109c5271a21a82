"""The README's Python session runs as written (its plot only where matplotlib
is installed), in a folder holding the examples."""
import os
import re
import subprocess
import sys

import quorel
from conftest import SOURCE


def test_the_readmes_python_session_runs(tmp_path):
    readme = (SOURCE / "README.md").read_text(encoding="utf-8")
    section = readme[readme.index("\n## Python\n"):]
    session = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    (tmp_path / "examples").symlink_to(SOURCE / "examples")
    done = subprocess.run([sys.executable, "-c", session], cwd=tmp_path, capture_output=True, text=True,
                          env=dict(os.environ, PYTHONPATH=os.path.dirname(quorel.__file__)), timeout=600)
    assert done.returncode == 0, done.stderr
    synthesis, check = done.stdout.splitlines()
    assert int(synthesis.split()[0]) >= 0 and float(synthesis.split()[2]) <= 10
    assert check.split()[-1] == "True"
