/* What every C example shares: opening the terminal named on the command line or in
 * VANTOREL_PORT, and saying why a call failed. Copy freely. */
#ifndef VANTOREL_EXAMPLE_H
#define VANTOREL_EXAMPLE_H

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vantorel.h"

/* The terminal to open: "hid" (the USB terminal), a COM number ("3"), or a device path
 * ("/dev/ttyUSB0", a virtual terminal's link) that COM 1 is mapped to. */
static const char* ExampleTerminalName(int argc, char** argv) {
  const char* name = argc > 1 ? argv[1] : getenv("VANTOREL_PORT");
  return name && *name ? name : NULL;
}

/* Prints the failed call with the library's reason and returns 0, or returns 1. */
static int ExampleCheck(const char* call, unsigned char code) {
  if (code == VANTOREL_SUCCESS) return 1;
  fprintf(stderr, "%s returned %d: %s\n", call, code, Brixa_GetLastErrorText());
  return 0;
}

/* Opens the terminal; 1 on success. */
static int ExampleOpen(int argc, char** argv) {
  const char* name = ExampleTerminalName(argc, argv);
  char* end = NULL;
  long com;
  if (!name) {
    fprintf(stderr,
            "usage: %s PORT ... (PORT: hid, a COM number or a device path; "
            "or set VANTOREL_PORT)\n",
            argv[0]);
    return 0;
  }
  if (strcmp(name, "hid") == 0) return ExampleCheck("Brixa_OpenHid", Brixa_OpenHid(0x0ACD, 0x3910));
  com = strtol(name, &end, 10);
  if (*end != '\0' || com < 1 || com > 100) {
    com = 1;
    if (!ExampleCheck("Brixa_MapPort", Brixa_MapPort(1, name))) return 0;
  }
  return ExampleCheck("Brixa_OpenPort", Brixa_OpenPort((int)com, 9600, 'N', 1, 8));
}

#endif
