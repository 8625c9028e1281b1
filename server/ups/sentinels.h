// The markers for values the UPS cannot give, and the binary protocols' raw sentinels that stand
// for them. A binary reply marks a value as not available with the largest but one number of its
// width and as overrange with the largest (for signed 16-bit values: of the positive range); every
// other number, including the one just below the sentinels, is a real value. The helpers turn a raw
// value into the text stored in TUpsData. Pure functions, callable from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace keep::server {

// Text and code fields.
inline constexpr std::string_view kNotAvailable = "&";
inline constexpr std::string_view kOverrange = "@";

// Load percentages, which are numbers rather than text.
inline constexpr float kLoadNotAvailable = -1.0f;
inline constexpr float kLoadOverrange = -2.0f;

// TUpsInfoData::BatteryBlocks when the UPS did not report the block count.
inline constexpr uint8_t kBatteryBlocksNotReported = 254;

inline constexpr uint8_t kRaw8NotAvailable = 254;
inline constexpr uint8_t kRaw8Overrange = 255;
inline constexpr uint16_t kRaw16NotAvailable = 65534;
inline constexpr uint16_t kRaw16Overrange = 65535;
inline constexpr int16_t kRawSigned16NotAvailable = 32766;
inline constexpr int16_t kRawSigned16Overrange = 32767;
inline constexpr uint32_t kRaw32NotAvailable = 4294967294u;
inline constexpr uint32_t kRaw32Overrange = 4294967295u;

// "&", "@" or the value in decimal ("-" before negative signed values).
std::string SentinelText8(uint8_t raw);
std::string SentinelText16(uint16_t raw);
std::string SentinelTextSigned16(int16_t raw);
std::string SentinelText32(uint32_t raw);

}  // namespace keep::server
