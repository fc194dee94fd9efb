// What the program says to the console, over the link that carries it, and
// the console check: /xinfo asks the console who it is, and its answer, or
// the lack of one, tells the engineer whether the console hears the program.
#pragma once

#include "app/capture_filter.h"
#include "link/mixer_link.h"

// "/xremote" ,f 0.0 (20 bytes): the console reports every change to us for
// the next 10 s. Then a pause of 20 ms, for the console to take it in.
void SendRemoteSubscriptionAndPause(MixerConnection link);
// The same datagram without the pause: a fade renews the subscription
// between two of its messages and must not lose its 10 ms step to it.
void SendRemoteSubscriptionWithoutPause(MixerConnection link);

// Sends /xinfo (12 bytes, no argument) over the program's link; an answer
// that hasn't come 1 s later counts as none.
void AskConsole();
// A datagram just taken from the program's link: 1 when it was the console's
// answer, which the status bar then shows.
int TakeConsoleAnswer(const unsigned char* datagram, int length);
// Follows the check's time: an /xinfo unanswered for 1 s makes the status
// bar say so. At idle it also reads the link, where nothing but the answer
// is looked for, and, while the status bar says there is no answer, asks
// again every 10 s, so that a console switched on later is found.
void FollowConsoleCheck(int idle);
// Milliseconds until the check has something to do (-1: nothing pending);
// with idle 0, the asking again is left out.
int MillisecondsUntilConsoleCheck(int idle);
