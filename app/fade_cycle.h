// The fade cycle: capture the console's report, fade, reset.
#pragma once

// The capture handler: runs a whole cycle and returns once it has reset.
void RunFadeCycle();
// Bound to ResetOffButton: asks the running cycle to stop and reset.
void ResetOffHandler();
// The idle state, at start-up and after every cycle: the fade state at rest,
// "Too Slow", "Main" and a minimum of 0 chosen, the settings and the capture
// button enabled, the capture button's idle caption, Reset Off disabled.
void EnterIdleState();
