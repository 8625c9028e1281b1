// The menu tree: which entries each UPS kind gets, where they lead, and how a lost UPS sends every
// sub-menu back to the main menu.
#include "console/menus.h"

#include <gtest/gtest.h>

#include "tests/console/screen_fixture.h"

namespace keep::console {
namespace {

using test::ScreenTest;

std::vector<std::string> Texts(const std::vector<MenuEntry>& entries) {
  std::vector<std::string> texts;
  for (const MenuEntry& entry : entries) texts.push_back(entry.text);
  return texts;
}

TEST(MenuEntries, DataMenuFollowsTheKind) {
  const std::vector<std::string> basic{"Info Read", "Main Data Read", "Input Data Read", "Output Data Read",
                                       "Battery Data Read"};
  EXPECT_EQ(basic, Texts(DataReadEntries(0)));
  std::vector<std::string> standard = basic;
  standard.insert(standard.end(), {"Hardware Data Read", "History Read", "Events List Read"});
  EXPECT_EQ(standard, Texts(DataReadEntries(1)));
  EXPECT_EQ(standard, Texts(DataReadEntries(2)));
  std::vector<std::string> modular = standard;
  modular.push_back("Alarms List Read");
  for (int kind = 3; kind <= 6; ++kind) EXPECT_EQ(modular, Texts(DataReadEntries(kind))) << kind;
}

TEST(MenuEntries, MainMenuEntriesFollowTheKind) {
  const SubMenus none;
  EXPECT_EQ((std::vector<std::string>{"UPS Data Read", "Actions and Tests", "UPS Setup"}),
            Texts(UpsMenuEntries(0, none)));
  EXPECT_EQ((std::vector<std::string>{"UPS Data Read", "Actions and Tests", "UPS Setup"}),
            Texts(UpsMenuEntries(2, none)));
  EXPECT_EQ((std::vector<std::string>{"UPS Data Read", "MODULES Data Read", "Actions and Tests", "UPS Setup"}),
            Texts(UpsMenuEntries(4, none)));
  // A kind the server never sends gets nothing that could send a setting it does not know.
  EXPECT_EQ((std::vector<std::string>{"UPS Data Read"}), Texts(UpsMenuEntries(7, none)));
}

TEST(MenuEntries, ModulesMenuListsItsSixScreens) {
  EXPECT_EQ((std::vector<std::string>{"Info Read", "Main Data Read", "Input Data Read", "Output Data Read",
                                      "Hardware Data Read", "History Read"}),
            Texts(ModulesReadEntries()));
}

class MenuTree : public ScreenTest {
 protected:
  SubMenus Recording() {
    return {[this](ConsoleClient&) { ran_.push_back("actions"); }, [this](ConsoleClient&) { ran_.push_back("setup"); }};
  }
  std::vector<std::string> ran_;
};

TEST_F(MenuTree, MainMenuLeadsToTheActionsAndSetupMenus) {
  Connect(1);
  for (const char* line : {"3", "4", "q"}) in_.AddLine(line);
  MainMenu(client_, MakeUpsEntries(Recording()));
  EXPECT_EQ((std::vector<std::string>{"actions", "setup"}), ran_);
  EXPECT_TRUE(
      out_.Shows(" 1 - Disconnect from Powerkeep (127.0.0.1:5769)\n 2 - UPS Data Read\n"
                 " 3 - Actions and Tests\n 4 - UPS Setup\n\nSelection [Q for exit]: "));
}

TEST_F(MenuTree, DataMenuRunsTheScreenOfTheEntryAndReturnsOnBlank) {
  Connect(2);
  Answer("<|106|>", "<|106|2730|2400|2200|1|0|0|90|1|>");
  for (const char* line : {"2", "9", "5", "", "", "q"}) in_.AddLine(line);
  MainMenu(client_, MakeUpsEntries(Recording()));
  EXPECT_EQ((std::vector<std::string>{"<|106|>"}), RequestsAfterIdentification());
  EXPECT_TRUE(out_.Shows("\n\n\n******** UPS DATA READ MENU ********\n\n 1 - Info Read\n"));
  EXPECT_TRUE(out_.Shows(" 8 - Events List Read\n\nSelection [<blank> to return to Main Menu]: "));
  EXPECT_TRUE(out_.Shows("Selection [<blank> to return to Main Menu]: \a\n\n\n******** UPS DATA READ MENU"));
  EXPECT_TRUE(ShowsLine("Autorestart enabled................: Yes"));
  EXPECT_EQ(2u, out_.Count("******** MAIN MENU ********"));
  EXPECT_TRUE(ran_.empty());
}

TEST_F(MenuTree, ModulesMenuAsksTheModuleOfTheChosenScreen) {
  Connect(4, 1);
  Answer("<|155|0|>", "<|155|M0|0|54|1|-20|380|375|41|&|55|>");
  for (const char* line : {"3", "5", "", "q"}) in_.AddLine(line);
  TypeKey('\r');
  MainMenu(client_, MakeUpsEntries(Recording()));
  EXPECT_EQ((std::vector<std::string>{"<|155|0|>"}), RequestsAfterIdentification());
  EXPECT_TRUE(out_.Shows("******** MODULES DATA READ MENU ********"));
  EXPECT_TRUE(ShowsLine("MODULE HARDWARE DATA READ"));
  EXPECT_TRUE(ShowsLine("Negative BUS voltage..........: -375 V"));
  EXPECT_TRUE(ShowsLine("Booster heat sink temperature : Not available"));
}

TEST_F(MenuTree, LostUpsSendsTheSubMenuBackAndRestoredUpsBringsTheEntriesBack) {
  Connect(1);
  // The server reports the UPS lost just before it answers the screen's request.
  Answer("<|101|>", std::vector<std::string>{"<|500|>", "<|101|0|0|955|31|3725|1000|0|>"});
  // Main menu: data menu; data menu: main screen; then ENTER for the broadcast (read by the receive
  // thread while the menu thread waits for the answer); a key for the screen; "q" in the main menu.
  for (const char* line : {"2", "2", "", "q"}) in_.AddLine(line);
  TypeKey('x');
  MainMenu(client_, MakeUpsEntries(Recording()));
  EXPECT_TRUE(out_.Shows("*** Broadcast message from Powerkeep ***\n Communication lost with ups\n"));
  EXPECT_TRUE(ShowsLine("Total Load...............: 95.5 %"));
  EXPECT_EQ(1u, out_.Count("******** UPS DATA READ MENU ********"));
  const std::string last_menu = out_.Text().substr(out_.Text().rfind("******** MAIN MENU ********"));
  EXPECT_NE(std::string::npos, last_menu.find(" 1 - Disconnect from Powerkeep (127.0.0.1:5769)\n\n"));
  EXPECT_EQ(std::string::npos, last_menu.find("UPS Data Read"));
  EXPECT_FALSE(client_.State().ups_present);

  in_.AddLine("");
  const int lines_before = in_.LinesRead();
  link_.Push("<|501|>");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (in_.LinesRead() == lines_before && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  ASSERT_TRUE(client_.State().ups_present);
  EXPECT_TRUE(out_.Shows(" Communication restored with ups\n"));
  in_.AddLine("q");
  MainMenu(client_, MakeUpsEntries(Recording()));
  const std::string restored = out_.Text().substr(out_.Text().rfind("******** MAIN MENU ********"));
  EXPECT_NE(std::string::npos, restored.find(" 2 - UPS Data Read\n"));
}

TEST_F(MenuTree, MainMenuShowsTheUpsEntriesAgainAfterAWrongAnswerOnceTheUpsIsBack) {
  Connect(1);
  client_.State().ups_present = false;
  in_.Hold(true);
  std::thread menu([this] { MainMenu(client_, MakeUpsEntries(Recording())); });
  ASSERT_TRUE(out_.WaitFor("Selection [Q for exit]: "));
  EXPECT_FALSE(out_.Shows("UPS Data Read"));
  // The UPS comes back (message 501) while the menu waits; the next wrong answer shows it.
  client_.State().ups_present = true;
  in_.AddLine("7");
  EXPECT_TRUE(out_.WaitFor(" 2 - UPS Data Read\n"));
  in_.AddLine("q");
  in_.Hold(false);
  menu.join();
  EXPECT_EQ(2u, out_.Count("******** MAIN MENU ********"));
}

TEST_F(MenuTree, SubMenuEndsWhenDisconnected) {
  Connect(1);
  int shown = 0;
  in_.AddLine("1");
  in_.AddLine("1");
  RunSubMenu(client_, "TEST MENU", [&](ConsoleClient&) {
    ++shown;
    return std::vector<MenuEntry>{{"Leave the server", [](ConsoleClient& c) { c.ConnectToServer(false); }}};
  });
  EXPECT_EQ(1, shown);
  EXPECT_EQ(1, in_.LinesRead());
  EXPECT_FALSE(client_.State().connected);
}

}  // namespace
}  // namespace keep::console
