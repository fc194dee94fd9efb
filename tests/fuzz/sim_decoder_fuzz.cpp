// sim::DecodeOsc on any bytes. It promises never to read outside the datagram
// (the input is an exactly-sized allocation, so the sanitizers would see it).
// Properties of what it accepts: a length that is a multiple of 4, an address
// starting with '/', one argument per type-tag letter; and a message of one
// float re-encodes to the very same bytes.
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
  FUZZ_CHECK(m.hasTypeTag ? !m.typeTag.empty() && m.typeTag[0] == ',' : m.typeTag.empty());
  FUZZ_CHECK(m.args.size() == (m.hasTypeTag ? m.typeTag.size() - 1 : 0));
  if (m.typeTag == ",f") {
    const sim::Bytes again = sim::EncodeFloatMessage(m.address, m.args[0].f);
    FUZZ_CHECK(again.size() == size && std::equal(again.begin(), again.end(), data));
  }
  return 0;
}
