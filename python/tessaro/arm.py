"""The arm, as a Python program drives it through the arm service."""

import os
import re
import threading
import time

from . import _service
from ._connection import Connection
from .errors import (ArmPermissionError, CombinedMotionRefused, ControlError, Disconnected, EndReached, NoArmError,
                     NO_ARM_ADVICE, PERMISSION_ADVICE, Refused, ServiceError)

# Each joint and its two ways, as the window's buttons name them.
WAYS = {
    "base": ("ccw", "cw"),
    "shoulder": ("up", "down"),
    "elbow": ("up", "down"),
    "wrist": ("up", "down"),
    "gripper": ("open", "close"),
}
MAX_SECONDS = 60.0

_END_MESSAGE = re.compile(r"^\w+ at its \w+ end \(estimated\)$")


def _joints(joints):
    """The joints of a motion, checked: {"elbow": "up", ...}."""
    if not joints:
        raise ValueError("a motion needs at least one joint, as in move(elbow=\"up\", seconds=1)")
    checked = {}
    for joint, way in joints.items():
        if joint not in WAYS:
            raise ValueError("%r is no joint: the joints are %s" % (joint, ", ".join(WAYS)))
        way = str(way).lower()
        if way not in WAYS[joint]:
            raise ValueError("the %s goes %s, not %r" % (joint, " or ".join(WAYS[joint]), way))
        checked[joint] = way
    return checked


def _ms(seconds):
    if not isinstance(seconds, (int, float)) or not 0 < seconds <= MAX_SECONDS:
        raise ValueError("a motion lasts more than 0 and at most %g seconds, not %r" % (MAX_SECONDS, seconds))
    return max(1, round(seconds * 1000))


def _describe(joints):
    return ", ".join("%s %s" % item for item in joints.items())


class Motion:
    """How a motion ended.

    seconds  how long the motors ran
    ended    "done" (it ran its time), "stopped", "end stop", "time limit", "not renewed"
    at_end   True when it was cut at an end: the pose estimate's end stop or the runaway limit
    message  the service's word on it ("Elbow at its upper end (estimated)"), or ""
    """

    __slots__ = ("joints", "seconds", "ended", "message")

    def __init__(self, joints, reply):
        self.joints = joints
        self.seconds = reply.get("ranMs", 0) / 1000.0
        self.ended = reply.get("ended", "")
        self.message = reply.get("message", "")

    @property
    def at_end(self):
        return self.ended in ("end stop", "time limit")

    def __repr__(self):
        how = "cut at an end" if self.at_end else self.ended
        text = "%s: ran %.2f s, %s" % (_describe(self.joints), self.seconds, how)
        return "Motion(%s)" % (text + ": " + self.message if self.message else text)


class Run:
    """How a script run (play, return_to_start) ended.

    ended       "finished" or "stopped"
    seconds     how long it ran
    step        the step it was at, repetition the repetition
    message     for a finished run, the steps cut short at an end; for a stopped one, by whom
    """

    __slots__ = ("ended", "seconds", "step", "repetition", "message")

    def __init__(self, reply):
        self.ended = reply.get("ended", "")
        self.seconds = reply.get("seconds", 0.0)
        self.step = reply.get("step", 0)
        self.repetition = reply.get("repetition", 0)
        self.message = reply.get("message", "")

    def __repr__(self):
        text = "%s after %.1f s at step %d of repetition %d" % (self.ended, self.seconds, self.step, self.repetition)
        return "Run(%s)" % (text + ": " + self.message if self.message else text)


class JointPose:
    """What the pose estimate knows of one joint.

    knowledge   "unknown", "from start" (after set_start) or "at ends" (driven into an end)
    degrees     the best guess; low and high where the joint surely is; band its "± N°"
    uncertain   the band is too wide for the joint's end stops to apply
    start_band  how far it may be from the start pose (None before set_start or while unknown)
    """

    __slots__ = ("knowledge", "degrees", "low", "high", "band", "uncertain", "start_band")

    def __init__(self, fields):
        for name in self.__slots__[:-1]:
            setattr(self, name, fields.get(name))
        self.start_band = fields.get("startBand")

    def __str__(self):
        if self.knowledge == "unknown":
            return "unknown"
        text = "%.1f° ±%.1f° (%s)" % (self.degrees, self.band, self.knowledge)
        return text + " uncertain" if self.uncertain else text

    __repr__ = __str__


class Pose:
    """The pose estimate: one JointPose per joint (pose.elbow, pose["elbow"]) and start_set.

    The arm has no sensors: the estimate comes from how long each motion ran, with a band that holds
    every arm it allows for.
    """

    def __init__(self, reply):
        self.start_set = bool(reply.get("startSet"))
        self.joints = {name: JointPose(reply.get("joints", {}).get(name, {})) for name in WAYS}

    def __getitem__(self, joint):
        return self.joints[joint]

    def __getattr__(self, joint):
        try:
            return self.__dict__["joints"][joint]
        except KeyError:
            raise AttributeError(joint) from None

    def __repr__(self):
        head = "Pose (start pose set)" if self.start_set else "Pose (no start pose)"
        return "\n".join([head] + ["  %-9s %s" % (name, joint) for name, joint in self.joints.items()])


class Joint:
    """One joint of the arm. Each way is a method that runs the joint that way for some seconds:

        arm.elbow.up(1.5)      blocks 1.5 s and returns the Motion (how long it ran, whether cut at an end)
        arm.elbow.start("up")  starts it and returns at once; it runs until arm.stop(), another motion,
                               the joint's end, or the program's end
    """

    def __init__(self, arm, name):
        self._arm = arm
        self.name = name
        self.ways = WAYS[name]

    def run(self, way, seconds):
        """Runs this joint one way for seconds (at most 60) and returns the Motion when it ends."""
        return self._arm.move(seconds=seconds, **{self.name: way})

    def start(self, way):
        """Starts this joint one way and returns at once; it stops when the program stops driving it."""
        self._arm.start(**{self.name: way})

    @property
    def pose(self):
        """What the pose estimate knows of this joint (a JointPose)."""
        return self._arm.pose[self.name]

    def __repr__(self):
        return "<%s: %s>" % (self.name, " or ".join(self.ways))


class UpDownJoint(Joint):
    """A joint that goes up and down: the shoulder, the elbow and the wrist."""

    def up(self, seconds):
        """Lifts the joint for seconds; returns the Motion."""
        return self.run("up", seconds)

    def down(self, seconds):
        """Lowers the joint for seconds; returns the Motion."""
        return self.run("down", seconds)


class Base(Joint):
    """The base, turning clockwise (cw) or counter-clockwise (ccw) seen from above."""

    def cw(self, seconds):
        """Turns the base clockwise for seconds; returns the Motion."""
        return self.run("cw", seconds)

    def ccw(self, seconds):
        """Turns the base counter-clockwise for seconds; returns the Motion."""
        return self.run("ccw", seconds)


class Gripper(Joint):
    """The gripper, opening and closing."""

    def open(self, seconds):
        """Opens the gripper for seconds; returns the Motion."""
        return self.run("open", seconds)

    def close(self, seconds):
        """Closes the gripper for seconds; returns the Motion."""
        return self.run("close", seconds)


class Arm:
    """The robotic arm, driven through this user's arm service with every protection the window has.

        with tessaro.Arm() as arm:
            arm.elbow.up(1.5)                      # blocks 1.5 s, returns a Motion
            arm.move(shoulder="up", base="cw", seconds=2)   # several joints at once (the kit)
            arm.light = True                       # the kit's light
            arm.gripper.start("close"); ...; arm.stop()
            print(arm.pose)
            arm.play("pick.SRP", repeat=2)
            arm.return_to_start()

    The joints are arm.base (cw, ccw), arm.shoulder, arm.elbow, arm.wrist (up, down) and arm.gripper
    (open, close). When no program serves the arm, Arm() starts `tessaro-cli serve` for the rest of
    this program (TESSARO_VIRTUAL_ARM=kit serves a virtual arm instead). It then takes control of the
    arm: while it has it, no other program drives the arm, though anyone may stop it.

    What protects the arm: a joint driven into an end the pose estimate knows stops there (an
    EndReached error when asked to go further), a motion that runs past its joint's travel time is
    stopped (the runaway limit), Ctrl+C stops the arm before KeyboardInterrupt goes on, a motion held
    with start() stops within half a second should this program hang or die, and leaving the `with`
    block (or close()) stops everything.

    Errors are exceptions carrying the service's message: NoArmError (with what to check),
    ArmPermissionError (the udev rule), ControlError, CombinedMotionRefused (the HID board moves one
    joint at a time), EndReached, Refused, Disconnected, ServiceError.
    """

    def __init__(self, start_service=True, wait_for_arm=2.0, timeout=10.0):
        """Connects to the arm service (starting one unless start_service is False) and takes control.

        wait_for_arm: seconds to wait for an arm to be connected before NoArmError.
        """
        self._conn = None
        self._held = None
        self.base = Base(self, "base")
        self.shoulder = UpDownJoint(self, "shoulder")
        self.elbow = UpDownJoint(self, "elbow")
        self.wrist = UpDownJoint(self, "wrist")
        self.gripper = Gripper(self, "gripper")
        self._conn = Connection(_service.open_socket(start_service, timeout), timeout)
        try:
            deadline = time.monotonic() + wait_for_arm
            while not self._conn.ask("status").get("ready"):
                if time.monotonic() > deadline:
                    raise self._no_arm()
                time.sleep(0.05)
            taken = self._conn.ask("take")
            if not taken.get("ok"):
                raise ControlError(taken.get("error", "control was refused"))
        except BaseException:
            self._conn.close()
            self._conn = None
            raise

    # -- motions -------------------------------------------------------------------------------

    def move(self, seconds, **joints):
        """Drives the joints named for seconds (at most 60), all at once, and returns the Motion.

            arm.move(shoulder="up", elbow="up", base="cw", seconds=2)

        Each joint takes its way: base "cw"/"ccw", shoulder, elbow, wrist "up"/"down", gripper
        "open"/"close". The interface kit drives them together; the HID board moves one joint at a
        time and refuses several (CombinedMotionRefused). A motion cut at an end returns with
        at_end True; one asked of a joint already at that end raises EndReached.
        """
        joints = _joints(joints)
        reply = self._conn.send("move", joints=joints, ms=_ms(seconds))
        return self._motion(joints, self._wait(reply, seconds + 10))

    def start(self, **joints):
        """Starts the joints named, as move() does, and returns at once: arm.start(base="cw").

        The motion runs until arm.stop(), another motion, an end or the runaway limit; it is held
        by a renewal every tenth of a second, so it stops within half a second should this program
        hang or die. arm.wait() waits for its end.
        """
        joints = _joints(joints)
        held = self._conn.send("hold", joints=joints, holdMs=500)
        # Replies come in the order the commands end: a refused hold answers before this renewal.
        self._conn.ask("renew")
        if held.done():
            self._motion(joints, held.wait())
        self._held = (joints, held)
        threading.Thread(target=self._renew, args=(held,), name="tessaro-renewal", daemon=True).start()

    def _renew(self, held):
        while not held._done.wait(0.1):
            try:
                self._conn.send("renew")
            except ServiceError:
                return

    def wait(self):
        """Waits for the motion started with start() to end and returns its Motion (None if none)."""
        if not self._held:
            return None
        joints, held = self._held
        return self._motion(joints, self._wait(held, None))

    def stop(self):
        """Stops every motor at once (and a run that plays)."""
        self._conn.ask("stop")
        if self._held:
            self._held[1]._done.wait(2)

    # -- the light, the pose, runs --------------------------------------------------------------

    @property
    def light(self):
        """The interface kit's light in the gripper: arm.light = True switches it on."""
        return bool(self._conn.ask("light").get("on"))

    @light.setter
    def light(self, on):
        reply = self._conn.ask("light", on=bool(on))
        if not reply.get("ok"):
            raise self._refusal(reply.get("error", ""))

    @property
    def pose(self):
        """The pose estimate (a Pose): each joint's guess in degrees, its band, and what is known."""
        return Pose(self._conn.ask("pose"))

    @property
    def arms(self):
        """The arms the service drives, one line each ("USB interface kit 1267:0000 on bus 1, address 4")."""
        return list(self._conn.ask("arms").get("arms", []))

    def set_start(self):
        """Takes the arm's pose as the start pose, where return_to_start() brings it back."""
        reply = self._conn.ask("setStart")
        if not reply.get("ok"):
            raise self._refusal(reply.get("error", ""))

    def play(self, script, repeat=1):
        """Plays a script as the window's Run does, repeat times (1 to 32767); returns the Run.

        script is an SRP file recorded in the window (a path), or a list of steps, each a step name
        and its seconds: [("ElbowUp", 1.5), ("Pause", 0.5)].
        """
        if isinstance(script, (str, os.PathLike)):
            fields = {"file": os.path.abspath(os.fspath(script))}
        else:
            fields = {"steps": [{"function": str(f), "seconds": float(s)} for f, s in script]}
        return self._run(self._conn.send("play", repetitions=int(repeat), **fields))

    def return_to_start(self):
        """Brings the arm back to the start pose by the pose estimate; returns the Run.

        Refused (Refused) until set_start() has been called.
        """
        return self._run(self._conn.send("returnToStart"))

    # -- the end --------------------------------------------------------------------------------

    def close(self):
        """Stops everything and gives control back; the service goes on serving."""
        if not self._conn:
            return
        try:
            self._conn.ask("stop", timeout=2)
            self._conn.ask("release", timeout=2)
        except ServiceError:
            pass
        finally:
            self._conn.close()
            self._conn = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __repr__(self):
        return "<tessaro.Arm %s>" % ("closed" if not self._conn else "; ".join(self.arms))

    # -- replies ---------------------------------------------------------------------------------

    def _wait(self, reply, timeout):
        """The reply, once it comes; Ctrl+C meanwhile stops the arm, then goes on as usual."""
        try:
            return reply.wait(timeout)
        except KeyboardInterrupt:
            try:
                self._conn.ask("stop", timeout=2)
            except ServiceError:
                pass
            raise

    def _motion(self, joints, reply):
        if not reply.get("ok"):
            raise self._refusal(reply.get("error", ""), joints)
        if reply.get("ended") == "disconnected":
            raise Disconnected(reply.get("message") or "the arm was disconnected")
        return Motion(joints, reply)

    def _run(self, reply):
        reply = self._wait(reply, None)
        if not reply.get("ok"):
            raise self._refusal(reply.get("error", ""))
        if reply.get("ended") in ("disconnected", "failed"):
            raise Disconnected(reply.get("message") or "the arm was disconnected")
        return Run(reply)

    def _refusal(self, error, joints=()):
        if error == "no arm is connected":
            return self._no_arm()
        if _END_MESSAGE.match(error):
            return EndReached(error)
        if "control" in error:
            return ControlError(error)
        if len(joints) > 1:
            return CombinedMotionRefused(error)
        return Refused(error)

    @staticmethod
    def _no_arm():
        if _service.attached_arm_denied():
            return ArmPermissionError(PERMISSION_ADVICE)
        return NoArmError(NO_ARM_ADVICE)
