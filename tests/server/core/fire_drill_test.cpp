// The rehearsal in process, on the shipped installation with the settings a case varies: when the
// countdown ends for each way the server comes by the autonomy, and what each action says it does.
#include "server/core/fire_drill.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/fake_registry.h"
#include "tests/support/install_tree.h"

namespace keep::test {
namespace {

constexpr char kGlobals[] = "Software\\Corvane\\Voltrena\\Globals";
constexpr char kServer[] = "Software\\Corvane\\Voltrena\\Powerkeep";

struct Drilled {
  int status = -1;
  std::string out;
  std::string err;
};

class FireDrill : public ::testing::Test {
 protected:
  FireDrill() {
    registry_.SetString(kGlobals, "InstallPath", tree_.InstallPath());
    registry_.SetString(kGlobals, "LanguageFile", "english.lng");
    registry_.SetString(kServer, "UpsModelName", kMegatecTestModel);
    registry_.SetDword(kServer, "UpsOffEnabled", 1);
    registry_.SetDword(kServer, "UpsOnEnabled", 1);
    Events({"6|$LOG", "9|$LOG", "10|$SHUTDOWN"});
  }

  void Events(const std::vector<std::string>& lists) {
    registry_.SetDword(kServer, "EventCounter", static_cast<uint32_t>(lists.size()));
    for (size_t i = 0; i < lists.size(); ++i) registry_.SetString(kServer, "Event" + std::to_string(i), lists[i]);
  }

  Drilled Drill() {
    std::ostringstream out;
    std::ostringstream err;
    Drilled result;
    result.status = server::RunFireDrill(registry_, *DateTime::FromCivil({2026, 12, 10, 14, 0, 0, 0}), out, err);
    result.out = out.str();
    result.err = err.str();
    return result;
  }

  InstallTree tree_;
  FakeRegistry registry_;
};

TEST_F(FireDrill, CountdownEndsWhereTheServerWouldEndIt) {
  struct Case {
    const char* what;
    const char* model;  // "" for none
    bool smart;
    uint32_t fixed_time;
    const char* charge;
    std::string basis;
    std::string shutdown_at;
  };
  const std::vector<Case> cases{
      {"estimate at full charge", kMegatecTestModel, false, 300, "100", "the server's autonomy estimate, 300 s",
       "+0:05:00  event 10"},
      {"estimate at half charge comes sooner", kMegatecTestModel, false, 300, "50",
       "the server's autonomy estimate, 150 s at the stored charge of 50.0 %", "+0:02:30  event 10"},
      {"no model: the fixed time, said so", "", false, 240, "50",
       "the autonomy of an unknown UPS is not known: the drill takes UpsFixedTime (240 s)", "+0:04:00  event 10"},
      {"the UPS's own autonomy: the fixed time, said so", "Keep ModuFrame 40", true, 120, "100",
       "a drill cannot know it and takes UpsFixedTime (120 s)", "+0:02:00  event 10"},
      {"the modular UPS without smart autonomy counts the fixed time", "Keep ModuFrame 40", false, 90, "100",
       "UpsFixedTime (90 s) on battery", "+0:01:30  event 10"},
  };
  for (const Case& c : cases) {
    registry_.SetString(kServer, "UpsModelName", c.model);
    registry_.SetDword(kServer, "UpsSmartAutonomy", c.smart ? 1 : 0);
    registry_.SetDword(kServer, "UpsFixedTime", c.fixed_time);
    registry_.SetString(kServer, "UpsBatteryCapacity", c.charge);
    const Drilled drilled = Drill();
    EXPECT_EQ(drilled.status, 0) << c.what << "\n" << drilled.out << drilled.err;
    EXPECT_NE(drilled.out.find(c.basis), std::string::npos) << c.what << "\n" << drilled.out;
    EXPECT_NE(drilled.out.find(c.shutdown_at), std::string::npos) << c.what << "\n" << drilled.out;
  }
  // The settings were read, never written.
  EXPECT_TRUE(registry_.writes().empty());
}

TEST_F(FireDrill, SaysWhatEachActionDoesOrWhyItDoesNothing) {
  Events({"6|$MSLOG,1|$MSLOG,7|$BOGUS|$EMAIL|$L_SHELL,/nonexistent/page|$SHUTDOWN", "9|$LOG", "10|$SHUTDOWN"});
  registry_.SetDword(kServer, "UpsOnEnabled", 0);
  Drilled drilled = Drill();
  EXPECT_EQ(drilled.status, 0) << drilled.out << drilled.err;
  for (const std::string line : {
           "  $MSLOG,1\n    system log entry (warning): Mains power failure - the UPS is running on battery\n",
           "  $MSLOG,7\n    nothing: the severity must be 0, 1 or 2",
           "  $BOGUS\n    nothing: not an action keepd knows, skipped\n",
           "  $EMAIL\n    nothing: no recipient\n",
           "  $L_SHELL,/nonexistent/page\n    nothing: /nonexistent/page is not a program file\n",
           // Event 6 asks for the shutdown: event 10 follows at once, without a restart of the UPS.
           "  $SHUTDOWN\n    asks for event 10 (shutdown of this computer)\n+0:00:00  event 10",
           "UPS switch-off request: the UPS switches off 180 s later, no restart\n",
       }) {
    EXPECT_NE(drilled.out.find(line), std::string::npos) << line << "\n" << drilled.out;
  }

  registry_.SetDword(kServer, "UpsOffEnabled", 0);
  drilled = Drill();
  EXPECT_NE(drilled.out.find("the UPS is not switched off (UpsOffEnabled is off)"), std::string::npos);
  EXPECT_EQ(drilled.out.find("UPS switch-off request"), std::string::npos);
}

}  // namespace
}  // namespace keep::test
