"""Pick a block up in front of the arm and put it down to the left, moving several joints at once.

The interface kit drives joints together; the HID board moves one at a time and refuses this lesson.
"""
import tessaro

with tessaro.Arm() as arm:
    arm.set_start()
    arm.gripper.open(0.8)
    arm.move(shoulder="down", elbow="down", seconds=1.5)    # reach down and forward
    arm.gripper.close(0.8)                                  # grab
    arm.move(shoulder="up", elbow="up", seconds=1.5)        # lift
    arm.move(base="ccw", wrist="up", seconds=2)             # turn left, tilting the block up
    arm.move(shoulder="down", wrist="down", seconds=1.5)    # lower it
    arm.gripper.open(0.8)                                   # let go
    arm.shoulder.up(1.5)
    print(arm.pose)
    print(arm.return_to_start())
