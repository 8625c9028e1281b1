// The whole server on a USB UPS: the server context in-process with the fake device layer behind the
// USB link, a Megatec UPS played by the simulator's protocol code, on a manual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "server/core/server_lifecycle.h"
#include "server/ups/ups_manager.h"
#include "tests/server/server_test_env.h"
#include "tools/upssim/megatec_sim.h"
#include "tools/upssim/sim_state.h"

namespace keep::test {
namespace {

constexpr uint16_t kVendor = 4660;
constexpr char kLanguage[] =
    "[LOGS]\nNewSessionStart=Session begins\n4=Link lost\n5=Link back\n6=Mains failure\n";

// A Megatec UPS behind a HID device: queries arrive in output reports (report mode) or in the
// feature report [5, answer flag, length, query] (feature mode); answers leave as input reports of
// the device's length or wait in the feature report for the server to fetch.
class UsbMegatecUps {
 public:
  UsbMegatecUps(int protocol, uint16_t product, const platform::MonotonicClock& clock)
      : device_(MakeFakeHidDevice(kVendor, product)), sim_(protocol), state_(tools::DefaultSimState(protocol)) {
    device_->on_output = [this, &clock](FakeHidDevice& device, const HidReport& report) {
      std::string bytes(report.begin() + 1, report.end());
      bytes.erase(std::find(bytes.begin(), bytes.end(), '\0'), bytes.end());  // the report's padding
      for (const tools::SimExchange& exchange : sim_.OnBytes(bytes, state_, clock.NowMs())) {
        const size_t chunk = static_cast<size_t>(device.Capabilities().input_report_length - 1);
        for (size_t at = 0; at < exchange.answer.size(); at += chunk) {
          HidReport input(chunk + 1, 0);
          input[0] = device.InputReportId();
          const std::string piece = exchange.answer.substr(at, chunk);
          std::copy(piece.begin(), piece.end(), input.begin() + 1);
          device.PushInput(std::move(input));
        }
      }
    };
    device_->on_set_feature = [this, &clock](FakeHidDevice& device, const HidReport& report) {
      HidReport answer{report[0]};
      const size_t length = std::min<size_t>(report[2], report.size() - 3);
      for (const tools::SimExchange& exchange :
           sim_.OnBytes(std::string(report.begin() + 3, report.begin() + 3 + static_cast<long>(length)), state_,
                        clock.NowMs())) {
        answer.insert(answer.end(), exchange.answer.begin(), exchange.answer.end());
      }
      device.SetFeatureAnswer(std::move(answer));
    };
  }

  std::shared_ptr<FakeHidDevice>& device() { return device_; }
  tools::SimState& state() { return state_; }

 private:
  std::shared_ptr<FakeHidDevice> device_;
  tools::MegatecSim sim_;
  tools::SimState state_;
};

class KeepdOnUsb : public ::testing::Test {
 protected:
  void Start(const std::string& model, UsbMegatecUps& ups) {
    env_.Install(kLanguage);
    env_.registry().SetDword(kServerKey, "UpsManType", 1);
    env_.registry().SetString(kServerKey, "UpsModelName", model);
    env_.registry().SetDword(kServerKey, "EventCounter", 3);
    env_.registry().SetString(kServerKey, "Event0", "4|$LOG");
    env_.registry().SetString(kServerKey, "Event1", "5|$LOG");
    env_.registry().SetString(kServerKey, "Event2", "6|$LOG");
    env_.hid().Attach(ups.device());
    ASSERT_TRUE(server::StartSequence(env_.context()));
  }

  // Advances the manual clock in small steps, giving the receive thread's deliveries real time to
  // land, until `condition` holds; at most `limit_ms` of server time.
  template <typename Condition>
  bool AdvanceUntil(Condition condition, int64_t limit_ms) {
    for (int64_t spent = 0; spent <= limit_ms; spent += kStepMs) {
      env_.loop().RunDue();
      if (condition()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      env_.loop().RunDue();
      if (condition()) return true;
      env_.clock().AdvanceMs(kStepMs);
    }
    return false;
  }
  bool Logged(const std::string& text) {
    const std::vector<std::string> texts = env_.LogTexts();
    return std::find(texts.begin(), texts.end(), text) != texts.end();
  }
  server::UpsManager& manager() { return *env_.context().Manager; }

  // Identified and polled, a mains failure raised, the link lost on unplugging and back on plugging.
  void WalkTheRoad(UsbMegatecUps& ups) {
    ASSERT_TRUE(AdvanceUntil([&] { return manager().Connected && !manager().Busy; }, 30000)) << env_.LogText();
    EXPECT_EQ("230", env_.context().Ups.Input.PhaseR.Voltage);
    EXPECT_EQ("0", env_.context().Ups.Main.UpsStatus.str());

    ups.state().power = tools::PowerSource::kBattery;
    ASSERT_TRUE(AdvanceUntil([&] { return Logged("Mains failure"); }, 30000)) << env_.LogText();
    EXPECT_EQ("1", env_.context().Ups.Main.UpsStatus.str());

    env_.hid().Detach(ups.device());
    ASSERT_TRUE(AdvanceUntil([&] { return Logged("Link lost"); }, 120000)) << env_.LogText();
    EXPECT_TRUE(manager().CommLost);
    EXPECT_EQ(0, ups.device()->OpenHandles()) << "the unplugged device is released";

    env_.hid().Attach(ups.device());
    ASSERT_TRUE(AdvanceUntil([&] { return Logged("Link back"); }, 120000)) << env_.LogText();
    EXPECT_FALSE(manager().CommLost);
    EXPECT_EQ(1, ups.device()->OpenHandles());
  }

  static constexpr int64_t kStepMs = 50;
  ServerTestEnv env_;
};

TEST_F(KeepdOnUsb, ReportModeUpsIsIdentifiedPolledLostAndFoundAgain) {
  UsbMegatecUps ups(1, 20483, env_.clock());
  Start("Keep LineGuard 1000", ups);
  WalkTheRoad(ups);
  // Queries went out in output reports, never as features.
  EXPECT_TRUE(ups.device()->FeaturesSet().empty());
  EXPECT_FALSE(ups.device()->Outputs().empty());
  server::StopSequence(env_.context());
  EXPECT_EQ(0, ups.device()->OpenHandles());
}

TEST_F(KeepdOnUsb, FeatureModeUpsIsAskedByFeatureAndItsAnswerFetchedHalfASecondLater) {
  UsbMegatecUps ups(7, 20482, env_.clock());
  Start("Keep PocketGuard 650", ups);
  // The wake-up sends nothing over USB; the first query follows its pause.
  ASSERT_TRUE(AdvanceUntil([&] { return !ups.device()->FeaturesSet().empty(); }, 10000));
  EXPECT_TRUE(ups.device()->Outputs().empty());
  EXPECT_EQ(1u, ups.device()->FeaturesSet().size());
  EXPECT_EQ(64u, ups.device()->FeaturesSet()[0].size());
  EXPECT_EQ(0, ups.device()->FeatureFetches());
  env_.clock().AdvanceMs(499);
  env_.loop().RunDue();
  EXPECT_EQ(0, ups.device()->FeatureFetches());
  env_.clock().AdvanceMs(1);
  env_.loop().RunDue();
  EXPECT_EQ(1, ups.device()->FeatureFetches());

  WalkTheRoad(ups);
  server::StopSequence(env_.context());
}

}  // namespace
}  // namespace keep::test
