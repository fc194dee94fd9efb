// BuildOscMessage checked against liblo, through the console simulator, which
// shares nothing with link/. Properties, for any printable ASCII address and
// any float bits (NaNs included):
//  - the bytes equal the simulator's encoding of the same message;
//  - sim::DecodeOsc reads back the address, ",f" and the value to the bit
//    (for addresses starting with '/': the decoder refuses anything else);
//  - with a capacity too small for the message nothing is written and 0 is
//    returned; with enough, only the message's bytes are written.
//
// Input: [0..3] float bits, [4..5] capacity, the rest the address (each byte
// mapped onto ' '..'~').
#include <bit>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_check.h"
#include "link/osc.h"
#include "sim_osc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 6) return 0;
  const std::uint32_t bits = std::uint32_t{data[0]} << 24 | data[1] << 16 | data[2] << 8 | data[3];
  const float value = std::bit_cast<float>(bits);
  std::string address;
  for (std::size_t i = 6; i < size; ++i) address += static_cast<char>(' ' + data[i] % 95);

  const sim::Bytes reference = sim::EncodeFloatMessage(address, value);
  // Around the message's own size most of the time, so both sides of the
  // limit are tried.
  const int wanted = data[4] << 8 | data[5];
  const int capacity = wanted & 0x8000 ? wanted & 0x0FFF : static_cast<int>(reference.size()) - 8 + wanted % 16;
  constexpr unsigned char kUntouched = 0xA5;
  const std::size_t room = capacity > 0 ? static_cast<std::size_t>(capacity) : 0;
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[room + 1]);  // never zero-sized
  std::memset(buffer.get(), kUntouched, room + 1);

  const int written = BuildOscMessage(buffer.get(), capacity, address.c_str(), ",f", value);
  if (capacity < static_cast<int>(reference.size())) {
    FUZZ_CHECK(written == 0);
    for (std::size_t i = 0; i <= room; ++i) FUZZ_CHECK(buffer[i] == kUntouched);
    return 0;
  }
  FUZZ_CHECK(written == static_cast<int>(reference.size()));
  FUZZ_CHECK(std::memcmp(buffer.get(), reference.data(), reference.size()) == 0);
  for (std::size_t i = reference.size(); i <= room; ++i) FUZZ_CHECK(buffer[i] == kUntouched);

  if (!address.empty() && address[0] == '/') {
    const sim::OscMessage decoded = sim::DecodeOsc(buffer.get(), static_cast<std::size_t>(written));
    FUZZ_CHECK(decoded.ok && decoded.address == address && decoded.typeTag == ",f");
    FUZZ_CHECK(decoded.args.size() == 1);
    FUZZ_CHECK(std::bit_cast<std::uint32_t>(decoded.args[0]) == bits);
  }
  return 0;
}
