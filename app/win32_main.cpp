// Windows entry point of quorlen.exe / quorlen32.exe: a GUI-subsystem program
// that takes no command line; everything happens in RunQuorlen.
#include <windows.h>

#include "app/quorlen.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return RunQuorlen();
}
