"""Play a script recorded in the window (wave.SRP, beside this lesson) twice, then bring the arm back."""
import os

import tessaro

script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "wave.SRP")
with tessaro.Arm() as arm:
    arm.set_start()
    run = arm.play(script, repeat=2)
    print(run)                           # how it ended, and any step cut short at an end
    arm.return_to_start()
