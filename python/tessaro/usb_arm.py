"""The classic interface of the interface kit's lessons, on the arm service.

Lessons written for the kit's small PyUSB interface run after changing only their import line:

    import tessaro.usb_arm as usb_arm
    arm = usb_arm.Arm()
    arm.move(usb_arm.ElbowUp, 1.5)
    arm.move(usb_arm.ShoulderUp | usb_arm.ElbowUp, 1)    # several joints at once (the kit)
    arm.doActions(usb_arm.block_left)

A pattern is the kit's three command bytes, combined with |; underneath every motion goes through the
service, with its end stops, its runaway limit and its stop when the program dies, on either board
(the HID board has no light and moves one joint at a time: LedOn is left out there, and a combined
pattern is refused with CombinedMotionRefused).
"""

import time

from .arm import Arm as _Arm


class BitPattern:
    """The kit's command: byte 0 the shoulder, elbow, wrist and gripper, byte 1 the base, byte 2 the light."""

    __slots__ = ("arm", "base", "led")

    def __init__(self, arm=0, base=0, led=0):
        self.arm, self.base, self.led = arm, base, led

    def __or__(self, other):
        return BitPattern(self.arm | other.arm, self.base | other.base, self.led | other.led)

    def __eq__(self, other):
        return isinstance(other, BitPattern) and bytes(self) == bytes(other)

    def __hash__(self):
        return hash(bytes(self))

    def __bytes__(self):
        return bytes((self.arm, self.base, self.led))

    def __repr__(self):
        return "BitPattern(0x%02x, 0x%02x, 0x%02x)" % (self.arm, self.base, self.led)

    def joints(self):
        """The motion the pattern asks for, as tessaro.Arm.move takes it: {"elbow": "up", ...}."""
        motion = {}
        for byte, bit, joint, way in _BITS:
            if getattr(self, byte) & bit:
                if joint in motion:
                    raise ValueError("%r drives the %s both ways at once" % (self, joint))
                motion[joint] = way
        return motion


# Each motor has one bit per direction, as the kit's command lays them out.
_BITS = (
    ("arm", 0x40, "shoulder", "up"), ("arm", 0x80, "shoulder", "down"),
    ("arm", 0x10, "elbow", "up"), ("arm", 0x20, "elbow", "down"),
    ("arm", 0x04, "wrist", "up"), ("arm", 0x08, "wrist", "down"),
    ("arm", 0x01, "gripper", "close"), ("arm", 0x02, "gripper", "open"),
    ("base", 0x01, "base", "cw"), ("base", 0x02, "base", "ccw"),
)

Stop = BitPattern()
GripsClose = CloseGrips = BitPattern(0x01)
GripsOpen = OpenGrips = BitPattern(0x02)
WristUp = BitPattern(0x04)
WristDown = BitPattern(0x08)
ElbowUp = BitPattern(0x10)
ElbowDown = BitPattern(0x20)
ShoulderUp = BitPattern(0x40)
ShoulderDown = BitPattern(0x80)
BaseClockWise = BitPattern(0, 0x01)
BaseCtrClockWise = BitPattern(0, 0x02)
LedOn = BitPattern(0, 0, 0x01)


def makeGrabAndMove(baseDir):
    """The actions that grab a block in front of the arm, turn the base baseDir, put it down and come back."""
    back = {BaseClockWise: BaseCtrClockWise, BaseCtrClockWise: BaseClockWise}.get(baseDir)
    if back is None:
        raise ValueError("baseDir is BaseClockWise or BaseCtrClockWise, not %r" % (baseDir,))
    return [
        [GripsOpen, 0.5], [ShoulderDown, 1.0], [GripsClose, 0.6], [ShoulderUp, 1.0],
        [baseDir, 1.5], [ShoulderDown, 1.0], [GripsOpen, 0.5], [ShoulderUp, 1.0], [back, 1.5],
    ]


block_left = makeGrabAndMove(BaseCtrClockWise)
block_right = makeGrabAndMove(BaseClockWise)
blink = [[LedOn, 0.5], [Stop, 0.5]] * 3


class Arm:
    """The arm, as the classic lessons drive it: arm.move(pattern, time), arm.tell(pattern), arm.doActions."""

    def __init__(self):
        self._arm = _Arm()
        self._has_light = any("interface kit" in line for line in self._arm.arms)
        self._light = False
        self._moving = False

    def tell(self, pattern):
        """Sends the pattern and returns at once: its motors run until the next pattern (Stop stops them)."""
        joints = pattern.joints()
        self._set_light(pattern.led & 0x01)
        if joints:
            self._arm.start(**joints)
        elif self._moving:
            self._arm.stop()
        self._moving = bool(joints)

    def move(self, pattern, time=1):
        """Sends the pattern, waits time seconds and stops, whatever happened meanwhile (Ctrl+C too)."""
        joints = pattern.joints()
        try:
            self._set_light(pattern.led & 0x01)
            if joints:
                self._arm.move(seconds=time, **joints)
            else:
                if self._moving:
                    self._arm.stop()
                _sleep(time)
        finally:
            self._moving = False
            self._set_light(False)

    def doActions(self, actions):
        """Moves by each [pattern, time] in turn."""
        for pattern, seconds in actions:
            self.move(pattern, seconds)

    def close(self):
        """Stops the arm and lets it go."""
        self._arm.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def _set_light(self, on):
        if self._has_light and bool(on) != self._light:
            self._arm.light = bool(on)
            self._light = bool(on)


_sleep = time.sleep
