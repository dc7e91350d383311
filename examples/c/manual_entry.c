/* Manual card entry: the customer keys the card number and expiry on the PIN pad.
 *
 *   manual_entry PORT
 *
 * The keyed data are secret: only their length is printed. */
#include "example.h"

int main(int argc, char** argv) {
  unsigned char data[512];
  int length = 0;
  unsigned char code;
  ManualEntryRequest request;
  if (!ExampleOpen(argc, argv)) return 1;

  memset(&request, 0, sizeof request);
  request.result = data;
  request.resultLength = &length;
  request.mode = 1;      /* return the keyed data */
  request.entryKind = 3; /* a data-returning entry */
  request.lowerBound = 12;
  request.upperBound = 20;
  request.promptLineCount = 1;
  request.promptLines[0].x = 10;
  request.promptLines[0].y = 40;
  request.promptLines[0].text = "Key card number";

  code = MSR_ManualInputCardData(request); /* blocks until the pad answers */
  memset(data, 0, sizeof data);
  Brixa_Close();
  if (!ExampleCheck("MSR_ManualInputCardData", code)) return 1;
  printf("card data keyed: %d bytes\n", length);
  return 0;
}
