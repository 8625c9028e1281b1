#include <gtest/gtest.h>

#include "server/links/net_link.h"

namespace keep::server {
namespace {

TEST(AdapterAddress, APlainAddressUsesTheAdapterPort) {
  const NetAdapterAddress plain = SplitAdapterAddress("192.168.1.20");
  EXPECT_EQ("192.168.1.20", plain.address);
  EXPECT_EQ(2101, plain.port);
}

TEST(AdapterAddress, APortSuffixSelectsThatPort) {
  const NetAdapterAddress with_port = SplitAdapterAddress("127.0.0.1:40001");
  EXPECT_EQ("127.0.0.1", with_port.address);
  EXPECT_EQ(40001, with_port.port);
}

TEST(AdapterAddress, ASuffixThatIsNoPortStaysInTheAddress) {
  for (const char* setting : {"127.0.0.1:0", "127.0.0.1:65536", "127.0.0.1:http", "127.0.0.1:", "127.0.0.1:80x"}) {
    const NetAdapterAddress kept = SplitAdapterAddress(setting);
    EXPECT_EQ(setting, kept.address);
    EXPECT_EQ(2101, kept.port);
  }
}

}  // namespace
}  // namespace keep::server
