// Entry point of the Linux program `quorlen`: no command line is taken (the
// window toolkit gets only the program's name); everything happens in
// RunQuorlen.
#include "app/quorlen.h"

int main() {
  return RunQuorlen();
}
