import signal
import time

import pytest

import tessaro

STOP = "000000"


# Each row: the board, what the program does, how it ends (a Motion's `ended`, or the exception), and
# the bytes the kit received (None: no kit bytes checked, the HID board's reports differ).
@pytest.mark.parametrize("kind, action, ends, received", [
    ("kit", lambda arm: arm.elbow.up(0.3), "done", ["100000", STOP]),
    ("kit", lambda arm: arm.base.ccw(0.2), "done", ["000200", STOP]),
    ("kit", lambda arm: arm.move(shoulder="up", elbow="up", base="cw", seconds=0.3), "done", ["500100", STOP]),
    ("kit", lambda arm: arm.move(wrist="down", gripper="open", seconds=0.2), "done", ["0a0000", STOP]),
    ("hid", lambda arm: arm.move(elbow="up", base="cw", seconds=0.3), tessaro.CombinedMotionRefused, []),
    ("kit", lambda arm: setattr(arm, "light", True), None, ["000001"]),
    ("kit", lambda arm: arm.wrist.up(0.2), "done", ["040001", "000001"]),
    ("kit", lambda arm: setattr(arm, "light", False), None, [STOP]),
    ("hid", lambda arm: setattr(arm, "light", True), tessaro.Refused, []),
])
def test_motions_reach_the_arm(virtual_arms, kind, action, ends, received):
    served = virtual_arms(kind)
    served.sent()
    with served.arm() as arm:
        if isinstance(ends, type):
            with pytest.raises(ends):
                action(arm)
        else:
            result = action(arm)
            if ends:
                assert result.ended == ends and not result.at_end
    sent = served.sent(len(received) + 1, timeout=1.0 if not received else 3.0)
    assert [b for _, _, b in sent[:len(received)]] == received
    # Leaving the arm stops it once more: that stop is not the action's.
    assert all(code == 0 for _, code, _ in sent[len(received):])
    if len(received) == 2:
        took = sent[1][0] - sent[0][0]
        assert abs(took - result.seconds) < 0.05


def test_an_end_stop_is_an_exception(virtual_arms):
    served = virtual_arms("kit")
    with served.arm() as arm:
        # The gripper driven past its travel: the runaway limit cuts it, and it is known at its end.
        cut = arm.gripper.close(3)
        assert cut.at_end and cut.ended == "time limit" and 2.0 < cut.seconds < 2.6
        with pytest.raises(tessaro.EndReached, match=r"^Gripper at its closed end \(estimated\)$"):
            arm.gripper.close(1)
        assert arm.pose.gripper.knowledge == "at ends"
    assert [b for _, _, b in served.sent(2)][:2] == ["010000", STOP]


HOLD = "import tessaro, time\narm = tessaro.Arm()\narm.base.start('cw')\ntime.sleep(30)\n"
MOVE = ("import tessaro, time\narm = tessaro.Arm()\ntry:\n    arm.elbow.up(20)\n"
        "except KeyboardInterrupt:\n    print('interrupted', flush=True)\n    time.sleep(30)\n")


# A program interrupted or killed mid-motion, a second after it started: the arm gets its stop within
# the hold time and some slack (not before: a held motion lasts as long as the program).
@pytest.mark.parametrize("code, started, sig, within, said", [
    (MOVE, "100000", signal.SIGINT, 0.1, "interrupted"),  # caught: the stop came first
    (HOLD, "000100", signal.SIGINT, 0.1, "KeyboardInterrupt"),
    (HOLD, "000100", signal.SIGKILL, 0.5, ""),
    (HOLD, "000100", signal.SIGSTOP, 0.5, ""),  # hung: its renewals stop
])
def test_an_interrupted_program_stops_the_arm(virtual_arms, code, started, sig, within, said):
    served = virtual_arms("kit")
    child = served.python(code)
    try:
        start = served.sent(1, timeout=10)
        seen = time.monotonic()
        assert [b for _, _, b in start] == [started]
        time.sleep(1.0)
        assert served.sent() == []
        signalled = time.monotonic() - seen
        child.send_signal(sig)
        stop = served.sent(1)
        assert stop and stop[0][2] == STOP
        assert stop[0][0] - start[0][0] < signalled + within + 0.2
    finally:
        time.sleep(0.3)
        child.kill()
        out, err = child.communicate(timeout=10)
    assert said in out + err
    served.sent()
