// OSC 1.0 messages with one float argument, the big-endian floats they carry,
// and the strings of the messages read. Nothing here knows about sockets or
// about the console.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int kMessageBlockSize = 2048;  // every message buffer is this long

// Writes address, type tag and the big-endian float into buffer from offset 0.
// Returns the number of bytes written. Writes nothing and returns 0 when buffer
// is null or the message would need more than capacity bytes.
// A null address or type tag counts as an empty text.
int BuildOscMessage(unsigned char* buffer, int capacity, const char* address, const char* typeTag, float value);

// Reads the OSC string at offset: its characters end at a zero byte, and its
// zeros pad it to a multiple of 4, all inside the datagram's length. Returns
// the offset after the padding, with *text pointing at the characters, or -1
// when the string doesn't end inside the datagram.
int ReadOscString(const unsigned char* datagram, int length, int offset, const char** text);

// Big-endian float helpers shared by the encoder and the reader.
void StoreFloatBigEndian(unsigned char* out, float value);
float LoadFloatBigEndian(const unsigned char* in);
