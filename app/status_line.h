// The status bar's line: the credits until the console check's first result,
// then whether the console answers, and during a fade cycle what it does.
#pragma once

#include <string>

struct ConsoleInfo;

// Start-up: the credits line stands, and nothing is known of the console.
void ResetStatusLine();

// The console check's results.
void ShowConsoleAnswered(const ConsoleInfo& info);
void ShowConsoleSilent();
// 1 while the latest /xinfo has gone unanswered.
int ConsoleIsSilent();

// Idle again after a cycle: how the fade ended, if one ran, stays until the
// next capture; otherwise the console check's line.
void ShowIdleStatus();
// A capture: "Touch <fader> on the console", or the no-answer line while the
// console doesn't answer.
void ShowWaitingStatus();
// During a fade: the level last sent, the minimum and the time left, at most
// ten times a second. `messagesLeft` counts those still to go after this one.
void ShowFadeProgress(float level, int messagesLeft, long long nowMicroseconds);
// How the fade ended; these stay until the next capture.
void ShowFadeReachedMinimum(float start, float end, long long microseconds);
void ShowFadeStoppedByResetOff(float level);
void ShowFadeStoppedByHand(float level, float handLevel);
