// The thirty reader settings exports: each is its row of kSettings handed to the function
// for its shape.
#include <cstring>

#include "cardreader/settings_table.h"
#include "link/command.h"
#include "link/trace.h"
#include "vantorel.h"

namespace vantorel::cardreader {
namespace {

using link::Accept;
using link::CommandBytes;

// Reply data of the getters: the function and sub-command echoed, then the value, or a count
// byte and its bytes; blocks and the eight-byte getter carry their bytes from the start.
constexpr std::size_t kValueField = 2;

CommandBytes Compose(const SettingMember& m) {
  return CommandBytes{kReaderClass, m.function, m.sub};
}

// Every member's exchange: ACK and a whole frame, or the mapped status. `copy` runs on
// success and may still declare the reply unusable (false), which reports a failure and
// leaves the caller's outputs as they were; so does a reply too long for the reply area,
// whose data would be cut.
template <class Copy>
std::uint8_t Exchange(const CommandBytes& command, Copy&& copy) {
  return link::RunCommand(command, {.accept = Accept::Data, .exchange = {.wholeReply = true}},
                          copy);
}

std::uint8_t Send(const CommandBytes& command) {
  return link::RunCommand(command, {.accept = Accept::Data});
}

std::uint8_t SetValue(const SettingMember& m, std::uint8_t value) noexcept {
  if (!link::LinkIsOpen()) return VANTOREL_NOT_OPEN;
  if (value < m.low || value > m.high) return VANTOREL_INVALID_ARGUMENT;
  CommandBytes command = Compose(m);
  command.Byte(0x01).Byte(value);
  return Send(command);
}

std::uint8_t SetFlags(const SettingMember& m, const std::uint8_t* flags, int count) noexcept {
  if (!link::LinkIsOpen()) return VANTOREL_NOT_OPEN;
  CommandBytes command = Compose(m);
  command.Byte(0x01).Byte(static_cast<std::uint8_t>(m.maskBase + FoldFlags(flags, count)));
  return Send(command);
}

std::uint8_t SetBlock(const SettingMember& m, const unsigned char* data, int length) noexcept {
  if (!link::LinkIsOpen()) return VANTOREL_NOT_OPEN;
  if (length != m.blockLength || data == nullptr) return VANTOREL_INVALID_ARGUMENT;
  CommandBytes command = Compose(m);
  command.Byte(m.blockLength).Bytes(data, m.blockLength);
  return Send(command);
}

std::uint8_t GetValue(const SettingMember& m, unsigned char* value) noexcept {
  if (!link::LinkIsOpen()) return VANTOREL_NOT_OPEN;
  if (value == nullptr) return VANTOREL_INVALID_ARGUMENT;
  return Exchange(Compose(m), [&](const link::Reply& reply) {
    if (!reply.Holds(kValueField + 1)) return false;
    *value = reply.At(kValueField);
    return true;
  });
}

std::uint8_t GetBytes(const SettingMember& m, unsigned char* buffer, int* length) noexcept {
  if (!link::LinkIsOpen()) return VANTOREL_NOT_OPEN;
  if (buffer == nullptr || length == nullptr) return VANTOREL_INVALID_ARGUMENT;
  return Exchange(Compose(m), [&](const link::Reply& reply) {
    auto data = reply.Data();
    switch (m.shape) {
      case Shape::kGetCounted: {
        // A count byte claiming more than arrived would hand the caller zero bytes (or the
        // frame's check bytes) as data: such a reply is as unusable as a short one.
        if (!reply.Holds(kValueField + 1)) return false;
        const std::size_t n = reply.At(kValueField);
        if (!reply.Holds(kValueField + 1 + n)) return false;
        data = data.subspan(kValueField + 1, n);
        break;
      }
      case Shape::kGetEight:
        // Likewise the eight bytes must all have arrived.
        if (!reply.Holds(8)) return false;
        data = data.first(8);
        break;
      default:  // block
        break;
    }
    std::memcpy(buffer, data.data(), data.size());
    *length = static_cast<int>(data.size());
    return true;
  });
}

}  // namespace
}  // namespace vantorel::cardreader

using vantorel::cardreader::GetBytes;
using vantorel::cardreader::GetValue;
using vantorel::cardreader::SetBlock;
using vantorel::cardreader::SetFlags;
using vantorel::cardreader::Setting;
using vantorel::cardreader::SetValue;
using vantorel::cardreader::Shape;

// The export's row; its shape must be the one the export's signature carries.
#define VANTOREL_SETTING(name) Setting(#name)
#define VANTOREL_CHECK_SHAPE(name, ...)       \
  static_assert(                              \
      [] {                                    \
        const Shape s = Setting(#name).shape; \
        for (Shape allowed : {__VA_ARGS__}) { \
          if (s == allowed) return true;      \
        }                                     \
        return false;                         \
      }(),                                    \
      #name " has another shape in the table")

// Setters of one value byte.
#define SETTER(name)                                                          \
  VANTOREL_CHECK_SHAPE(name, Shape::kSet);                                    \
  extern "C" unsigned char VANTOREL_CALL name(unsigned char value) noexcept { \
    vantorel::link::trace::ExportCall call(__func__);                         \
    return call.Result(SetValue(VANTOREL_SETTING(name), value));              \
  }
// Getters of one byte.
#define GETTER(name)                                                           \
  VANTOREL_CHECK_SHAPE(name, Shape::kGetByte);                                 \
  extern "C" unsigned char VANTOREL_CALL name(unsigned char* value) noexcept { \
    vantorel::link::trace::ExportCall call(__func__);                          \
    return call.Result(GetValue(VANTOREL_SETTING(name), value));               \
  }
// Getters of a block, a counted block or eight bytes.
#define BLOCK_GETTER(name)                                                                   \
  VANTOREL_CHECK_SHAPE(name, Shape::kGetBlock, Shape::kGetCounted, Shape::kGetEight);        \
  extern "C" unsigned char VANTOREL_CALL name(unsigned char* buffer, int* length) noexcept { \
    vantorel::link::trace::ExportCall call(__func__);                                        \
    return call.Result(GetBytes(VANTOREL_SETTING(name), buffer, length));                    \
  }

GETTER(MSR_GetOutputSetting)
GETTER(MSR_GetDecodingSetting)
SETTER(MSR_SetDecodingSetting)
BLOCK_GETTER(MSR_GetAllSettings)
BLOCK_GETTER(MSR_GetSecureHeadFirmware)
GETTER(MSR_ReviewSecureHeadPrePANID)
GETTER(MSR_ReviewSecureHeadPostPANID)
GETTER(MSR_ReviewSecureHeadMaskPAN)
BLOCK_GETTER(MSR_ReviewKSNAndCountID)
SETTER(MSR_SetSecureHeadPrePANID)
SETTER(MSR_SetSecureHeadPostPANID)
SETTER(MSR_SetSecureHeadMaskPAN)
SETTER(MSR_SetExpirationData)
SETTER(MSR_SetEncryption)
BLOCK_GETTER(MSR_SerialNumber)
GETTER(MSR_GetKeyModel)
SETTER(MSR_SetKeyModel)
BLOCK_GETTER(MSR_GetEncryptedData)
GETTER(MSR_GetSecurityLevel)
GETTER(MSR_GetMSROutputStatus)
GETTER(MSR_GetDataOutputFormat)
SETTER(MSR_SetDataOutputFormat)
SETTER(MSR_SetOutputEncryptedFormat)
GETTER(MSR_getDataPINorDataKey)
SETTER(MSR_SetDataPINorDataKey)

VANTOREL_CHECK_SHAPE(MSR_SetEncryptedData, Shape::kSetBlock);
VANTOREL_CHECK_SHAPE(MSR_LoadDeviceKey, Shape::kSetBlock);
VANTOREL_CHECK_SHAPE(MSR_SetEncryptOption, Shape::kSetFlags4);
VANTOREL_CHECK_SHAPE(MSR_SetHashOption, Shape::kSetFlags3);
VANTOREL_CHECK_SHAPE(MSR_SetMaskOption, Shape::kSetFlags3);

extern "C" unsigned char VANTOREL_CALL MSR_SetEncryptedData(const unsigned char* data,
                                                            int length) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  return call.Result(SetBlock(VANTOREL_SETTING(MSR_SetEncryptedData), data, length));
}

extern "C" unsigned char VANTOREL_CALL MSR_LoadDeviceKey(const unsigned char* key,
                                                         int length) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  return call.Result(SetBlock(VANTOREL_SETTING(MSR_LoadDeviceKey), key, length));
}

extern "C" unsigned char VANTOREL_CALL MSR_SetEncryptOption(unsigned char flag1,
                                                            unsigned char flag2,
                                                            unsigned char flag3,
                                                            unsigned char flag4) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  const std::uint8_t flags[] = {flag1, flag2, flag3, flag4};
  return call.Result(SetFlags(VANTOREL_SETTING(MSR_SetEncryptOption), flags, 4));
}

extern "C" unsigned char VANTOREL_CALL MSR_SetHashOption(unsigned char flag1, unsigned char flag2,
                                                         unsigned char flag3) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  const std::uint8_t flags[] = {flag1, flag2, flag3};
  return call.Result(SetFlags(VANTOREL_SETTING(MSR_SetHashOption), flags, 3));
}

extern "C" unsigned char VANTOREL_CALL MSR_SetMaskOption(unsigned char flag1, unsigned char flag2,
                                                         unsigned char flag3) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  const std::uint8_t flags[] = {flag1, flag2, flag3};
  return call.Result(SetFlags(VANTOREL_SETTING(MSR_SetMaskOption), flags, 3));
}
