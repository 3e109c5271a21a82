"""The module installs with pip into a fresh virtual environment, offline, from
the installed CMake, pybind11 and setuptools, and imports there."""
import os
import subprocess
import sys

import pytest

from conftest import EXAMPLES, SOURCE

# A whole build of the engine: CTest runs it, a plain pytest run only when asked.
pytestmark = pytest.mark.skipif(os.environ.get("QUOREL_INSTALL_TEST") != "1",
                                reason="set QUOREL_INSTALL_TEST=1 to build and install into a virtual environment")


def test_pip_installs_the_module_into_a_virtual_environment(tmp_path):
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", venv], check=True)
    python = venv / "bin" / "python"
    # A copy of the sources, so that the build leaves the tree under test alone.
    source = tmp_path / "source"
    files = subprocess.run(["git", "-C", SOURCE, "ls-files", "-co", "--exclude-standard", "-z"], check=True,
                           capture_output=True).stdout.decode().split("\0")
    for name in filter(None, files):
        if (SOURCE / name).is_file():
            (source / name).parent.mkdir(parents=True, exist_ok=True)
            (source / name).write_bytes((SOURCE / name).read_bytes())
    env = dict(os.environ, PIP_NO_INDEX="1", PYTHONPATH="")
    subprocess.run([python, "-m", "pip", "install", "--no-build-isolation", "-q", source], check=True, env=env,
                   cwd=tmp_path)
    check = ("import quorel, pathlib; f, a = quorel.read_spec(%r); "
             "print(quorel.__file__, len(f), (pathlib.Path(quorel.__file__).parent / 'quorel.pyi').exists())"
             % str(EXAMPLES / "functional.txt"))
    out = subprocess.run([python, "-c", check], check=True, capture_output=True, text=True, env=env,
                         cwd=tmp_path).stdout.split()
    assert out[0].startswith(str(venv)) and out[1:] == ["3", "True"]
