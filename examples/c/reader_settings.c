/* Reads the card reader's settings, changes the decoding setting and puts it back.
 *
 *   reader_settings PORT */
#include "example.h"

int main(int argc, char** argv) {
  unsigned char block[512];
  int length = 0;
  unsigned char decoding = 0, changed = 0, level = 0, format = 0;
  int ok;
  if (!ExampleOpen(argc, argv)) return 1;

  ok = ExampleCheck("MSR_GetSecureHeadFirmware", MSR_GetSecureHeadFirmware(block, &length)) &&
       printf("secure head firmware: %.*s\n", length, (const char*)block) > 0 &&
       ExampleCheck("MSR_GetAllSettings", MSR_GetAllSettings(block, &length)) &&
       printf("all settings: %d bytes\n", length) > 0 &&
       ExampleCheck("MSR_GetSecurityLevel", MSR_GetSecurityLevel(&level)) &&
       ExampleCheck("MSR_GetDataOutputFormat", MSR_GetDataOutputFormat(&format)) &&
       printf("security level %c, data output format %c\n", level, format) > 0 &&
       ExampleCheck("MSR_GetDecodingSetting", MSR_GetDecodingSetting(&decoding));
  if (ok) {
    /* Setting values are characters: '0'-'4' for the decoding setting. */
    const unsigned char wanted = decoding == '2' ? '3' : '2';
    printf("decoding setting %c\n", decoding);
    ok = ExampleCheck("MSR_SetDecodingSetting", MSR_SetDecodingSetting(wanted)) &&
         ExampleCheck("MSR_GetDecodingSetting", MSR_GetDecodingSetting(&changed)) &&
         ExampleCheck("MSR_SetDecodingSetting", MSR_SetDecodingSetting(decoding));
    if (ok) printf("changed to %c, then back to %c\n", changed, decoding);
    ok = ok && changed == wanted;
  }
  Brixa_Close();
  return ok ? 0 : 1;
}
