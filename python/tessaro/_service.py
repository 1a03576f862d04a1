"""Finding the arm service, and starting `tessaro-cli serve` when nobody serves the arm."""

import atexit
import os
import signal
import socket
import threading
import time

from .errors import ServiceError

# The arms' USB ids: the HID board and the interface kit (two product ids).
_ARM_IDS = {("1e6f", "1113"), ("1267", "0000"), ("1267", "0001")}


def socket_path():
    """Where the service of this user listens, as `tessaro-cli serve` prints it."""
    runtime = os.environ.get("XDG_RUNTIME_DIR")
    folder = os.path.join(runtime, "tessaro") if runtime else "/tmp/tessaro-%d" % os.getuid()
    return os.path.join(folder, "arm.sock")


def find_cli():
    """The tessaro-cli to start: $TESSARO_CLI, the build tree beside this package, then PATH."""
    named = os.environ.get("TESSARO_CLI")
    if named:
        return named
    here = os.path.dirname(os.path.abspath(__file__))
    built = os.path.join(here, os.pardir, os.pardir, "build", "bin", "tessaro-cli")
    if os.access(built, os.X_OK):
        return os.path.normpath(built)
    import shutil  # only a program that starts the service pays for it

    found = shutil.which("tessaro-cli")
    if found:
        return found
    raise ServiceError("cannot find tessaro-cli to serve the arm: build it (./run), install the tessaro "
                       "package, or name it in TESSARO_CLI")


def connect(path):
    """A socket connected to the service at path, or None when nobody serves there."""
    sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    try:
        sock.connect(path)
    except (FileNotFoundError, ConnectionRefusedError):
        sock.close()
        return None
    except OSError as e:
        sock.close()
        raise ServiceError("cannot reach the arm service at %s: %s" % (path, e.strerror)) from None
    return sock


class _Served:
    """A `tessaro-cli serve` this program started: it serves until the program ends."""

    def __init__(self, cli, path):
        import subprocess  # only a program that starts the service pays for it

        self.path = path
        self.lines = []
        self._ready = threading.Event()
        self.proc = subprocess.Popen(
            [cli, "serve"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            # A session of its own: the terminal's Ctrl+C is this program's to handle (it stops the arm
            # first), not the service's.
            start_new_session=True, preexec_fn=_die_with_parent)
        for stream in (self.proc.stdout, self.proc.stderr):
            threading.Thread(target=self._drain, args=(stream,), daemon=True).start()

    def _drain(self, stream):
        # Read to the end, so that the service never waits on a full pipe.
        for raw in stream:
            line = raw.decode("utf-8", "replace").rstrip("\n")
            if len(self.lines) < 50:
                self.lines.append(line)
            if line.startswith("Serving the arm at "):
                self.path = line[len("Serving the arm at "):]
                self._ready.set()

    def wait_ready(self, timeout):
        """Whether it serves; False when it ended first (another program serves, or it failed)."""
        deadline = time.monotonic() + timeout
        while not self._ready.wait(0.01):
            if self.proc.poll() is not None or time.monotonic() > deadline:
                return self._ready.is_set()
        return True

    def why(self):
        told = [line[len("tessaro-cli: "):] for line in self.lines if line.startswith("tessaro-cli: ")]
        return told[-1] if told else "tessaro-cli serve ended with status %s" % self.proc.returncode

    def end(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)  # it stops the arm, then ends
            try:
                self.proc.wait(10)
            except Exception:
                self.proc.kill()


def _die_with_parent():
    # Should this program be killed, the service it started ends too (after stopping the arm).
    try:
        import ctypes

        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    except Exception:
        pass


_lock = threading.Lock()
_started = {}


def open_socket(start=True, timeout=10.0):
    """A socket connected to this user's arm service, starting one for this program if none answers."""
    path = socket_path()
    sock = connect(path)
    if sock or not start:
        if sock is None:
            raise ServiceError("no program serves the arm at %s" % path)
        return sock
    with _lock:
        served = _started.get(path)
        if served is None or served.proc.poll() is not None:
            served = _Served(find_cli(), path)
            if served.wait_ready(timeout):
                _started[path] = served
            elif served.proc.returncode != 7:  # 7: another program serves since, as good
                served.end()
                raise ServiceError("cannot serve the arm: %s" % served.why())
    sock = connect(served.path)
    if sock is None:
        raise ServiceError("the arm service at %s does not answer" % served.path)
    return sock


@atexit.register
def stop_services():
    """Ends the services this program started (each stops the arm first)."""
    with _lock:
        for served in _started.values():
            served.end()
        _started.clear()


def attached_arm_denied():
    """Whether an arm is plugged in that this user may not open (sysfs and the device nodes)."""
    base = "/sys/bus/usb/devices"
    try:
        names = os.listdir(base)
    except OSError:
        return False
    for name in names:
        folder = os.path.join(base, name)
        try:
            with open(os.path.join(folder, "idVendor")) as v, open(os.path.join(folder, "idProduct")) as p:
                ids = (v.read().strip(), p.read().strip())
            if ids not in _ARM_IDS:
                continue
            with open(os.path.join(folder, "busnum")) as b, open(os.path.join(folder, "devnum")) as d:
                node = "/dev/bus/usb/%03d/%03d" % (int(b.read()), int(d.read()))
        except (OSError, ValueError):
            continue
        if ids[0] == "1e6f":  # the HID board is opened through its hidraw nodes
            nodes = ["/dev/" + n for _, dirs, _ in os.walk(folder) for n in dirs if n.startswith("hidraw")]
        else:
            nodes = [node]
        if any(os.path.exists(n) and not os.access(n, os.R_OK | os.W_OK) for n in nodes):
            return True
    return False
