"""The exceptions of the tessaro package.

Every error the arm service reports reaches the program as one of these, carrying the service's own
message, so that a lesson that goes wrong says why in the words the window uses.
"""

# What the window and tessaro-cli say when no arm can be found or opened.
NO_ARM_ADVICE = (
    "no robotic arm found (USB 1e6f:1113 for the HID board, 1267:0000 or 1267:0001 for the\n"
    "interface kit). Check that:\n"
    "  - the arm's USB cable is plugged in at both ends (try another port or cable);\n"
    "  - the arm's power switch is on and its batteries are not flat;\n"
    "  - the udev rule 70-tessaro.rules is installed in /usr/lib/udev/rules.d (without it the arm\n"
    "    is found but cannot be opened); after installing it, unplug the arm and plug it in again.")
PERMISSION_ADVICE = (
    "The arm is attached but cannot be opened: permission denied. Install the udev rule "
    "70-tessaro.rules and plug the arm in again.")


class TessaroError(Exception):
    """Anything the arm or its service refused or could not do; str() is the service's message."""


class ServiceError(TessaroError):
    """The arm service cannot be reached or started (tessaro-cli missing, or it ended)."""


class NoArmError(TessaroError):
    """No arm is connected; the message says what to check, the udev rule among it."""


class ArmPermissionError(NoArmError):
    """An arm is attached, but this user may not open it: the udev rule is missing."""


class ControlError(TessaroError):
    """Another program has control of the arm ("control is held by python3 lesson.py, pid 4711")."""


class Refused(TessaroError):
    """The arm refused a command and nothing was done (a run in progress, a step that is no motion...)."""


class CombinedMotionRefused(Refused):
    """Several joints at once were asked of an arm that moves one at a time (the HID board)."""


class EndReached(Refused):
    """The joint is at the end it was driven towards ("Elbow at its upper end (estimated)").

    The same motion asked again within two seconds goes past the estimated end once.
    """


class Disconnected(TessaroError):
    """The arm went away, or a command did not reach it, while it was moving."""
