/* Captures a signature and saves it as an SVG picture.
 *
 *   sign PORT [signature.svg]
 *
 * The capture blocks its thread, so it runs on a thread of its own; the point handler
 * collects the points, and the main thread ends the capture once the customer has paused
 * for a moment after writing. */
#include <threads.h>
#include <time.h>

#include "example.h"

#define MAX_POINTS 8192
#define PAD_SIZE 1024 /* the pad reports 0-1023 each way */

typedef struct Signature {
  mtx_t lock;
  int x[MAX_POINTS], y[MAX_POINTS]; /* (-1, -1): the pen was lifted */
  int count;
  struct timespec last; /* when the last point came */
} Signature;

static Signature signature;

static void VANTOREL_CALL OnPoints(const int* values, int count, void* context) {
  Signature* s = (Signature*)context;
  int i;
  /* Over USB the pad's events (a touched region, a pad key) come as one pair of their own:
   * (122, region) or (123, key). This example has no regions or keys to act on. */
  if (count == 2 &&
      (values[0] == VANTOREL_POINT_EVENT_REGION || values[0] == VANTOREL_POINT_EVENT_KEY)) {
    return;
  }
  mtx_lock(&s->lock);
  for (i = 0; i + 1 < count && s->count < MAX_POINTS; i += 2) {
    s->x[s->count] = values[i];
    s->y[s->count] = values[i + 1];
    s->count++;
  }
  timespec_get(&s->last, TIME_UTC);
  mtx_unlock(&s->lock);
}

static int capture_result;
static int RunCapture(void* unused) {
  (void)unused;
  /* Absolute points. The seven capture bytes are the pad's; zeros here. */
  capture_result = Zelto_StartCapture(VANTOREL_POINT_FORMAT_ABSOLUTE, 0, 0, 0, 0, 0, 0, 0);
  return 0;
}

static double SecondsSince(const struct timespec* t) {
  struct timespec now;
  timespec_get(&now, TIME_UTC);
  return (double)(now.tv_sec - t->tv_sec) + (now.tv_nsec - t->tv_nsec) / 1e9;
}

static int SaveSvg(const char* path, const Signature* s) {
  FILE* out = fopen(path, "w");
  int i, open = 0;
  if (!out) return 0;
  fprintf(out, "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %d %d\">\n", PAD_SIZE,
          PAD_SIZE);
  for (i = 0; i < s->count; i++) {
    if (s->x[i] == -1) { /* pen up: the stroke ends */
      if (open) fprintf(out, "\"/>\n");
      open = 0;
      continue;
    }
    if (!open)
      fprintf(out, "<polyline fill=\"none\" stroke=\"black\" stroke-width=\"4\" points=\"");
    fprintf(out, "%d,%d ", s->x[i], s->y[i]);
    open = 1;
  }
  if (open) fprintf(out, "\"/>\n");
  fprintf(out, "</svg>\n");
  return fclose(out) == 0;
}

int main(int argc, char** argv) {
  const char* path = argc > 2 ? argv[2] : "signature.svg";
  struct timespec tick = {0, 100 * 1000 * 1000};
  thrd_t thread;
  int waited = 0, count = 0, ok;
  if (!ExampleOpen(argc, argv)) return 1;
  mtx_init(&signature.lock, mtx_plain);
  Zelto_AddPointHandle(OnPoints, &signature); /* a null context would switch points off */
  thrd_create(&thread, RunCapture, NULL);

  /* Wait for the signature: up to 30 s for the first point, then until the pen has rested
   * for a second and a half. */
  for (;;) {
    thrd_sleep(&tick, NULL);
    waited++;
    mtx_lock(&signature.lock);
    count = signature.count;
    ok = count > 0 && SecondsSince(&signature.last) > 1.5;
    mtx_unlock(&signature.lock);
    if (ok || waited > 300) break;
  }
  ExampleCheck("Zelto_ExitCapture", Zelto_ExitCapture());
  thrd_join(thread, NULL);
  Zelto_AddPointHandle(NULL, NULL);
  Brixa_Close();
  if (!ExampleCheck("Zelto_StartCapture", (unsigned char)capture_result)) return 1;
  if (count == 0) {
    fprintf(stderr, "no signature\n");
    return 1;
  }
  if (!SaveSvg(path, &signature)) {
    perror(path);
    return 1;
  }
  printf("signature: %d points saved to %s\n", count, path);
  return 0;
}
