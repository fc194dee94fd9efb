// The mixer address file: config.txt in the working directory, read once.
#pragma once

#include <string>

// The console's address as dotted decimal text; set once by ReadMixerAddress.
extern std::string g_mixerAddressText;

// Reads config.txt, shows the address in the address field and sets
// g_mixerAddressText. Returns 1 when the file was read. When it can't be
// opened, tells the user, runs EditMixerAddress and returns 0: the caller
// then shuts the program down.
int ReadMixerAddress();

// Starts Notepad on config.txt, asks for a restart. The caller shuts down.
void EditMixerAddress();
