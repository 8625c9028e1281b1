// keepterm's scheduler editor as a person at a terminal uses it: on a pseudo-terminal of its own,
// against keepd with upssim playing the UPS. The plan typed in reaches keepd's scheduler file.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/keepterm_session.h"
#include "tests/support/temp_dir.h"

namespace keep::test {
namespace {

constexpr char kSchedulerMenu[] = "******** UPS SCHEDULER ********";

// The number the menu on `screen` gives the entry `text` (its last showing).
std::string EntryNumber(const std::string& screen, const std::string& text) {
  const size_t at = screen.rfind(" - " + text);
  if (at == std::string::npos) return "";
  size_t begin = at;
  while (begin > 0 && screen[begin - 1] >= '0' && screen[begin - 1] <= '9') --begin;
  return screen.substr(begin, at - begin);
}

class KeeptermSetup : public KeeptermOnKeepd {
 protected:
  std::string PlanFile() const { return tree_.InstallPath() + "data/sch_data.dat"; }
};

TEST_F(KeeptermSetup, TheSchedulerEditorSavesAPlanThatKeepdStores) {
  ASSERT_NO_FATAL_FAILURE(StartServer());
  ASSERT_NO_FATAL_FAILURE(WriteFileText(PlanFile(), "SR|W|1|79200|2|28800\r\n"));
  KeeptermSession term;
  ASSERT_TRUE(term.ConnectTo(port_)) << term.Plain();

  const std::string actions = EntryNumber(term.Plain(), "Actions and Tests");
  ASSERT_FALSE(actions.empty()) << term.Plain();
  ASSERT_TRUE(term.TypeAndWait(actions + "\n", "******** ACTIONS AND TESTS MENU ********", 1)) << term.Plain();
  ASSERT_TRUE(term.TypeAndWait("1\n", kSchedulerMenu, 1)) << term.Plain();

  // The downloaded plan, viewed.
  ASSERT_TRUE(term.TypeAndWait("1\n", "0 - Shutdown every Monday at 22:00:00 (restart every Tuesday at 08:00:00)", 1))
      << term.Plain();
  ASSERT_TRUE(term.TypeAndWait("\n", kSchedulerMenu, 2));

  // A daily battery test at one o'clock, after a time that is not one.
  ASSERT_TRUE(term.TypeAndWait("2\n", "Type (0=Shutdown; 1=Battery Test; 2=Autonomy Calibration): ", 1));
  ASSERT_TRUE(term.TypeAndWait("1\n", "Frequency (0=Once; 1=Daily; 2=Weekly): ", 1));
  ASSERT_TRUE(term.TypeAndWait("1\n", "Test time [hh:mm:ss]: ", 1));
  ASSERT_TRUE(term.TypeAndWait("1 o'clock\n", "Invalid time !", 1)) << term.Plain();
  ASSERT_TRUE(term.Shows("Test time [hh:mm:ss]: ", 2));
  ASSERT_TRUE(term.TypeAndWait("01:00:00\n", "1 - Battery Test every day at 01:00:00", 1)) << term.Plain();
  ASSERT_TRUE(term.TypeAndWait("\n", kSchedulerMenu, 3));

  ASSERT_TRUE(term.TypeAndWait("4\n", " Configuration properly saved", 1)) << term.Plain();
  EXPECT_EQ(std::string::npos, term.Plain().find("Error while saving configuration !"));
  EXPECT_EQ("SR|W|1|79200|2|28800\r\nBT|D|0|3600|-1|-1\r\n", ReadFileText(PlanFile()));

  ASSERT_TRUE(term.TypeAndWait("\n", kSchedulerMenu, 4));
  ASSERT_TRUE(term.TypeAndWait("\n", "******** ACTIONS AND TESTS MENU ********", 2));
  ASSERT_TRUE(term.TypeAndWait("\n", "******** MAIN MENU ********", 2));
  EXPECT_EQ(std::optional<int>(0), term.Quit()) << term.Plain();
}

}  // namespace
}  // namespace keep::test
