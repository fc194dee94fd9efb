#include "link/ip_address.h"

#include <cstdio>

std::uint32_t PackIpAddress(std::int64_t w, std::int64_t x, std::int64_t y, std::int64_t z) {
  // The low 32 bits of each, in unsigned arithmetic: carries and borrows
  // cross octets and whatever passes beyond the fourth octet is lost.
  std::uint32_t value = static_cast<std::uint32_t>(w);
  value += static_cast<std::uint32_t>(x) * 0x100u;
  value += static_cast<std::uint32_t>(y) * 0x10000u;
  value += static_cast<std::uint32_t>(z) * 0x1000000u;
  return value;
}

int IpAddressOctet(std::uint32_t value, int index) {
  return static_cast<int>((value >> (8 * (index & 3))) & 0xFF);
}

std::string FormatIpAddress(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", IpAddressOctet(value, 0), IpAddressOctet(value, 1),
                IpAddressOctet(value, 2), IpAddressOctet(value, 3));
  return text;
}
