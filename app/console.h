// What the program says to the console, over the link that carries it.
#pragma once

#include "link/mixer_link.h"

// "/xremote" ,f 0.0 (20 bytes): the console reports every change to us for
// the next 10 s. Then a pause of 20 ms, for the console to take it in.
void SendRemoteSubscriptionAndPause(MixerConnection link);
// The same datagram without the pause: a fade renews the subscription
// between two of its messages and must not lose its 10 ms step to it.
void SendRemoteSubscriptionWithoutPause(MixerConnection link);
