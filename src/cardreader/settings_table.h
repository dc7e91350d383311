// The reader and secure-head settings: thirty exports that differ only in their function
// byte, sub-command, parameter shape and allowed values. Each export names its row of
// kSettings; one function per shape carries out the exchange.
//
// Every member counts as successful only on an ACK reply of more than six bytes, setters
// included: the reader answers a write with the setting it now holds.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "link/command_catalogue.h"

namespace vantorel::cardreader {

using link::kDeviceKeySetting;
using link::kEncryptedDataSetting;
using link::kRead;
using link::kReaderClass;
using link::kWrite;

enum class Shape {
  kSet,         // S:  one value byte, sent as 01 value
  kGetByte,     // G1: reply byte 6 to one byte
  kGetBlock,    // GB: reply bytes 4 .. count-4 and their count
  kGetCounted,  // GC: reply byte 6 is the count of the bytes from reply byte 7 on
  kGetEight,    // GE: reply bytes 4 .. 11, count 8
  kSetBlock,    // SB: a fixed-size block, sent as its length byte then the bytes
  kSetFlags3,   // F3: three flags folded into a bit mask
  kSetFlags4,   // F4: four flags folded into a bit mask
};

struct SettingMember {
  std::string_view name;  // the export
  std::uint8_t function;  // kRead or kWrite
  std::uint8_t sub;
  Shape shape;
  std::uint8_t low = 0x00;  // kSet: allowed values low .. high
  std::uint8_t high = 0xFF;
  std::uint8_t blockLength = 0;  // kSetBlock: the one length accepted
  std::uint8_t maskBase = 0x00;  // flag setters: added to the mask ('0' sends a digit)
};

inline constexpr std::array<SettingMember, 30> kSettings{{
    {"MSR_GetOutputSetting", kRead, 0x1A, Shape::kGetByte},
    {"MSR_GetDecodingSetting", kRead, 0x1D, Shape::kGetByte},
    {"MSR_SetDecodingSetting", kWrite, 0x1D, Shape::kSet, '0', '4'},
    {"MSR_GetAllSettings", kRead, 0x1F, Shape::kGetBlock},
    {"MSR_GetSecureHeadFirmware", kRead, 0x22, Shape::kGetBlock},
    {"MSR_ReviewSecureHeadPrePANID", kRead, 0x49, Shape::kGetByte},
    {"MSR_ReviewSecureHeadPostPANID", kRead, 0x4A, Shape::kGetByte},
    {"MSR_ReviewSecureHeadMaskPAN", kRead, 0x4B, Shape::kGetByte},
    {"MSR_ReviewKSNAndCountID", kRead, 0x51, Shape::kGetCounted},
    {"MSR_SetSecureHeadPrePANID", kWrite, 0x49, Shape::kSet},
    {"MSR_SetSecureHeadPostPANID", kWrite, 0x4A, Shape::kSet},
    {"MSR_SetSecureHeadMaskPAN", kWrite, 0x4B, Shape::kSet},
    {"MSR_SetExpirationData", kWrite, 0x50, Shape::kSet, '0', '1'},
    {"MSR_SetEncryption", kWrite, 0x4C, Shape::kSet, '0', '2'},
    {"MSR_SerialNumber", kRead, 0x4E, Shape::kGetCounted},
    {"MSR_GetKeyModel", kRead, 0x58, Shape::kGetByte},
    {"MSR_SetKeyModel", kWrite, 0x58, Shape::kSet, '0', '1'},
    {"MSR_GetEncryptedData", kRead, kEncryptedDataSetting, Shape::kGetEight},
    {"MSR_SetEncryptedData", kWrite, kEncryptedDataSetting, Shape::kSetBlock, 0, 0xFF, 8},
    {"MSR_LoadDeviceKey", kWrite, kDeviceKeySetting, Shape::kSetBlock, 0, 0xFF, 16},
    {"MSR_GetSecurityLevel", kRead, 0x7E, Shape::kGetByte},
    {"MSR_GetMSROutputStatus", kRead, 0xE2, Shape::kGetByte},
    {"MSR_GetDataOutputFormat", kRead, 0xE3, Shape::kGetByte},
    {"MSR_SetDataOutputFormat", kWrite, 0xE3, Shape::kSet, '0', '2'},
    {"MSR_SetOutputEncryptedFormat", kWrite, 0x85, Shape::kSet, '0', '1'},
    {"MSR_SetEncryptOption", kWrite, 0x84, Shape::kSetFlags4},
    {"MSR_SetHashOption", kWrite, 0x5C, Shape::kSetFlags3, 0, 0xFF, 0, '0'},
    {"MSR_SetMaskOption", kWrite, 0x86, Shape::kSetFlags3},
    {"MSR_getDataPINorDataKey", kRead, 0xE4, Shape::kGetByte},
    {"MSR_SetDataPINorDataKey", kWrite, 0xE4, Shape::kSet, '0', '1'},
}};

// The row of an export, found at compile time: a misspelt name does not compile.
consteval const SettingMember& Setting(std::string_view name) {
  for (const auto& member : kSettings) {
    if (member.name == name) return member;
  }
  throw "no such setting";  // not a constant expression: a compile error
}

// Folds flags in argument order: the first non-zero flag sets bit 0, the second bit 1...
constexpr std::uint8_t FoldFlags(const std::uint8_t* flags, int count) noexcept {
  std::uint8_t mask = 0;
  for (int i = 0; i < count; ++i) {
    if (flags[i] != 0) mask = static_cast<std::uint8_t>(mask | (1u << i));
  }
  return mask;
}

}  // namespace vantorel::cardreader
