// Ends the test VM with a status: writes it to qemu's isa-debug-exit port, which makes
// qemu exit with (status << 1) | 1. Usage: vm-exit STATUS (0-127).
#include <stdio.h>
#include <stdlib.h>
#include <sys/io.h>

enum { kDebugExitPort = 0xf4 };

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: vm-exit STATUS\n");
    return 2;
  }
  const long status = strtol(argv[1], NULL, 10);
  if (status < 0 || status > 127) {
    fprintf(stderr, "vm-exit: status must be 0-127\n");
    return 2;
  }
  if (ioperm(kDebugExitPort, 4, 1) != 0) {
    perror("vm-exit: ioperm");
    return 1;
  }
  outl((unsigned)status, kDebugExitPort);
  // Only reached without the exit device.
  fprintf(stderr, "vm-exit: no isa-debug-exit device\n");
  return 1;
}
