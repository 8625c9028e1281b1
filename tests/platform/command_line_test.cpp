#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/process.h"

namespace keep::platform {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(SplitCommandLineTest, MailArgumentsKeepBlanksInsideQuotes) {
  EXPECT_THAT(
      SplitCommandLine(
          R"( -a:"smtp.x" -p:"25" -s:"a@b" -r:"c@d" -o:"Subj" -b:"01/02/2026 10:00:00 - Power failure" -z)"),
      ElementsAre("-a:smtp.x", "-p:25", "-s:a@b", "-r:c@d", "-o:Subj", "-b:01/02/2026 10:00:00 - Power failure", "-z"));
}

TEST(SplitCommandLineTest, NoteBoxArgumentsQuoteTheWholeWord) {
  EXPECT_THAT(SplitCommandLine(R"("/M:Text with blanks" /I:16)"), ElementsAre("/M:Text with blanks", "/I:16"));
}

TEST(SplitCommandLineTest, BlanksAndTabsSeparateAndAreTrimmed) {
  EXPECT_THAT(SplitCommandLine(" \t a\tb   c \t"), ElementsAre("a", "b", "c"));
  EXPECT_THAT(SplitCommandLine(""), IsEmpty());
  EXPECT_THAT(SplitCommandLine(" \t "), IsEmpty());
}

TEST(SplitCommandLineTest, BackslashesAreLiteralUnlessBeforeAQuote) {
  EXPECT_THAT(SplitCommandLine(R"(a\\\b d"e f"g h)"), ElementsAre(R"(a\\\b)", "de fg", "h"));
  EXPECT_THAT(SplitCommandLine(R"(C:\dir\ x\\)"), ElementsAre(R"(C:\dir\)", R"(x\\)"));
}

TEST(SplitCommandLineTest, BackslashesBeforeAQuoteAreHalved) {
  // Odd count: the quote is literal.
  EXPECT_THAT(SplitCommandLine(R"(a\\\"b c d)"), ElementsAre(R"(a\"b)", "c", "d"));
  // Even count: the quote opens or closes quoting.
  EXPECT_THAT(SplitCommandLine(R"(a\\\\"b c" d e)"), ElementsAre(R"(a\\b c)", "d", "e"));
  EXPECT_THAT(SplitCommandLine(R"("ab\"c" "\\" d)"), ElementsAre(R"(ab"c)", R"(\)", "d"));
}

TEST(SplitCommandLineTest, DoubledQuoteInsideQuotesIsLiteralAndQuotingGoesOn) {
  EXPECT_THAT(SplitCommandLine(R"(a"b"" c d)"), ElementsAre(R"(ab" c d)"));
  EXPECT_THAT(SplitCommandLine(R"("say ""hi"" now" x)"), ElementsAre(R"(say "hi" now)", "x"));
}

TEST(SplitCommandLineTest, EmptyQuotesGiveAnEmptyWord) {
  EXPECT_THAT(SplitCommandLine(R"("")"), ElementsAre(""));
  EXPECT_THAT(SplitCommandLine(R"(a "" b)"), ElementsAre("a", "", "b"));
}

TEST(SplitCommandLineTest, UnclosedQuoteRunsToTheEnd) {
  EXPECT_THAT(SplitCommandLine(R"(x "a b  )"), ElementsAre("x", "a b  "));
}

}  // namespace
}  // namespace keep::platform
