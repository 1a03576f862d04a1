"""First moves: each joint a little one way, then back.

    TESSARO_VIRTUAL_ARM=kit python3 examples/first_moves.py      (without an arm: a virtual one)
"""
import tessaro

with tessaro.Arm() as arm:
    print("Driving", "; ".join(arm.arms))
    arm.set_start()                      # remember where the arm stands now
    arm.shoulder.up(1)                   # blocks for 1 s
    arm.elbow.up(1.5)
    arm.wrist.down(0.5)
    arm.base.cw(2)
    arm.gripper.open(0.5)
    motion = arm.gripper.close(0.5)
    print(motion)                        # how long it ran, and how it ended
    print(arm.pose)                      # where the estimate thinks each joint is
    print(arm.return_to_start())         # and back, by the estimate
