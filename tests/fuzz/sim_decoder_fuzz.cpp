// What the console simulator makes of liblo's decoding, on any bytes. The
// input is an exactly-sized allocation, so the sanitizers would see a read
// past the datagram by liblo or by the simulator's reading of it. Properties
// of what it accepts: a length that is a multiple of 4, an address starting
// with '/', one argument per type-tag letter, an argument list the log can
// write (no raw control character); and a message of one float re-encodes,
// by the simulator's writer (liblo's), to the very same bytes.
#include <algorithm>

#include "fuzz_check.h"
#include "sim_osc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const sim::OscMessage m = sim::DecodeOsc(data, size);
  if (!m.ok) {
    FUZZ_CHECK(!m.reason.empty());
    return 0;
  }
  FUZZ_CHECK(m.reason.empty() && size % 4 == 0);
  FUZZ_CHECK(!m.address.empty() && m.address[0] == '/');
  FUZZ_CHECK(m.typeTag.empty() || m.typeTag[0] == ',');
  FUZZ_CHECK(m.args.size() == (m.typeTag.empty() ? 0 : m.typeTag.size() - 1));
  const std::string json = sim::JsonLine(m.argsJson);
  FUZZ_CHECK(json.front() == '[' && json.back() == ']');
  FUZZ_CHECK(std::none_of(json.begin(), json.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }));
  if (m.typeTag == ",f") {
    const sim::Bytes again = sim::EncodeFloatMessage(m.address, m.args[0]);
    FUZZ_CHECK(again.size() == size && std::equal(again.begin(), again.end(), data));
  }
  return 0;
}
