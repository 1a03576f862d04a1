"""One connection to the arm service: JSON lines both ways, replies matched to requests by id."""

import json
import threading

from .errors import ServiceError


class Reply:
    """A request's reply, filled in by the reading thread when it comes."""

    __slots__ = ("_done", "value")

    def __init__(self):
        self._done = threading.Event()
        self.value = None

    def set(self, value):
        self.value = value
        self._done.set()

    def done(self):
        return self._done.is_set()

    def wait(self, timeout=None):
        """The reply (a dict); ServiceError when it does not come in time or the service went away.

        Waits in slices, so that Ctrl+C is taken at once.
        """
        if not self._done.wait(timeout):
            raise ServiceError("the arm service did not answer within %g s" % timeout)
        if isinstance(self.value, Exception):
            raise self.value
        return self.value


class Connection:
    def __init__(self, sock, timeout=10.0):
        self._sock = sock
        self._in = sock.makefile("rb")
        sock.settimeout(timeout)
        try:
            greeting = json.loads(self._in.readline() or b"null")
        except (OSError, ValueError) as e:
            sock.close()
            raise ServiceError("the arm service did not greet: %s" % e) from None
        sock.settimeout(None)
        if not isinstance(greeting, dict) or greeting.get("hello") != "tessaro":
            sock.close()
            raise ServiceError("the program at the arm's socket is not the arm service")
        if greeting.get("protocol") != 1:
            sock.close()
            raise ServiceError("the arm service speaks protocol %s; this package speaks 1" % greeting.get("protocol"))
        self.greeting = greeting
        self._write = threading.Lock()
        self._next = 0
        self._pending = {}
        self._lost = None
        self.on_event = None  # called on the reading thread with each event
        self._reader = threading.Thread(target=self._read, name="tessaro-reader", daemon=True)
        self._reader.start()

    def send(self, cmd, **fields):
        """Sends a request; its Reply is filled in when the service answers."""
        reply = Reply()
        with self._write:
            if self._lost:
                raise ServiceError(self._lost)
            self._next += 1
            self._pending[self._next] = reply
            line = json.dumps({"id": self._next, "cmd": cmd, **fields}, separators=(",", ":")) + "\n"
            try:
                self._sock.sendall(line.encode())
            except OSError as e:
                del self._pending[self._next]
                raise ServiceError("the arm service went away: %s" % e.strerror) from None
        return reply

    def ask(self, cmd, timeout=10.0, **fields):
        return self.send(cmd, **fields).wait(timeout)

    def close(self):
        with self._write:
            self._lost = self._lost or "the connection to the arm service was closed"
        try:
            self._sock.shutdown(2)
        except OSError:
            pass
        self._sock.close()
        self._reader.join(5)

    def _read(self):
        why = "the arm service went away"
        try:
            for line in self._in:
                try:
                    message = json.loads(line)
                except ValueError:
                    continue
                if "event" in message:
                    if self.on_event:
                        self.on_event(message)
                    continue
                with self._write:
                    reply = self._pending.pop(message.get("id"), None)
                if reply:
                    reply.set(message)
        except (OSError, ValueError):
            pass
        with self._write:
            self._lost = self._lost or why
            pending, self._pending = self._pending, {}
        for reply in pending.values():
            reply.set(ServiceError(why))
