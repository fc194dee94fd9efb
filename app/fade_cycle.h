// The fade cycle: capture the console's report, fade, reset.
#pragma once

// The capture handler: runs a whole cycle and returns once it has reset.
void RunFadeCycle();
// Bound to ResetOffButton: asks the running cycle to stop and reset.
void ResetOffHandler();
// Returns the fade state and the controls to idle.
void ResetFadeCycle();
// The speed option's step, or 0 for a number that is no speed option.
float StepOfSpeedOption(int control);
