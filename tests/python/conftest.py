"""Virtual arms served by tessaro-cli serve, each in a runtime folder of its own, and what they received."""

import contextlib
import os
import subprocess
import sys
import time

import pytest

import tessaro


class VirtualArm:
    def __init__(self, kind, folder):
        os.makedirs(folder / "run", mode=0o700)
        self.log = folder / "arm.log"
        self.env = dict(os.environ, XDG_RUNTIME_DIR=str(folder / "run"), TESSARO_VIRTUAL_ARM=kind,
                        TESSARO_VIRTUAL_ARM_LOG=str(self.log))
        self._read = 0

    @contextlib.contextmanager
    def environment(self):
        saved = dict(os.environ)
        os.environ.update(self.env)
        try:
            yield
        finally:
            os.environ.clear()
            os.environ.update(saved)

    def arm(self):
        """A tessaro.Arm on this virtual arm; the first starts its service."""
        with self.environment():
            return tessaro.Arm()

    def sent(self, least=0, timeout=3.0):
        """The commands the arm received since the last call, (seconds, code, hex bytes), waiting for `least`."""
        deadline = time.monotonic() + timeout
        while True:
            lines = self.log.read_text().splitlines()[self._read:] if self.log.exists() else []
            if len(lines) >= least or time.monotonic() > deadline:
                break
            time.sleep(0.02)
        self._read += len(lines)
        return [(float(f[0]), int(f[1]), f[2]) for f in (line.split() for line in lines)]

    def python(self, code):
        """A child interpreter running code on this arm (its service already started)."""
        return subprocess.Popen([sys.executable, "-c", code], env=self.env, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True)


@pytest.fixture(scope="session")
def virtual_arms(tmp_path_factory):
    arms = {}

    def get(kind):
        if kind not in arms:
            arms[kind] = VirtualArm(kind, tmp_path_factory.mktemp(kind))
            arms[kind].arm().close()  # its service starts, and serves to the end
            arms[kind].sent()
        return arms[kind]

    return get
