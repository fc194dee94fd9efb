// Text-to-number conversion and the reading of the mixer address file's lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The one text-to-integer conversion of the program. Skips leading spaces and
// tabs, takes one optional sign, "$" for hex and "%" for binary digits, and
// accumulates in wrapping 64-bit arithmetic until the first non-digit.
// A null text, or one without digits, gives 0.
std::int64_t ParseInteger(const char* text);

// Streaming ParseInteger: feed it characters one at a time; memory stays
// constant however long the line is.
struct IntegerScanner {
  int phase = 0;  // 0 leading blanks, 1 after sign, 2 after base mark, 3 in digits, 4 done
  int base = 10;
  bool negative = false;
  std::uint64_t value = 0;
};
void ScanCharacter(IntegerScanner* scanner, std::uint32_t character);
std::int64_t ScannedInteger(const IntegerScanner* scanner);

// Reads lines 1 to 4 of the address file from a byte stream and parses each
// with ParseInteger's rules. Line ends: LF, CR LF, CR alone, a zero byte, the
// end of the data. A UTF-8 byte-order mark at the start is skipped; a UTF-16
// byte-order mark (FF FE or FE FF) makes the rest decode as UTF-16 before the
// same line rules apply. Without a byte-order mark the bytes are taken as they
// are. Feed the data in chunks of any size, then call FinishAddressLines.
struct AddressLineReader {
  int encoding = 0;  // 0 undecided, 1 bytes (UTF-8), 2 UTF-16LE, 3 UTF-16BE
  unsigned char head[3] = {};
  int headLength = 0;  // bytes kept while the byte-order mark is undecided
  unsigned char pendingByte = 0;
  bool havePendingByte = false;  // first half of a UTF-16 code unit
  bool afterCarriageReturn = false;
  int line = 0;  // 0..3 while reading lines 1..4; 4 when done
  IntegerScanner scanner;
  std::int64_t octets[4] = {};
};
void FeedAddressLines(AddressLineReader* reader, const unsigned char* data, std::size_t length);
void FinishAddressLines(AddressLineReader* reader, std::int64_t octets[4]);
