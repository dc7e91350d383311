/* An amount entry protected by the application's RSA key: the prompt travels through the
 * private-key operation, and the PIN pad, which holds the public half, shows it only when
 * it recovers it. PIN_GetNumericOrAmount() is the entry for this; the key is the
 * RsaPrivateKey record.
 *
 *   numeric_rsa PORT KEYFILE
 *
 * KEYFILE holds the key's fields as "name hex" lines (make-test-key.sh writes one). The
 * entered digits are secret: only their count is printed. */
#include "example.h"

/* Puts a big-endian hex number right-aligned into a field; 0 when it does not fit. */
static int PutHex(unsigned char* field, int size, const char* hex) {
  int digits = (int)strlen(hex), i;
  while (digits > 2 && hex[0] == '0' && hex[1] == '0') hex += 2, digits -= 2;
  if (digits % 2 || digits / 2 > size) return 0;
  memset(field, 0, (size_t)size);
  for (i = 0; i < digits / 2; i++) {
    unsigned int byte;
    if (sscanf(hex + 2 * i, "%2x", &byte) != 1) return 0;
    field[size - digits / 2 + i] = (unsigned char)byte;
  }
  return 1;
}

static int ReadKey(const char* path, RsaPrivateKey* key) {
  char name[32], hex[600];
  int fields = 0, i;
  FILE* in = fopen(path, "r");
  if (!in) return 0;
  memset(key, 0, sizeof *key);
  while (fscanf(in, "%31s %599s", name, hex) == 2) {
    struct {
      const char* name;
      unsigned char* field;
      int size;
    } table[] = {{"modulus", key->modulus, 128},
                 {"publicExponent", key->publicExponent, 128},
                 {"privateExponent", key->privateExponent, 128},
                 {"prime1", key->prime1, 64},
                 {"prime2", key->prime2, 64},
                 {"exponent1", key->exponent1, 64},
                 {"exponent2", key->exponent2, 64},
                 {"coefficient", key->coefficient, 64}};
    for (i = 0; i < 8; i++) {
      if (strcmp(name, table[i].name) == 0 && PutHex(table[i].field, table[i].size, hex)) fields++;
    }
  }
  fclose(in);
  memset(hex, 0, sizeof hex);
  /* The modulus's length in bits. */
  for (i = 0; i < 128 && key->modulus[i] == 0; i++) {
  }
  if (i < 128) {
    int top = key->modulus[i], bits = 0;
    while (top) bits++, top >>= 1;
    key->bits = (unsigned short)((127 - i) * 8 + bits);
  }
  return fields == 8 && key->bits > 0;
}

int main(int argc, char** argv) {
  RsaPrivateKey key;
  unsigned char digits[512];
  int first = 0;
  unsigned char code;
  PinEntryRequest request;
  if (argc < 3 || !ReadKey(argv[2], &key)) {
    fprintf(stderr, "usage: %s PORT KEYFILE (a readable key of up to 1024 bits)\n", argv[0]);
    return 2;
  }
  if (!ExampleOpen(argc, argv)) return 1;

  memset(&request, 0, sizeof request);
  request.result = digits;
  request.resultLength = &first;
  request.lowerBound = 4;
  request.upperBound = 8;
  request.promptLineCount = 1;
  request.promptLines[0].x = 10;
  request.promptLines[0].y = 40;
  request.promptLines[0].text = "Amount:";

  code = PIN_GetNumericOrAmount(VANTOREL_ENTRY_AMOUNT, request, key);
  memset(&key, 0, sizeof key);
  Brixa_Close();
  if (!ExampleCheck("PIN_GetNumericOrAmount", code)) return 1;
  /* `first` is the answer's first byte; the digits end at the terminating zero. */
  printf("amount entered: %d digits\n", (int)strlen((const char*)digits));
  memset(digits, 0, sizeof digits);
  return 0;
}
