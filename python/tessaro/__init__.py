"""Program the robotic arm from Python, with every protection the Tessaro window has.

    import tessaro
    with tessaro.Arm() as arm:
        arm.elbow.up(1.5)
        arm.move(shoulder="up", elbow="up", seconds=2)
        print(arm.pose)

The package is a client of the arm service (`tessaro-cli serve`), which it starts when no program
serves the arm. help(tessaro.Arm) tells the rest; tessaro.usb_arm runs lessons written for the
kit's classic PyUSB interface.
"""

from .arm import Arm, JointPose, Motion, Pose, Run
from .errors import (ArmPermissionError, CombinedMotionRefused, ControlError, Disconnected, EndReached, NoArmError,
                     Refused, ServiceError, TessaroError)

__all__ = ["Arm", "Motion", "Run", "Pose", "JointPose", "TessaroError", "ServiceError", "NoArmError",
           "ArmPermissionError", "ControlError", "Refused", "CombinedMotionRefused", "EndReached", "Disconnected"]
