/* The public header compiles as C, with its record layouts pinned by static asserts. */
#include "vantorel.h"

int vantorel_header_check_c(void) { return (int)sizeof(PinEntryRequest); }
