// The whole path from the bytes of config.txt to the address value, in one
// call, for the tests and the fuzz target (the program reads in chunks).
#pragma once

#include <cstddef>
#include <cstdint>

#include "config/address_text.h"
#include "link/ip_address.h"

inline std::uint32_t AddressFromBytes(const unsigned char* data, std::size_t length) {
  AddressLineReader reader;
  FeedAddressLines(&reader, data, length);
  std::int64_t octets[4];
  FinishAddressLines(&reader, octets);
  return PackIpAddress(octets[0], octets[1], octets[2], octets[3]);
}
