/*
 * A caller built the way Visual C++ builds one (clang-cl, i686-pc-windows-msvc) and linked
 * with lld-link against vantorel.lib alone: no C runtime, no other import library. It
 * proves the import library resolves the decorated stdcall symbols the compiler emits and
 * that the stack stays balanced across calls with records by value.
 *
 * Its exit code says what went wrong (0: nothing). scripts/check-import-lib.sh builds it
 * and, where a 32-bit wine runs, runs it beside vantorel.dll.
 */
#include "vantorel.h"

/* The compiler may call these for record copies; there is no C runtime to supply them. */
void* __cdecl memset(void* to, int value, size_t n);
void* __cdecl memcpy(void* to, const void* from, size_t n);
void* __cdecl memset(void* to, int value, size_t n) {
  volatile unsigned char* p = (volatile unsigned char*)to;
  while (n--) *p++ = (unsigned char)value;
  return to;
}
void* __cdecl memcpy(void* to, const void* from, size_t n) {
  volatile unsigned char* p = (volatile unsigned char*)to;
  const unsigned char* q = (const unsigned char*)from;
  while (n--) *p++ = *q++;
  return to;
}

/* The address of a local one call deep: it moves when a callee removed the wrong number
 * of argument bytes. */
static volatile size_t stackMark;
static __declspec(noinline) size_t StackMark(void) {
  volatile char here = 0;
  stackMark = (size_t)&here;
  return stackMark;
}

static PinEntryRequest request;
static RsaPrivateKey key;
static ManualEntryRequest manual;

int __stdcall CallerStart(void) {
  char text[8] = {0};
  int length = 0;
  size_t mark;
  int i;
  if (Brixa_GetSdkVersion(text, &length) != VANTOREL_SUCCESS) return 10;
  if (length != 4 || text[0] != '1' || text[1] != '.' || text[2] != '1' || text[3] != '0') {
    return 11;
  }
  mark = StackMark();
  for (i = 0; i < 50; ++i) {
    if (PIN_GetPINBlock(request) != VANTOREL_NOT_OPEN) return 20;
    if (PIN_GetNumericOrAmount(1, request, key) != VANTOREL_NOT_OPEN) return 21;
    if (MSR_ManualInputCardData(manual) != VANTOREL_NOT_OPEN) return 22;
    if (Zelto_StartCapture(1, 2, 3, 4, 5, 6, 7, 8) != VANTOREL_NOT_OPEN) return 23;
    if (Brixa_OpenPort(0, 9600, 'N', 1, 8) != VANTOREL_INVALID_ARGUMENT) return 24;
  }
  if (StackMark() != mark) return 30;
  return 0;
}
