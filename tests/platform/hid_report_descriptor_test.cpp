#include "platform/hid_report_descriptor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace keep::platform {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Short items, spelled out so each case reads as the descriptor it is.
Bytes ReportId(uint8_t id) { return {0x85, id}; }
Bytes ReportSize(uint8_t bits) { return {0x75, bits}; }
Bytes ReportCount(uint8_t count) { return {0x95, count}; }
const Bytes kVendorPage = {0x06, 0x00, 0xFF};  // Usage Page 0xFF00, two data bytes
const Bytes kButtonPage = {0x05, 0x09};
const Bytes kUsage = {0x09, 0x01};
const Bytes kByteRange = {0x15, 0x00, 0x26, 0xFF, 0x00};  // Logical Minimum 0, Maximum 255
const Bytes kApplication = {0xA1, 0x01};
const Bytes kEndCollection = {0xC0};
const Bytes kInputValue = {0x81, 0x02};    // Data, Variable, Absolute
const Bytes kInputArray = {0x81, 0x00};    // Data, Array
const Bytes kInputPadding = {0x81, 0x03};  // Constant
const Bytes kOutputValue = {0x91, 0x02};
const Bytes kFeatureValue = {0xB1, 0x02};
const Bytes kPush = {0xA4};
const Bytes kPop = {0xB4};

struct Expected {
  bool numbered;
  int input;
  int output;
  int feature;
  bool has_value;
  uint8_t value_id;
};

struct Case {
  std::string name;
  Bytes descriptor;
  Expected expected;
};

TEST(HidReportDescriptorTest, SummarisesLengthsNumberingAndTheFirstInputValue) {
  const std::vector<Case> cases = {
      {"a UPS with numbered 63-byte reports in each direction",
       Join({kVendorPage, kUsage, kApplication, ReportId(1), kUsage, kByteRange, ReportSize(8), ReportCount(63),
             kInputValue, ReportId(2), kUsage, kOutputValue, ReportId(5), kUsage, kFeatureValue, kEndCollection}),
       {true, 64, 64, 64, true, 1}},
      {"unnumbered reports (a count given in four bytes, a long item skipped)",
       Join({kVendorPage,
             kUsage,
             kApplication,
             ReportSize(8),
             {0x97, 0x08, 0x00, 0x00, 0x00},
             kInputValue,
             {0xFE, 0x02, 0x10, 0xAA, 0xBB},
             kOutputValue,
             kEndCollection}),
       {false, 9, 9, 0, true, 0}},
      {"one-bit buttons and an array before the first value",
       Join({kButtonPage, ReportId(3), ReportSize(1), ReportCount(8), kInputValue, ReportSize(8), ReportCount(2),
             kInputArray, kVendorPage, ReportId(4), ReportSize(8), ReportCount(2), kInputValue}),
       {true, 4, 0, 0, true, 4}},
      {"padding before the first value",
       Join({ReportId(7), ReportSize(8), ReportCount(1), kInputPadding, ReportId(9), ReportSize(16), kInputValue}),
       {true, 3, 0, 0, true, 9}},
      // Pop restores the size, count and identifier pushed: report 1 gets 2 x 16 bits, not 4 + 4.
      {"Push and Pop around a narrower field of another report",
       Join({ReportId(1), ReportSize(16), ReportCount(2), kPush, ReportId(2), ReportSize(4), ReportCount(1),
             kInputValue, kPop, kInputValue}),
       {true, 5, 0, 0, true, 2}},
      {"no input value: only buttons, arrays and padding",
       Join({ReportSize(1), ReportCount(8), kInputValue, ReportSize(8), kInputArray, kInputPadding, kFeatureValue}),
       {false, 18, 0, 9, false, 0}},
      {"a report of exactly the longest length accepted",
       Join({ReportSize(8), {0x96, 0x00, 0x40}, kInputValue}),  // 16384 bytes
       {false, kHidMaxReportBytes + 1, 0, 0, true, 0}},
      {"the longest descriptor accepted", Bytes(kHidMaxDescriptorBytes, 0x00), {false, 0, 0, 0, false, 0}},
      {"nothing at all", {}, {false, 0, 0, 0, false, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HidReportSummary summary;
    ASSERT_EQ(ReadHidReportDescriptor(c.descriptor.data(), c.descriptor.size(), &summary), HidDescriptorError::kNone);
    EXPECT_EQ(summary.numbered, c.expected.numbered);
    EXPECT_EQ(summary.input_length, c.expected.input);
    EXPECT_EQ(summary.output_length, c.expected.output);
    EXPECT_EQ(summary.feature_length, c.expected.feature);
    EXPECT_EQ(summary.has_input_value, c.expected.has_value);
    if (c.expected.has_value) {
      EXPECT_EQ(summary.first_input_value_id, c.expected.value_id);
    }
  }
}

TEST(HidReportDescriptorTest, RefusesMalformedOrAbsurdDescriptorsWithoutReadingPastTheEnd) {
  Bytes deep;
  for (int i = 0; i <= kHidMaxPushDepth; ++i) deep.push_back(kPush[0]);
  const Bytes ok_deep(deep.begin(), deep.end() - 1);
  const struct {
    std::string name;
    Bytes descriptor;
    HidDescriptorError error;
  } cases[] = {
      {"one byte too long", Bytes(kHidMaxDescriptorBytes + 1, 0x00), HidDescriptorError::kTooLong},
      {"a one-byte item without its byte", Join({ReportSize(8), {0x75}}), HidDescriptorError::kTruncated},
      {"a four-byte item with two", {0x27, 0xFF, 0xFF}, HidDescriptorError::kTruncated},
      {"a long item without its size", {0xFE}, HidDescriptorError::kTruncated},
      {"a long item shorter than it says", {0xFE, 0x05, 0x10, 0x01}, HidDescriptorError::kTruncated},
      {"report identifier 0", Join({ReportId(0), ReportSize(8), ReportCount(1), kInputValue}),
       HidDescriptorError::kBadReportId},
      {"a report identifier beyond one byte", {0x86, 0x00, 0x01}, HidDescriptorError::kBadReportId},
      // 0xFFFFFFFF squared wraps to 1 in 32 bits: only a wide product sees it is absurd.
      {"size times count beyond any report",
       {0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02},
       HidDescriptorError::kReportTooLong},
      {"fields adding up to one bit more than the longest report",
       Join({ReportSize(8), {0x96, 0x00, 0x40}, kOutputValue, ReportSize(1), ReportCount(1), kOutputValue}),
       HidDescriptorError::kReportTooLong},
      {"a Pop with nothing pushed", Join({kPush, kPop, kPop}), HidDescriptorError::kPopWithoutPush},
      {"Push nested too deep", deep, HidDescriptorError::kPushTooDeep},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // A copy of exactly the descriptor's size: reading past it is caught by the sanitizer builds.
    const std::vector<uint8_t> exact(c.descriptor);
    HidReportSummary summary;
    summary.input_length = 99;
    EXPECT_EQ(ReadHidReportDescriptor(exact.data(), exact.size(), &summary), c.error);
    EXPECT_EQ(summary.input_length, 0) << "a refused descriptor leaves no summary behind";
  }
  HidReportSummary summary;
  EXPECT_EQ(ReadHidReportDescriptor(ok_deep.data(), ok_deep.size(), &summary), HidDescriptorError::kNone)
      << "pushes up to the bound are fine";
}

}  // namespace
}  // namespace keep::platform
