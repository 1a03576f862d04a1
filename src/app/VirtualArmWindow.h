#pragma once

class QWidget;
class VirtualArm;

// The "Virtual Arm" window: the simulated arm drawn from its joint angles, driven by the command codes
// the virtual arm receives, with Plug in / Unplug and Reset pose. The window is a top-level widget with
// WA_DeleteOnClose unset; the caller owns it (or gives it a parent) and shows it.
QWidget *createVirtualArmWindow(VirtualArm &arm, QWidget *parent = nullptr);
