// Text-to-number conversion, and the reader that takes lines 1 to 4 of the
// mixer address file from a byte stream.
#include "config/address_text.h"

namespace {

enum ScanPhase {
  kLeadingBlanks = 0,
  kAfterSign = 1,
  kAfterBaseMark = 2,
  kInDigits = 3,
  kDone = 4,
};

// The value of character as a digit of base, or -1 when it is none.
int DigitValue(std::uint32_t character, int base) {
  int digit = -1;
  if (character >= '0' && character <= '9') {
    digit = static_cast<int>(character - '0');
  } else if (character >= 'A' && character <= 'F') {
    digit = static_cast<int>(character - 'A') + 10;
  } else if (character >= 'a' && character <= 'f') {
    digit = static_cast<int>(character - 'a') + 10;
  }
  return digit < base ? digit : -1;
}

}  // namespace

void ScanCharacter(IntegerScanner* scanner, std::uint32_t character) {
  if (scanner->phase == kDone) {
    return;
  }
  if (scanner->phase == kLeadingBlanks) {
    if (character == ' ' || character == '\t') {
      return;
    }
    scanner->phase = kAfterSign;
    if (character == '-' || character == '+') {
      scanner->negative = character == '-';
      return;
    }
  }
  if (scanner->phase == kAfterSign) {
    scanner->phase = kAfterBaseMark;
    if (character == '$') {
      scanner->base = 16;
      return;
    }
    if (character == '%') {
      scanner->base = 2;
      return;
    }
    scanner->base = 10;
  }
  int digit = DigitValue(character, scanner->base);
  if (digit < 0) {
    scanner->phase = kDone;
    return;
  }
  // Unsigned arithmetic: wraps around modulo 2^64 without undefined behaviour.
  scanner->value = scanner->value * static_cast<std::uint64_t>(scanner->base) + static_cast<std::uint64_t>(digit);
  scanner->phase = kInDigits;
}

std::int64_t ScannedInteger(const IntegerScanner* scanner) {
  std::uint64_t value = scanner->negative ? 0 - scanner->value : scanner->value;
  return static_cast<std::int64_t>(value);  // modulo 2^64, two's complement
}

std::int64_t ParseInteger(const char* text) {
  if (text == nullptr) {
    return 0;
  }
  IntegerScanner scanner;
  for (const char* p = text; *p != '\0' && scanner.phase != kDone; ++p) {
    ScanCharacter(&scanner, static_cast<unsigned char>(*p));
  }
  return ScannedInteger(&scanner);
}

namespace {

enum Encoding {
  kUndecided = 0,
  kBytes = 1,
  kUtf16Le = 2,
  kUtf16Be = 3,
};

constexpr int kLinesRead = 4;

void EndLine(AddressLineReader* reader) {
  reader->octets[reader->line] = ScannedInteger(&reader->scanner);
  reader->scanner = IntegerScanner{};
  ++reader->line;
}

// One character (a byte, or a UTF-16 code unit) under the line-end rules.
void TakeCharacter(AddressLineReader* reader, std::uint32_t character) {
  if (reader->line >= kLinesRead) {
    return;
  }
  if (reader->afterCarriageReturn) {
    reader->afterCarriageReturn = false;
    if (character == '\n') {
      return;  // CR LF is one line end
    }
  }
  if (character == '\r') {
    EndLine(reader);
    reader->afterCarriageReturn = true;
  } else if (character == '\n' || character == 0) {
    EndLine(reader);
  } else {
    ScanCharacter(&reader->scanner, character);
  }
}

void TakeByte(AddressLineReader* reader, unsigned char byte) {
  if (reader->encoding == kBytes) {
    TakeCharacter(reader, byte);
    return;
  }
  if (!reader->havePendingByte) {
    reader->pendingByte = byte;
    reader->havePendingByte = true;
    return;
  }
  reader->havePendingByte = false;
  std::uint32_t first = reader->pendingByte;
  std::uint32_t unit = reader->encoding == kUtf16Le ? (first | (std::uint32_t{byte} << 8)) : ((first << 8) | byte);
  TakeCharacter(reader, unit);
}

// The bytes held while the byte-order mark was undecided were no mark after
// all: read them as plain bytes.
void ReplayHead(AddressLineReader* reader) {
  reader->encoding = kBytes;
  int length = reader->headLength;
  reader->headLength = 0;
  for (int i = 0; i < length; ++i) {
    TakeCharacter(reader, reader->head[i]);
  }
}

// Collects the first bytes until they either are a byte-order mark (UTF-8
// EF BB BF is dropped; FF FE and FE FF select UTF-16) or can't be one.
void TakeHeadByte(AddressLineReader* reader, unsigned char byte) {
  reader->head[reader->headLength++] = byte;
  const unsigned char* head = reader->head;
  int length = reader->headLength;
  if (head[0] == 0xEF) {
    if (length >= 2 && head[1] != 0xBB) {
      ReplayHead(reader);
    } else if (length == 3) {
      if (head[2] == 0xBF) {
        reader->encoding = kBytes;
        reader->headLength = 0;
      } else {
        ReplayHead(reader);
      }
    }
  } else if (head[0] == 0xFF || head[0] == 0xFE) {
    if (length == 2) {
      unsigned char partner = head[0] == 0xFF ? 0xFE : 0xFF;
      if (head[1] == partner) {
        reader->encoding = head[0] == 0xFF ? kUtf16Le : kUtf16Be;
        reader->headLength = 0;
      } else {
        ReplayHead(reader);
      }
    }
  } else {
    ReplayHead(reader);
  }
}

}  // namespace

void FeedAddressLines(AddressLineReader* reader, const unsigned char* data, std::size_t length) {
  std::size_t i = 0;
  while (i < length && reader->line < kLinesRead) {
    if (reader->encoding == kUndecided) {
      TakeHeadByte(reader, data[i++]);
      continue;
    }
    // Past the number of a line only its end matters: pass over the rest
    // of a long line without scanning each byte.
    if (reader->encoding == kBytes && reader->scanner.phase == kDone && !reader->afterCarriageReturn) {
      while (i < length && data[i] != '\n' && data[i] != '\r' && data[i] != 0) {
        ++i;
      }
      if (i == length) {
        break;
      }
    }
    TakeByte(reader, data[i++]);
  }
}

void FinishAddressLines(AddressLineReader* reader, std::int64_t octets[4]) {
  if (reader->encoding == kUndecided) {
    ReplayHead(reader);
  }
  // Half a UTF-16 code unit at the end of the data is no character.
  reader->havePendingByte = false;
  // The end of the data ends the current line; lines after it stay empty (0).
  if (reader->line < kLinesRead) {
    EndLine(reader);
    reader->line = kLinesRead;
  }
  for (int i = 0; i < 4; ++i) {
    octets[i] = reader->octets[i];
  }
}
