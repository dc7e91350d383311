// The DLL's binary interface: exports by name and ordinal, stdcall, records by value.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "serial_session.h"

namespace wintest {
namespace {

const void* Export(HMODULE dll, LPCSTR nameOrOrdinal) {
  return reinterpret_cast<const void*>(::GetProcAddress(dll, nameOrOrdinal));
}

LPCSTR Ordinal(int ordinal) {
  return reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(ordinal));
}

bool Contains(const Bytes& haystack, const Bytes& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
         haystack.end();
}

TEST(Exports, NamesAndOrdinalsReachTheSameFunctions) {
  const HMODULE dll = ::GetModuleHandleA("vantorel.dll");
  ASSERT_NE(dll, nullptr);
  struct Case {
    int ordinal;
    const char* name;
  };
  const Case cases[] = {
      {1, "Brixa_OpenHid"},
      {3, "Brixa_Close"},
      {42, "Zelto_DrawStringInRectangle"},
      {68, "PIN_GetPINBlock"},
      {70, "PIN_GetNumericOrAmount"},
      {83, "MSR_getDataPINorDataKey"},
      {84, "MSR_ManualInputCardData"},
      {86, "Zelto_ReviewBackLight"},
      {87, "Brixa_MapPort"},
      {88, "Brixa_ReturnCodeText"},
      {91, "Brixa_SetTiming"},
  };
  for (const Case& c : cases) {
    const void* byName = Export(dll, c.name);
    const void* byOrdinal = Export(dll, Ordinal(c.ordinal));
    EXPECT_NE(byName, nullptr) << c.name;
    EXPECT_EQ(byName, byOrdinal) << c.name << " @" << c.ordinal;
  }
  EXPECT_EQ(Export(dll, "Brixa_Close@0"), nullptr) << "no decorated duplicates";
  EXPECT_EQ(Export(dll, "_Brixa_Close@0"), nullptr);
}

TEST(Exports, CallByOrdinalThroughAPlainFunctionPointer) {
  // What an application that loads the DLL itself does.
  const HMODULE dll = ::LoadLibraryA("vantorel.dll");
  ASSERT_NE(dll, nullptr);
  using SdkVersion = unsigned char(VANTOREL_CALL*)(char*, int*);
  const auto getSdkVersion =
      reinterpret_cast<SdkVersion>(const_cast<void*>(Export(dll, Ordinal(10))));
  ASSERT_NE(getSdkVersion, nullptr);
  char text[8] = {};
  int length = 0;
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(getSdkVersion(text, &length), VANTOREL_SUCCESS);
  EXPECT_STREQ(text, "1.12");
  EXPECT_EQ(length, 4);
  ::FreeLibrary(dll);
}

TEST(Exports, VersionResourceCarriesTheProjectVersion) {
  // Read the way installers and Explorer read it.
  char path[MAX_PATH];
  const DWORD pathLength =
      ::GetModuleFileNameA(::GetModuleHandleA("vantorel.dll"), path, sizeof path);
  ASSERT_GT(pathLength, 0u);
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(path, &ignored);
  ASSERT_GT(size, 0u) << "no version resource in " << path;
  std::vector<char> info(size);
  ASSERT_TRUE(::GetFileVersionInfoA(path, 0, size, info.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedLength = 0;
  ASSERT_TRUE(::VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedLength));
  ASSERT_GE(fixedLength, sizeof(VS_FIXEDFILEINFO));
  const unsigned parts[] = {VANTOREL_VERSION_PARTS};
  EXPECT_EQ(fixed->dwFileVersionMS, (parts[0] << 16) | parts[1]);
  EXPECT_EQ(fixed->dwFileVersionLS, (parts[2] << 16) | parts[3]);
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

  struct Case {
    const char* key;
    const char* value;
  };
  const Case cases[] = {
      {"FileVersion", VANTOREL_VERSION_TEXT},
      {"OriginalFilename", "vantorel.dll"},
      {"InternalName", "vantorel"},
  };
  for (const Case& c : cases) {
    const std::string key = std::string("\\StringFileInfo\\040904B0\\") + c.key;
    char* value = nullptr;
    UINT valueLength = 0;
    ASSERT_TRUE(
        ::VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &valueLength))
        << c.key;
    EXPECT_STREQ(value, c.value) << c.key;
  }
}

PinEntryRequest ValidPinRequest(unsigned char* result, int* resultLength) {
  PinEntryRequest request;
  std::memset(&request, 0, sizeof request);
  request.result = result;
  request.resultLength = resultLength;
  request.mode = '0';
  request.upperBound = 12;
  request.lowerBound = 4;
  request.accountNumber = "";
  request.selector = 0;
  return request;
}

TEST(RecordsClosed, ByValueRequestsNeedAConnectionFirst) {
  Brixa_Close();
  unsigned char result[512];
  int length = 0;
  PinEntryRequest request = ValidPinRequest(result, &length);
  RsaPrivateKey key;
  std::memset(&key, 0, sizeof key);
  ManualEntryRequest manual;
  std::memset(&manual, 0, sizeof manual);
  for (int i = 0; i < 200; ++i) {
    // A callee that removed the wrong number of argument bytes would unbalance the stack
    // of this loop at once.
    ASSERT_EQ(PIN_GetPINBlock(request), VANTOREL_NOT_OPEN);
    ASSERT_EQ(PIN_GetNumericOrAmount(1, request, key), VANTOREL_NOT_OPEN);
    ASSERT_EQ(PIN_GetEncryptedData(0, request), VANTOREL_NOT_OPEN);
    ASSERT_EQ(MSR_ManualInputCardData(manual), VANTOREL_NOT_OPEN);
  }
}

class Records : public SerialSession {};

TEST_F(Records, EachPinRequestFieldIsReadWhereTheHeaderPutsIt) {
  unsigned char result[512];
  int length = 0;
  struct Case {
    const char* what;
    void (*spoil)(PinEntryRequest&);
  };
  const Case cases[] = {
      {"mode", [](PinEntryRequest& r) { r.mode = '2'; }},
      {"upper bound", [](PinEntryRequest& r) { r.upperBound = 13; }},
      {"lower bound", [](PinEntryRequest& r) { r.lowerBound = 3; }},
      {"account number", [](PinEntryRequest& r) { r.accountNumber = nullptr; }},
      {"prompt line count", [](PinEntryRequest& r) { r.promptLineCount = 11; }},
      {"last prompt line's text",
       [](PinEntryRequest& r) {
         r.promptLineCount = 10;
         for (auto& line : r.promptLines) line.text = "x";
         r.promptLines[9].text = nullptr;
       }},
  };
  for (const Case& c : cases) {
    PinEntryRequest request = ValidPinRequest(result, &length);
    c.spoil(request);
    EXPECT_EQ(PIN_GetPINBlock(request), VANTOREL_INVALID_ARGUMENT) << c.what;
  }
  EXPECT_TRUE(console.Frames().empty());
}

TEST_F(Records, PinRequestFieldsReachTheWire) {
  unsigned char result[512];
  int length = 0;
  PinEntryRequest request = ValidPinRequest(result, &length);
  request.promptLineCount = 2;
  request.promptLines[0].text = "FIRST";
  request.promptLines[1].x = 0x0123;
  request.promptLines[1].y = 0x0045;
  request.promptLines[1].text = "LAST LINE";
  // The terminal refuses the start: the export returns its status after one exchange,
  // which carries every field.
  console.Execute("refuse 1 EC");
  EXPECT_EQ(PIN_GetPINBlock(request), VANTOREL_STATUS_EC);
  const auto commands = console.Commands();
  ASSERT_EQ(commands.size(), 1u);
  const Bytes& command = commands[0];
  EXPECT_TRUE(Contains(command, {'F', 'I', 'R', 'S', 'T'}));
  EXPECT_TRUE(Contains(command, {'L', 'A', 'S', 'T', ' ', 'L', 'I', 'N', 'E'}));
  EXPECT_TRUE(Contains(command, {0x23, 0x01, 0x45, 0x00})) << "x and y of the last line";
}

TEST_F(Records, NumericEntryAndManualEntryCheckTheirArguments) {
  unsigned char result[512];
  int length = 0;
  PinEntryRequest request = ValidPinRequest(result, &length);
  RsaPrivateKey key;
  std::memset(&key, 0, sizeof key);
  EXPECT_EQ(PIN_GetNumericOrAmount(3, request, key), VANTOREL_INVALID_ARGUMENT);
  ManualEntryRequest manual;
  std::memset(&manual, 0, sizeof manual);
  manual.result = result;
  manual.resultLength = &length;
  manual.entryKind = 4;
  EXPECT_EQ(MSR_ManualInputCardData(manual), VANTOREL_INVALID_ARGUMENT);
  EXPECT_TRUE(console.Frames().empty());
}

}  // namespace
}  // namespace wintest
