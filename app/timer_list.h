// The keep-alive timer list: polled timers, no thread and no callback.
#pragma once

#include <cstdint>

// The program's timers, by key.
inline constexpr std::intptr_t kKeepAliveKey = 0;      // the subscription's renewal while waiting for a touch
inline constexpr std::intptr_t kConsoleAnswerKey = 1;  // an /xinfo goes unanswered
inline constexpr std::intptr_t kConsoleAskKey = 2;     // the next /xinfo at idle while none was answered
inline constexpr std::intptr_t kFadeRenewalKey = 3;    // the subscription's renewal while a fade watches for the hand

// Adds a record {start, interval, key} at the end of the list and returns its
// key. Key -1 asks for a key unique for the record's life: its own address.
std::intptr_t AddTimer(std::intptr_t start, std::intptr_t interval, std::intptr_t key);
// 1 if any record with this key has clock - start >= interval.
int CheckTimer(std::intptr_t key);
// Milliseconds until the soonest record with this key is due: 0 when one is,
// -1 when there is no such record. A wait that ends then misses none of them.
std::intptr_t MillisecondsUntilDue(std::intptr_t key);
// Deletes the first record with this key; 1 if one was removed.
int RemoveTimer(std::intptr_t key);
// Empties the list (start-up and program end).
void ClearTimers();
