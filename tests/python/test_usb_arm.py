import pytest

import tessaro.usb_arm as usb_arm


# A classic lesson's actions on the kit: each pattern's own bytes reach it for its time, then the stop.
@pytest.mark.parametrize("actions", [
    usb_arm.block_left,
    usb_arm.blink,
    [[usb_arm.ShoulderUp | usb_arm.ElbowUp, 0.3], [usb_arm.BaseClockWise | usb_arm.OpenGrips, 0.2]],
], ids=["block_left", "blink", "combined"])
def test_actions_reach_the_kit(virtual_arms, actions):
    served = virtual_arms("kit")
    served.sent()
    with served.environment():
        arm = usb_arm.Arm()
    try:
        arm.doActions(actions)
    finally:
        arm.close()
    sent = served.sent(2 * len(actions))
    steps = [(bytes(pattern).hex(), seconds) for pattern, seconds in actions if pattern != usb_arm.Stop]
    assert [b for _, _, b in sent[:2 * len(steps)]] == [b for hex_, _ in steps for b in (hex_, "000000")]
    for (hex_, seconds), began, ended in zip(steps, sent[0::2], sent[1::2]):
        assert seconds - 0.02 < ended[0] - began[0] < seconds + 0.15, hex_
    assert all(code == 0 for _, code, _ in sent[2 * len(steps):])
