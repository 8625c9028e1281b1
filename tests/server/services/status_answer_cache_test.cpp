#include "server/services/status_answer_cache.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/scrambling.h"
#include "server/services/response_builder.h"
#include "tests/server/server_test_env.h"

namespace keep::test {
namespace {

// A kept status answer must never outlive a change of anything the answer shows: each step changes
// one input and the kept frame has to follow it, byte for byte what a fresh build gives.
TEST(StatusAnswerCache, FollowsEveryInputOfTheStatusAnswer) {
  ServerTestEnv env;
  server::ServerContext& context = env.context();
  server::TUpsData& ups = context.Ups;
  ups.Main.UpsStatus = "0";
  ups.Main.Anomaly = "0";
  ups.Main.LoadR = 40.0f;
  ups.Main.Temperature = "25";
  ups.Main.AutonomyTime = 1200;
  ups.Main.CalibrationState = "@";
  context.Setup.UpsSetup.UpsBatteryCapacity = 100.0f;
  ups.Main.AutonomyFromUps = 1;  // shown only with a protocol that carries it

  server::StatusAnswerCache cache;
  const auto fresh = [&] { return UnscrambleText(ScrambleText(server::BuildResponse(101, nullptr, context))); };
  std::string shown = UnscrambleText(cache.Scrambled(context));
  ASSERT_EQ("<|101|0|0|400|25|1200|1000|@|>", shown);

  const std::vector<std::pair<const char*, std::function<void()>>> changes = {
      {"status", [&] { ups.Main.UpsStatus = "1"; }},
      {"anomaly", [&] { ups.Main.Anomaly = "1"; }},
      {"load", [&] { ups.Main.LoadR = 40.1f; }},
      {"load unavailable", [&] { ups.Main.LoadR = -1.0f; }},
      {"temperature", [&] { ups.Main.Temperature = "26"; }},
      {"autonomy", [&] { ups.Main.AutonomyTime = 1199; }},
      {"battery capacity", [&] { context.Setup.UpsSetup.UpsBatteryCapacity = 99.5f; }},
      {"calibration state", [&] { ups.Main.CalibrationState = "1"; }},
      {"autonomy test done", [&] { ups.Test.AutonomyTestState = "3"; }},
      {"a protocol whose UPS reports autonomy", [&] { context.Setup.UpsSetup.ProtocolSetup.ProtocolNumber = 2; }},
      {"the UPS no longer reports autonomy", [&] { ups.Main.AutonomyFromUps = 0; }},
  };
  for (const auto& [what, change] : changes) {
    change();
    const std::string now = UnscrambleText(cache.Scrambled(context));
    EXPECT_NE(shown, now) << what << " changed the answer";
    EXPECT_EQ(fresh(), now) << what;
    shown = now;
  }
  EXPECT_EQ(shown, UnscrambleText(cache.Scrambled(context))) << "nothing changed";
}

}  // namespace
}  // namespace keep::test
