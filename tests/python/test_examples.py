import os
import pathlib
import subprocess
import sys

import pytest

EXAMPLES = sorted((pathlib.Path(__file__).parents[2] / "examples").glob("*.py"))


# Each lesson runs to its end on a virtual kit, with a service of its own, and drives the arm.
@pytest.mark.parametrize("lesson", EXAMPLES, ids=[p.stem for p in EXAMPLES])
def test_example_runs_on_a_virtual_kit(tmp_path, lesson):
    (tmp_path / "run").mkdir(mode=0o700)
    env = {"XDG_RUNTIME_DIR": str(tmp_path / "run"), "TESSARO_VIRTUAL_ARM": "kit",
           "TESSARO_VIRTUAL_ARM_LOG": str(tmp_path / "arm.log")}
    done = subprocess.run([sys.executable, str(lesson)], env={**os.environ, **env},
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    motions = [line.split()[2] for line in (tmp_path / "arm.log").read_text().splitlines()]
    assert any(m != "000000" for m in motions) and motions[-1] == "000000", motions
