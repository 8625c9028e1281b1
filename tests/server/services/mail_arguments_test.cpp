#include "server/services/mail_arguments.h"

#include <gtest/gtest.h>

namespace keep::server {
namespace {

class MailArgumentsTest : public ::testing::Test {
 protected:
  MailArgumentsTest() {
    email_.EmailServer = "smtp.example.org";
    email_.EmailPort = 587;
    email_.EmailLogin = "ups-user";
    email_.EmailPassword = "s3cret";
    email_.EmailSender = "ups@example.org";
  }
  TEmailSetup email_;
};

TEST_F(MailArgumentsTest, WithLoginCarriesLoginAndPassword) {
  email_.EmailUseAuth = true;
  EXPECT_EQ(
      BuildMailArguments(email_, "a@example.org;b@example.org", "UPS alarm", "08/12/2025 19:07:00", "Mains failure"),
      " -a:\"smtp.example.org\" -p:\"587\" -l:\"ups-user\" -w:\"s3cret\" -s:\"ups@example.org\""
      " -r:\"a@example.org;b@example.org\" -o:\"UPS alarm\" -b:\"08/12/2025 19:07:00 - Mains failure\" -z");
}

TEST_F(MailArgumentsTest, WithoutLoginOmitsLoginAndPassword) {
  email_.EmailUseAuth = false;
  const std::string args =
      BuildMailArguments(email_, "a@example.org", "UPS alarm", "08/12/2025 19:07:00", "Low battery");
  EXPECT_EQ(args,
            " -a:\"smtp.example.org\" -p:\"587\" -s:\"ups@example.org\" -r:\"a@example.org\" -o:\"UPS alarm\""
            " -b:\"08/12/2025 19:07:00 - Low battery\" -z");
  EXPECT_EQ(args.find("-l:"), std::string::npos);
  EXPECT_EQ(args.find("-w:"), std::string::npos);
}

TEST_F(MailArgumentsTest, ValuesAreInsertedWithoutEscaping) {
  TEmailSetup empty;  // port 25, everything else empty
  EXPECT_EQ(BuildMailArguments(empty, "", "", "", ""), " -a:\"\" -p:\"25\" -s:\"\" -r:\"\" -o:\"\" -b:\" - \" -z");
  email_.EmailPort = 65535;
  EXPECT_EQ(BuildMailArguments(email_, "x", "say \"hi\"", "t", "back\\slash"),
            " -a:\"smtp.example.org\" -p:\"65535\" -s:\"ups@example.org\" -r:\"x\" -o:\"say \"hi\"\""
            " -b:\"t - back\\slash\" -z");
}

}  // namespace
}  // namespace keep::server
