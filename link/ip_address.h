// An IPv4 address as the program holds it: one 32-bit value with octet 1 in
// its least significant byte. Packed, unpacked and written out here only.
#pragma once

#include <cstdint>
#include <string>

// (w + 256x + 65536y + 16777216z) mod 2^32. Nothing is clamped; a number
// above 255 carries into the next octet.
std::uint32_t PackIpAddress(std::int64_t w, std::int64_t x, std::int64_t y, std::int64_t z);
// Octet 1 to 4 (index 0 to 3) of an address value.
int IpAddressOctet(std::uint32_t value, int index);
// "a.b.c.d", octet 1 first: what the address field shows for the value.
std::string FormatIpAddress(std::uint32_t value);
