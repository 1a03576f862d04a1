"""Blink the light in the gripper (the interface kit has one; the HID board has none)."""
import time

import tessaro

with tessaro.Arm() as arm:
    for _ in range(5):
        arm.light = True
        time.sleep(0.3)
        arm.light = False
        time.sleep(0.3)
