#include "server/links/usb_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/event_loop.h"
#include "server/records/error_codes.h"
#include "tests/support/child_process.h"
#include "tests/support/fake_hid.h"
#include "tests/support/loop_runner.h"
#include "tests/support/temp_dir.h"

namespace keep::server {
namespace {

using namespace std::chrono_literals;
using test::HidReport;

constexpr auto kLimit = 5000ms;
constexpr uint16_t kVendor = 0x1234;

// A report of `length` bytes: the identifier, as much of `text` as fits, zeros.
HidReport Report(uint8_t id, const std::string& text, size_t length) {
  HidReport report(length, 0);
  report[0] = id;
  std::copy_n(text.begin(), std::min(text.size(), length - 1), report.begin() + 1);
  return report;
}

class UsbLinkTest : public ::testing::Test {
 protected:
  UsbLinkTest() {
    setup_.InstallPath = folder_.path().string() + "/";
    std::filesystem::create_directories(folder_.path() / "data");
    setup_.UpsSetup.UsbDevices = {{kVendor, 0x5001}, {kVendor, 0x5002}};
    setup_.UpsSetup.ProtocolSetup.ProtocolNumber = 1;
  }

  bool RunUntil(const std::function<bool()>& ready) { return test::RunLoopUntil(loop_, ready, kLimit); }
  // Announcements are posted to the loop, as the system's controller posts them.
  void Announce() { loop_.RunDue(); }

  test::TempDir folder_;
  TSetupData setup_;
  platform::ManualClock clock_{DateTime()};
  platform::EventLoop loop_{clock_};
  test::FakeHidBus bus_;
  std::vector<std::string> received_;
  UsbLink link_{loop_, bus_.Factory(), [this](std::string text) { received_.push_back(std::move(text)); }};
};

TEST_F(UsbLinkTest, TakesTheFirstDeviceWhosePairIsAcceptedAndOnlyOne) {
  ASSERT_EQ(kErrorOk, link_.CreateUsbLink(setup_, false));
  EXPECT_EQ(kErrorOk, link_.OpenUsbLink()) << "no UPS yet is no failure";
  EXPECT_FALSE(link_.DevicePresent());

  auto other_product = test::MakeFakeHidDevice(kVendor, 0x5003);
  auto second_pair = test::MakeFakeHidDevice(kVendor, 0x5002);
  auto first_pair = test::MakeFakeHidDevice(kVendor, 0x5001);
  bus_.Attach(other_product);
  Announce();
  EXPECT_FALSE(link_.DevicePresent()) << "same vendor, another product";
  EXPECT_EQ(0, other_product->OpenHandles());

  bus_.Attach(second_pair);
  bus_.Attach(first_pair);
  Announce();
  ASSERT_TRUE(link_.DevicePresent());
  EXPECT_EQ(1, second_pair->OpenHandles()) << "the second accepted pair matched the first arrival";
  EXPECT_EQ(0, first_pair->OpenHandles()) << "one UPS at a time";
  EXPECT_TRUE(link_.Receiving());
  EXPECT_EQ(1, link_.ReportId());
}

TEST_F(UsbLinkTest, ReportModeSplitsTextOverReportsAndReadsTextUpToTheCarriageReturn) {
  auto ups = test::MakeFakeHidDevice(kVendor, 0x5001, /*report_length=*/9, /*report_id=*/3);
  bus_.Attach(ups);
  ASSERT_EQ(kErrorOk, link_.CreateUsbLink(setup_, /*debug=*/true));
  link_.OpenUsbLink();  // finds the UPS attached before
  ASSERT_TRUE(link_.DevicePresent());

  link_.SendUsbLink("0123456789ABCDEFGHI\r");
  link_.SendUsbLink("");
  const std::vector<HidReport> expected = {Report(3, "01234567", 9), Report(3, "89ABCDEF", 9),
                                           Report(3, "GHI\r", 9), Report(3, "", 9)};
  EXPECT_EQ(expected, ups->Outputs()) << "each report starts with the identifier, 8 bytes of text after it";

  // A 64-byte report without CR gives its 63 data bytes; one with CR ends there; a report shorter
  // than the buffer gives what it holds, not the rest of the buffer.
  auto big = test::MakeFakeHidDevice(kVendor, 0x5002, 64, 3);
  bus_.Detach(ups);
  Announce();
  bus_.Attach(big);
  Announce();
  ASSERT_TRUE(link_.Receiving());
  big->PushInput(Report(3, std::string(70, 'A'), 64));
  big->PushInput(Report(3, "(230.0\rjunk", 64));
  big->PushInput(HidReport{3, 'Q', '1'});
  ASSERT_TRUE(RunUntil([&] { return received_.size() == 3; }));
  EXPECT_EQ(std::string(63, 'A'), received_[0]);
  EXPECT_EQ("(230.0\r", received_[1]);
  EXPECT_EQ("Q1", received_[2]);

  const std::string dump = test::ReadFileText(setup_.InstallPath + "data/ups_debug.txt");
  EXPECT_NE(std::string::npos, dump.find("1) 03 | 47 48 49 0D\r\n")) << dump;
  EXPECT_NE(std::string::npos, dump.find("2) 03 | 28 32 33 30 2E 30 0D\r\n")) << dump;
  EXPECT_EQ(std::string::npos, dump.find("1) 03 | \r\n")) << "an empty text is not dumped";
}

TEST_F(UsbLinkTest, FeatureModeSendsOneSetFeatureAndFetchesTheAnswerWhenPolled) {
  setup_.UpsSetup.ProtocolSetup.ProtocolNumber = 7;
  auto ups = test::MakeFakeHidDevice(kVendor, 0x5001);
  ASSERT_EQ(kErrorOk, link_.CreateUsbLink(setup_, false));
  bus_.Attach(ups);
  Announce();
  ASSERT_TRUE(link_.DevicePresent());
  EXPECT_FALSE(link_.Receiving()) << "answers are fetched, never read";
  EXPECT_EQ(kUsbFeatureReportId, link_.ReportId());

  const std::string query("\x05\x00\x03Q1\r", 6);
  link_.SendUsbLink(query);
  ASSERT_EQ(1u, ups->FeaturesSet().size());
  HidReport expected(64, 0);
  std::copy(query.begin(), query.end(), expected.begin());
  EXPECT_EQ(expected, ups->FeaturesSet()[0]);
  EXPECT_TRUE(ups->Outputs().empty());

  ups->SetFeatureAnswer(Report(5, "(230.0 50.0\r\x7f", 64));
  link_.PollUsbFeature();
  EXPECT_EQ(1, ups->FeatureFetches());
  EXPECT_EQ(std::vector<std::string>{"\x05(230.0 50.0\r"}, received_);
}

TEST_F(UsbLinkTest, UnpluggingStopsReceptionAndPluggingBackResumesItWithoutOpen) {
  auto ups = test::MakeFakeHidDevice(kVendor, 0x5001);
  ASSERT_EQ(kErrorOk, link_.CreateUsbLink(setup_, false));
  bus_.Attach(ups);
  Announce();
  ups->PushInput(Report(1, "one\r", 9));
  ASSERT_TRUE(RunUntil([&] { return received_.size() == 1; }));

  bus_.Detach(ups);
  Announce();
  EXPECT_FALSE(link_.DevicePresent());
  EXPECT_FALSE(link_.Receiving());
  EXPECT_EQ(0, ups->OpenHandles()) << "the device is released";
  link_.SendUsbLink("Q1\r");
  EXPECT_EQ(0u, ups->Outputs().size()) << "nothing is sent without a UPS";

  bus_.Attach(ups);
  Announce();
  ASSERT_TRUE(link_.Receiving());
  ups->PushInput(Report(1, "two\r", 9));
  ASSERT_TRUE(RunUntil([&] { return received_.size() == 2; }));
  EXPECT_EQ("two\r", received_[1]);
}

TEST_F(UsbLinkTest, FailingCapabilityQueryHoldsTheDeviceWithoutReceiving) {
  auto ups = test::MakeFakeHidDevice(kVendor, 0x5001);
  ups->FailCapabilities(true);
  ASSERT_EQ(kErrorOk, link_.CreateUsbLink(setup_, false));
  bus_.Attach(ups);
  Announce();
  EXPECT_TRUE(link_.DevicePresent());
  EXPECT_FALSE(link_.Receiving());
  EXPECT_EQ(1, ups->OpenHandles());
  link_.FreeUsbLink();
  EXPECT_EQ(0, ups->OpenHandles());
}

TEST_F(UsbLinkTest, TheControllerIsMadeOnceAndFreedOnlyWithADevice) {
  bus_.FailCreation(5);
  EXPECT_EQ(kErrorServerObject, link_.CreateUsbLink(setup_, false));
  bus_.FailCreation(0);
  ASSERT_EQ(kErrorOk, link_.CreateUsbLink(setup_, false));
  link_.FreeUsbLink();
  EXPECT_EQ(1, bus_.Controllers()) << "without a device the controller stays";
  ASSERT_EQ(kErrorOk, link_.CreateUsbLink(setup_, false));
  EXPECT_EQ(1, bus_.Controllers()) << "and is used again";

  auto ups = test::MakeFakeHidDevice(kVendor, 0x5001);
  bus_.Attach(ups);
  Announce();
  ASSERT_TRUE(link_.DevicePresent());
  link_.FreeUsbLink();
  EXPECT_EQ(0, bus_.Controllers());
  EXPECT_EQ(0, ups->OpenHandles());
}

// Run under ThreadSanitizer too: the device must outlive every read the receive thread makes.
TEST_F(UsbLinkTest, FreeNeverReleasesTheDeviceWhileTheReceiveThreadReads) {
  auto ups = test::MakeFakeHidDevice(kVendor, 0x5001);
  bus_.Attach(ups);
  for (int round = 0; round < 30; ++round) {
    ASSERT_EQ(kErrorOk, link_.CreateUsbLink(setup_, false));
    link_.OpenUsbLink();
    ASSERT_TRUE(link_.Receiving());
    std::thread feeder([&] {
      for (int i = 0; i < 20; ++i) ups->PushInput(Report(1, "x\r", 9));
    });
    if (round % 2 == 0) {
      ASSERT_TRUE(test::WaitUntil([&] { return ups->ReportsRead() > 0; }, kLimit));
    }
    link_.FreeUsbLink();
    feeder.join();
    loop_.RunDue();
    EXPECT_FALSE(ups->FreedDuringRead());
    EXPECT_EQ(0, ups->OpenHandles());
  }
}

}  // namespace
}  // namespace keep::server
