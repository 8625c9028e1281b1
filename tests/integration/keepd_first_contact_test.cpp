// The first things a person meets: keepd started without a usable configuration, the usage texts
// of both programs, and an instance lock that cannot be taken for a reason other than another server.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "tests/support/child_process.h"
#include "tests/support/install_tree.h"
#include "tests/support/temp_dir.h"

namespace keep::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

constexpr milliseconds kLimit{10000};

class KeepdFirstContact : public ::testing::Test {
 protected:
  static std::string LockPath(const std::string& hive) {
    return (fs::path(hive).parent_path() / "HlvPowerkeep.lock").string();
  }

  std::unique_ptr<ChildProcess> Start(const std::string& hive, const std::vector<std::string>& arguments = {}) {
    return std::make_unique<ChildProcess>(BuiltProgram("keepd"), arguments,
                                          std::map<std::string, std::string>{{"VOLTRENA_REGISTRY", hive}},
                                          tree_.Folder());
  }

  // keepd must end at once with status 1, say `what`, tell how to name a hive, and never blame
  // another instance.
  void ExpectRefused(const std::string& hive, const std::string& what) {
    auto server = Start(hive);
    const auto status = server->WaitForExit(kLimit);
    ASSERT_TRUE(status.has_value()) << "keepd kept running without a usable configuration";
    EXPECT_EQ(1, *status);
    const std::string error = server->StandardError();
    EXPECT_NE(std::string::npos, error.find(what)) << error;
    EXPECT_NE(std::string::npos, error.find("VOLTRENA_REGISTRY")) << error;
    EXPECT_NE(std::string::npos, error.find("(default /etc/voltrena/registry.reg)")) << error;
    EXPECT_EQ(std::string::npos, error.find("already running")) << error;
  }

  InstallTree tree_;
};

// Each way a hive can be unusable, with the words that must name it. The lock is never created:
// the configuration is checked before it is taken.
TEST_F(KeepdFirstContact, UnusableConfigurationIsNamedForWhatItIs) {
  const std::string folder = tree_.Folder();
  struct Case {
    const char* name;
    std::function<std::string()> prepare;  // lays the case out, returns the hive path to use
    std::string message;
  };
  const Case cases[] = {
      {"missing file",
       [&] {
         fs::remove(tree_.HivePath());
         return tree_.HivePath();
       },
       "the hive file " + tree_.HivePath() + " does not exist (No such file or directory)"},
      {"file in a missing folder", [&] { return folder + "/nowhere/registry.reg"; },
       "the folder " + folder + "/nowhere of the hive file " + folder + "/nowhere/registry.reg does not exist"},
      // A folder where the file should be: permissions would not stop the root user the tests run as.
      {"unreadable",
       [&] {
         fs::remove(tree_.HivePath());
         fs::create_directory(tree_.HivePath());
         return tree_.HivePath();
       },
       "the hive file " + tree_.HivePath() + " cannot be read (Is a directory)"},
      {"no install path",
       [&] {
         tree_.WriteHive("", "english.lng");
         return tree_.HivePath();
       },
       "\"InstallPath\" in [HKEY_LOCAL_MACHINE\\Software\\Corvane\\Voltrena\\Globals] of the hive file " +
           tree_.HivePath() + " is not set"},
      {"install folder gone",
       [&] {
         tree_.WriteHive(folder + "/gone", "english.lng");
         return tree_.HivePath();
       },
       "the installation folder " + folder + "/gone/ named by \"InstallPath\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(tree_.HivePath());
    tree_.WriteHive(tree_.InstallPath(), "english.lng");
    const std::string hive = c.prepare();
    ExpectRefused(hive, c.message);
    EXPECT_FALSE(fs::exists(LockPath(hive)));
  }
}

// The case as first met: no VOLTRENA_REGISTRY and nothing at the default place.
TEST_F(KeepdFirstContact, NoConfigurationAtTheDefaultPathIsNamed) {
  if (fs::exists("/etc/voltrena/registry.reg")) GTEST_SKIP() << "this machine has a hive at the default path";
  ExpectRefused("", "/etc/voltrena");
  EXPECT_FALSE(fs::exists("/etc/voltrena/HlvPowerkeep.lock"));
}

TEST_F(KeepdFirstContact, LockThatCannotBeOpenedIsReportedWithPathAndReason) {
  const std::string lock = LockPath(tree_.HivePath());
  fs::create_directory(lock);
  auto server = Start(tree_.HivePath());
  ASSERT_EQ(std::optional<int>(1), server->WaitForExit(kLimit));
  const std::string error = server->StandardError();
  EXPECT_NE(std::string::npos, error.find("cannot open " + lock + ": Is a directory")) << error;
  EXPECT_EQ(std::string::npos, error.find("already running")) << error;
}

// The usage is printed on a good installation without starting a server there: no lock is taken.
TEST_F(KeepdFirstContact, UsageListsTheSwitchesAndTheHiveVariable) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--help"}, {"-h"}, {"/?"}, {"/SRV", "--HELP"}}) {
    SCOPED_TRACE(arguments.back());
    auto server = Start(tree_.HivePath(), arguments);
    ASSERT_EQ(std::optional<int>(0), server->WaitForExit(kLimit));
    const std::string usage = server->StandardOutput();
    for (const char* expected :
         {"/SRV ", "/DEBUG ", "/DRILL    rehearse a power failure on the configuration without switching anything off",
          "VOLTRENA_REGISTRY  the hive file holding the settings (default /etc/voltrena/registry.reg)"}) {
      EXPECT_NE(std::string::npos, usage.find(expected)) << expected << "\n" << usage;
    }
    EXPECT_EQ("", server->StandardError());
    EXPECT_FALSE(fs::exists(LockPath(tree_.HivePath())));
  }
}

TEST_F(KeepdFirstContact, AnUnknownSwitchIsNamedOnStandardErrorAndIgnored) {
  // A hive without its installation folder ends keepd right after the switches were read.
  fs::remove_all(tree_.InstallPath());
  auto server = Start(tree_.HivePath(), {"/DEBGU", "/SRV"});
  ASSERT_EQ(std::optional<int>(1), server->WaitForExit(kLimit));
  const std::string error = server->StandardError();
  EXPECT_EQ(0u, error.find("keepd: ignoring unknown switch \"/DEBGU\" (keepd --help lists the switches)\n")) << error;
  EXPECT_NE(std::string::npos, error.find("installation folder")) << error;
  EXPECT_EQ(std::string::npos, error.find("Usage: keepd")) << error;
}

TEST(KeeptermFirstContact, UsageNamesTheWayOutAndStartsNoDialog) {
  TempDir output;
  for (const char* argument : {"--help", "-h", "/?"}) {
    SCOPED_TRACE(argument);
    ChildProcess console(BuiltProgram("keepterm"), {argument}, {}, output.path().string());
    ASSERT_TRUE(console.Started());
    ASSERT_EQ(std::optional<int>(0), console.WaitForExit(kLimit));
    const std::string usage = console.StandardOutput();
    EXPECT_EQ(0u, usage.find("Usage: keepterm")) << usage;
    EXPECT_NE(std::string::npos, usage.find("Q and ENTER")) << usage;
    EXPECT_EQ(std::string::npos, usage.find("Host IP address")) << "the connection dialog started:\n" << usage;
  }
}

}  // namespace
}  // namespace keep::test
