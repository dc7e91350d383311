/* What every consumer program does with the library it was built against: maps COM3 to the
 * virtual terminal's pseudo-terminal (argv[1]), opens it, reads the terminal's version and
 * closes again, checking every return code. Written as C that also compiles as C++. */
#ifndef VANTOREL_CONSUMER_SESSION_H
#define VANTOREL_CONSUMER_SESSION_H

#include <stdio.h>
#include <string.h>

#include "vantorel.h"

static int ConsumerCheck(const char* what, unsigned char rc, unsigned char expected) {
  if (rc == expected) return 1;
  fprintf(stderr, "%s returned %d, expected %d\n", what, rc, expected);
  return 0;
}

static int ConsumerSession(const char* how, int argc, char** argv) {
  char sdk[8] = {0};
  char numbers[16];
  char version[512];
  int length = 0;
  if (argc != 2) {
    fprintf(stderr, "usage: %s TTY\n", argv[0]);
    return 2;
  }
  /* The version the header announces is the one the library reports. */
  if (!ConsumerCheck("Brixa_GetSdkVersion", Brixa_GetSdkVersion(sdk, &length), VANTOREL_SUCCESS)) {
    return 1;
  }
  snprintf(numbers, sizeof numbers, "%d.%d", VANTOREL_VERSION_MAJOR, VANTOREL_VERSION_MINOR);
  if (strcmp(sdk, VANTOREL_VERSION_STRING) != 0 || strcmp(numbers, VANTOREL_VERSION_STRING) != 0 ||
      length != (int)strlen(sdk)) {
    fprintf(stderr, "version: library %s (%d), header %s / %s\n", sdk, length,
            VANTOREL_VERSION_STRING, numbers);
    return 1;
  }
  if (!ConsumerCheck("Brixa_MapPort", Brixa_MapPort(3, argv[1]), VANTOREL_SUCCESS) ||
      !ConsumerCheck("Brixa_OpenPort", Brixa_OpenPort(3, 9600, 'N', 1, 8), VANTOREL_SUCCESS)) {
    return 1;
  }
  length = 0;
  if (!ConsumerCheck("Brixa_GetVersion", Brixa_GetVersion(version, &length), VANTOREL_SUCCESS) ||
      length <= 0 || length >= (int)sizeof version) {
    fprintf(stderr, "Brixa_GetVersion gave %d bytes\n", length);
    Brixa_Close();
    return 1;
  }
  version[length] = '\0';
  if (!ConsumerCheck("Brixa_Close", Brixa_Close(), VANTOREL_SUCCESS) ||
      !ConsumerCheck("second Brixa_Close", Brixa_Close(), VANTOREL_FAILURE)) {
    return 1;
  }
  printf("%s: library %s, terminal version \"%s\"\n", how, sdk, version);
  return 0;
}

#endif
