/* Secure reading: the card reader's encrypting head is switched on, swipes and the PIN
 * pad's keys reach the handler, and the main thread switches it off again.
 *
 *   secure_reading PORT
 *
 * Card data are secret: the handler prints only their length and kind. */
#include <stdatomic.h>
#include <threads.h>

#include "example.h"

static atomic_int cards;     /* card data received */
static atomic_int enter_key; /* the customer pressed Enter */

static void VANTOREL_CALL OnCardData(const unsigned char* data, int count, int context) {
  (void)context;
  if (count == 2 && data[0] == VANTOREL_KEY_EVENT) { /* a PIN-pad key */
    printf("key %s\n", data[1] == VANTOREL_KEY_CANCEL      ? "Cancel"
                       : data[1] == VANTOREL_KEY_BACKSPACE ? "Backspace"
                                                           : "Enter");
    if (data[1] == VANTOREL_KEY_ENTER) enter_key = 1;
    return;
  }
  /* A record from the encrypting head starts with STX; otherwise the tracks. */
  printf("card data: %d bytes, %s\n", count,
         data[0] == VANTOREL_RECORD_STX ? "encrypted record" : "track text");
  cards++;
}

static int reading_result;
static int RunReading(void* unused) {
  (void)unused;
  reading_result = MSR_EnableSecureHead(); /* returns once reading is switched off */
  return 0;
}

int main(int argc, char** argv) {
  struct timespec tick = {0, 100 * 1000 * 1000};
  thrd_t thread;
  int waited;
  if (!ExampleOpen(argc, argv)) return 1;
  MSR_AddDataHandle(OnCardData, 0);
  thrd_create(&thread, RunReading, NULL);
  /* Until a card was read and Enter pressed, at most 30 s. */
  for (waited = 0; waited < 300 && !(cards > 0 && enter_key); waited++) thrd_sleep(&tick, NULL);
  ExampleCheck("MSR_DisableSecureHead", MSR_DisableSecureHead());
  thrd_join(thread, NULL);
  MSR_AddDataHandle(NULL, 0);
  Brixa_Close();
  if (!ExampleCheck("MSR_EnableSecureHead", (unsigned char)reading_result)) return 1;
  printf("%d card(s) read\n", (int)cards);
  return cards > 0 ? 0 : 1;
}
