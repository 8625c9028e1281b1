// Who may connect and who may control: the address lists of the settings, and the rule that the local
// console is always let in.
#include "server/services/client_access.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace keep::server {
namespace {

TEST(AddressListTest, ParsesAddressesAndNetworksAndRefusesAnythingElse) {
  for (const char* valid : {"", "   ", "10.0.0.1", "192.168.1.0/24", " 10.0.0.0/8 , 172.16.0.0/12 ", "0.0.0.0/0",
                            "192.168.1.77/24", "255.255.255.255/32"}) {
    EXPECT_TRUE(AddressList::Parse(valid).has_value()) << '"' << valid << '"';
  }
  for (const char* invalid :
       {"10.0.0.0/33", "10.0.0", "10.0.0.256", "a.b.c.d", "10.0.0.1,", ",", "10.0.0.1/", "10.0.0.1/x", "1.2.3.4.5",
        "+1.2.3.4", "1.2.3.4 /8", "1.2.3.0004", "10.0.0.1;10.0.0.2", "localhost"}) {
    EXPECT_FALSE(AddressList::Parse(invalid).has_value()) << '"' << invalid << '"';
  }
}

TEST(AddressListTest, ContainsTheAddressesOfItsEntries) {
  const std::optional<AddressList> list = AddressList::Parse("192.168.1.77/24, 10.1.2.3, 172.16.0.0/12");
  ASSERT_TRUE(list.has_value());
  const struct {
    const char* address;
    bool contained;
  } cases[] = {{"192.168.1.1", true}, {"192.168.1.255", true},   {"192.168.2.1", false},
               {"10.1.2.3", true},    {"10.1.2.4", false},       {"172.31.255.1", true},
               {"172.32.0.1", false}, {"not an address", false}, {"192.168.1.1 ", false}};
  for (const auto& c : cases) EXPECT_EQ(c.contained, list->Contains(c.address)) << c.address;
  EXPECT_TRUE(AddressList::Parse("0.0.0.0/0")->Contains("8.8.8.8"));
  EXPECT_FALSE(AddressList::Parse("")->Contains("127.0.0.1"));
}

TEST(ClientAccessTest, TheListsDecideAndTheLocalConsoleIsAlwaysIn) {
  TServerSetup setup;
  EXPECT_TRUE(ClientAccess(setup).MayConnect("203.0.113.9")) << "empty lists: everyone";
  EXPECT_TRUE(ClientAccess(setup).MayControl("203.0.113.9"));

  setup.SrvClientsAllowed = "127.0.0.2/32, 192.168.1.0/24";
  setup.SrvControlAllowed = "192.168.1.10";
  const ClientAccess access(setup);
  EXPECT_TRUE(access.MayConnect("127.0.0.1"));
  EXPECT_TRUE(access.MayControl("127.0.0.1"));
  EXPECT_TRUE(access.MayConnect("127.0.0.2"));
  EXPECT_FALSE(access.MayControl("127.0.0.2")) << "may read, not control";
  EXPECT_FALSE(access.MayConnect("127.0.0.3"));
  EXPECT_TRUE(access.MayControl("192.168.1.10"));

  // A damaged list must not open the door, even where the start-up check was skipped.
  setup.SrvClientsAllowed = "10.0.0.0/33";
  setup.SrvControlAllowed = "nonsense";
  const ClientAccess damaged(setup);
  EXPECT_FALSE(damaged.MayConnect("10.0.0.1"));
  EXPECT_FALSE(damaged.MayControl("10.0.0.1"));
  EXPECT_TRUE(damaged.MayConnect("127.0.0.1"));
}

TEST(ClientAccessTest, TheFirstSettingThatCannotBeUsedIsNamed) {
  TServerSetup setup;
  EXPECT_FALSE(FindInvalidAccessSetting(setup).has_value());
  setup.SrvControlAllowed = "10.0.0.0/33";
  ASSERT_TRUE(FindInvalidAccessSetting(setup).has_value());
  EXPECT_EQ("SrvControlAllowed", FindInvalidAccessSetting(setup)->name);
  EXPECT_EQ("10.0.0.0/33", FindInvalidAccessSetting(setup)->text);
  setup.SrvListenAddress = "127.0.0.2/32";
  EXPECT_EQ("SrvListenAddress", FindInvalidAccessSetting(setup)->name) << "a listen address is one address";
  setup.SrvListenAddress = " 127.0.0.2 ";
  setup.SrvControlAllowed.clear();
  setup.SrvClientsAllowed = "10.0.0.1,,10.0.0.2";
  EXPECT_EQ("SrvClientsAllowed", FindInvalidAccessSetting(setup)->name);
}

TEST(ClientAccessTest, ControlRequestsAreTheUploadTheSettingsCommandsAndTheTests) {
  for (int code : {203, 300, 307, 309, 315, 400, 401, 402}) EXPECT_TRUE(IsControlRequest(code)) << code;
  for (int code : {100, 101, 139, 200, 201, 202, 500, 502}) EXPECT_FALSE(IsControlRequest(code)) << code;
}

}  // namespace
}  // namespace keep::server
