#include "platform/hive_text.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/hive_format.h"

namespace keep::platform {
namespace {

constexpr std::string_view kRoot = kHiveLocalMachine;

struct PlacementCase {
  const char* what;
  std::string text;
  std::function<bool(HiveText&)> edit;  // returns what the last change returned
  bool changed;
  std::string expected;
};

TEST(HiveText, ChangesGoWhereTheRulesSayAndEverythingElseStays) {
  const PlacementCase cases[] = {
      {"a repeated name is rewritten on the later line, the one the reader takes",
       "[HKEY_LOCAL_MACHINE\\K]\n\"A\"=dword:1\n[HKEY_LOCAL_MACHINE\\L]\n[HKEY_LOCAL_MACHINE\\k]\n\"a\"=dword:2\n",
       [](HiveText& t) { return t.SetDword(kRoot, "K", "A", 3); }, true,
       "[HKEY_LOCAL_MACHINE\\K]\n\"A\"=dword:1\n[HKEY_LOCAL_MACHINE\\L]\n[HKEY_LOCAL_MACHINE\\k]\n\"A\"=dword:"
       "00000003\n"},
      {"a new value goes to the key's last section, right after its key line when that has no value",
       "[HKEY_LOCAL_MACHINE\\K]\n\"A\"=dword:1\n\n[HKEY_LOCAL_MACHINE\\K]\n; K again\n",
       [](HiveText& t) { return t.SetString(kRoot, "K", "B", "b"); }, true,
       "[HKEY_LOCAL_MACHINE\\K]\n\"A\"=dword:1\n\n[HKEY_LOCAL_MACHINE\\K]\n\"B\"=\"b\"\n; K again\n"},
      {"a new value goes after the continuation lines of the last value, before the comment after them",
       "[HKEY_LOCAL_MACHINE\\K]\n\"Bin\"=hex:01,\\\n  02\n; about L\n[HKEY_LOCAL_MACHINE\\L]\n",
       [](HiveText& t) { return t.SetDword(kRoot, "K", "New", 7); }, true,
       "[HKEY_LOCAL_MACHINE\\K]\n\"Bin\"=hex:01,\\\n  02\n\"New\"=dword:00000007\n; about "
       "L\n[HKEY_LOCAL_MACHINE\\L]\n"},
      {"a raw value over several lines becomes one line; indentation and trailing blanks stay",
       "[HKEY_LOCAL_MACHINE\\K]\n  \"Bin\"=hex:01,\\\n  02  \n; next\n",
       [](HiveText& t) { return t.SetDword(kRoot, "K", "bin", 5); }, true,
       "[HKEY_LOCAL_MACHINE\\K]\n  \"Bin\"=dword:00000005  \n; next\n"},
      {"a last line without a line break gets the file's one before a value is added after it",
       "\xEF\xBB\xBF[HKEY_LOCAL_MACHINE\\K]\r\n\"A\"=dword:1",
       [](HiveText& t) { return t.SetString(kRoot, "K", "B", "x\\\"y"); }, true,
       "\xEF\xBB\xBF[HKEY_LOCAL_MACHINE\\K]\r\n\"A\"=dword:1\r\n\"B\"=\"x\\\\\\\"y\"\r\n"},
      {"a new key goes at the end after a blank line, one added only when missing", "; only a comment",
       [](HiveText& t) { return t.AddKey(kRoot, "K") && t.SetDword(kRoot, "L\\", "A", 1); }, true,
       "; only a comment\n\n[HKEY_LOCAL_MACHINE\\K]\n\n[HKEY_LOCAL_MACHINE\\L]\n\"A\"=dword:00000001\n"},
      {"an empty text starts with the header, as a new file always has", "",
       [](HiveText& t) { return t.SetString(kRoot, "K", "", "default"); }, true,
       "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n@=\"default\"\n"},
      {"storing what is stored already changes no byte, however odd the text",
       "\r\n\"Orphan\"=dword:1\n[HKEY_LOCAL_MACHINE\\K]\r\n\"A\" = DWORD:1 \x01\n\"A\"=dword:1\n\"Gone\"=-\n",
       [](HiveText& t) { return t.SetDword(kRoot, "k", "a", 1) || t.AddKey(kRoot, "K\\\\"); }, false,
       "\r\n\"Orphan\"=dword:1\n[HKEY_LOCAL_MACHINE\\K]\r\n\"A\" = DWORD:1 \x01\n\"A\"=dword:1\n\"Gone\"=-\n"},
      {"what no line could hold is refused", "[HKEY_LOCAL_MACHINE\\K]\n",
       [](HiveText& t) {
         return t.SetString(kRoot, "K", "A", "two\nlines") || t.SetDword(kRoot, "K", "B\r", 1) ||
                t.AddKey(kRoot, "L\nM") || t.AddKey("NOT_A_ROOT", "K") || t.AddKey("HKEY_A\\B", "K");
       },
       false, "[HKEY_LOCAL_MACHINE\\K]\n"},
  };
  for (const PlacementCase& c : cases) {
    SCOPED_TRACE(c.what);
    HiveText text(c.text);
    EXPECT_EQ(c.edit(text), c.changed);
    const std::string written = text.Text();
    EXPECT_EQ(written, c.expected);
    // What was written reads back as the edited document, with no line more or less damaged.
    const HiveParseResult before = ParseHive(c.text);
    const HiveParseResult after = ParseHive(written);
    EXPECT_EQ(SerializeHive(after.document), SerializeHive(text.document()));
    EXPECT_EQ(after.damaged_lines, before.damaged_lines);
  }
}

}  // namespace
}  // namespace keep::platform
