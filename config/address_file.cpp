// The mixer address file, config.txt in the working directory: four lines,
// one octet each, read once at start-up. The program never writes it; the
// user edits it with Notepad (on Linux, the desktop's editor) and restarts.
// Only on Linux is a missing file created, empty, for that editor to open.
#include "config/address_file.h"

#include <cstdint>

#include "config/address_text.h"
#include "config/file.h"
#include "config/launch.h"
#include "link/ip_address.h"
#include "ui/controls.h"

std::string g_mixerAddressText;

namespace {

constexpr const char* kAddressFileName = "config.txt";
constexpr const char* kEditorName = "Notepad.exe";

}  // namespace

int ReadMixerAddress() {
  const std::intptr_t file = OpenExistingFile(kAddressFileName);
  if (file == 0) {
    // The box names config.ini while the file read (and opened in Notepad
    // next) is config.txt. Engineers know the box by these words, and the
    // editor that opens shows them the real name at once.
    ShowMessageBox("No config.ini", "Please create the config.ini.\rEG.\r192\r168\r1\r16");
    EditMixerAddress();
    return 0;
  }

  AddressLineReader reader;
  unsigned char chunk[4096];
  for (;;) {
    const int count = ReadFileBytes(file, chunk, static_cast<int>(sizeof chunk));
    if (count <= 0) break;
    FeedAddressLines(&reader, chunk, static_cast<std::size_t>(count));
    if (reader.line >= 4) break;  // nothing after line 4 is read
  }
  CloseFile(file);

  std::int64_t octets[4];
  FinishAddressLines(&reader, octets);
  const std::uint32_t value = PackIpAddress(octets[0], octets[1], octets[2], octets[3]);
  SetControlValue(MixerIpField, value);
  g_mixerAddressText = FormatIpAddress(value);
  return 1;
}

void EditMixerAddress() {
  PrepareFileForEditor(kAddressFileName);
  StartProgram(kEditorName, kAddressFileName, DirectoryPart(kEditorName).c_str());
  Drain();
  ShowMessageBox("Quorlen", "Please, Restart The App");
}
