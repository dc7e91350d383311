/* A PIN block entry with a time-out: when the customer has not finished within the time,
 * another thread cancels the entry.
 *
 *   pin_block PORT [seconds]
 *
 * The PIN block is secret: only the outcome and the block's length are printed. */
#include <stdatomic.h>
#include <threads.h>

#include "example.h"

static atomic_int entry_done;
static int timeout_seconds = 30;
static atomic_int cancelled;

static int CancelAfterTimeout(void* unused) {
  struct timespec tick = {0, 50 * 1000 * 1000};
  int waited;
  (void)unused;
  for (waited = 0; waited < timeout_seconds * 20; waited++) {
    if (entry_done) return 0;
    thrd_sleep(&tick, NULL);
  }
  if (!entry_done) {
    cancelled = 1;
    ExampleCheck("PIN_CancelPIN", PIN_CancelPIN()); /* the entry ends with the pad's answer */
  }
  return 0;
}

int main(int argc, char** argv) {
  unsigned char block[512];
  int length = 0;
  unsigned char code;
  thrd_t watchdog;
  PinEntryRequest request;
  if (argc > 2) timeout_seconds = atoi(argv[2]);
  if (!ExampleOpen(argc, argv)) return 1;

  memset(&request, 0, sizeof request);
  request.result = block;
  request.resultLength = &length;
  request.mode = '0';
  request.lowerBound = 4; /* digits */
  request.upperBound = 6;
  request.accountNumber = ""; /* or the card's 16 digits */
  request.promptLineCount = 1;
  request.promptLines[0].x = 10;
  request.promptLines[0].y = 40;
  request.promptLines[0].text = "Enter PIN";

  thrd_create(&watchdog, CancelAfterTimeout, NULL);
  code = PIN_GetPINBlock(request); /* blocks until the pad answers */
  entry_done = 1;
  thrd_join(watchdog, NULL);
  memset(block, 0, sizeof block);
  Brixa_Close();

  if (code == VANTOREL_SUCCESS) {
    printf("PIN block received (%d bytes)\n", length);
    return 0;
  }
  printf("entry ended with %d (%s)%s\n", code, Brixa_ReturnCodeText(code),
         cancelled ? " after the time-out" : "");
  return cancelled && code == VANTOREL_STATUS_18 ? 0 : 1;
}
