#include "platform/hive_format.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace keep::platform {
namespace {

constexpr std::string_view kGlobals = "Software\\Corvane\\Voltrena\\Globals";
constexpr std::string_view kPowerkeep = "Software\\Corvane\\Voltrena\\Powerkeep";

constexpr std::string_view kSample =
    "REGEDIT4\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Voltrena\\Globals]\n"
    "\"InstallPath\"=\"/opt/voltrena/\"\n"
    "\"LanguageFile\"=\"english.lng\"\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Voltrena\\Powerkeep]\n"
    "\"SrvListenPort\"=dword:0000168d\n"
    "\"Event0\"=\"6|$POPUP|$LOG\"\n";

std::optional<std::string> StringOf(const HiveDocument& document, std::string_view key, std::string_view name) {
  const HiveKey* stored = document.FindKey(kHiveLocalMachine, key);
  const HiveValue* value = stored == nullptr ? nullptr : stored->FindValue(name);
  if (value == nullptr || value->type != HiveValueType::kString) return std::nullopt;
  return value->text;
}

std::optional<uint32_t> DwordOf(const HiveDocument& document, std::string_view key, std::string_view name) {
  const HiveKey* stored = document.FindKey(kHiveLocalMachine, key);
  const HiveValue* value = stored == nullptr ? nullptr : stored->FindValue(name);
  if (value == nullptr || value->type != HiveValueType::kDword) return std::nullopt;
  return value->dword;
}

// The property every parse must have: the canonical text parses cleanly to the same document.
void ExpectStableRoundTrip(const HiveDocument& document) {
  const std::string text = SerializeHive(document);
  const HiveParseResult again = ParseHive(text);
  EXPECT_EQ(again.damaged_lines, 0u) << text;
  EXPECT_EQ(SerializeHive(again.document), text);
}

TEST(HiveParse, ReadsStringsAndDwordsOfEachKey) {
  const HiveParseResult parsed = ParseHive(kSample);
  EXPECT_TRUE(parsed.warnings.empty());
  EXPECT_EQ(StringOf(parsed.document, kGlobals, "InstallPath"), "/opt/voltrena/");
  EXPECT_EQ(StringOf(parsed.document, kGlobals, "LanguageFile"), "english.lng");
  EXPECT_EQ(DwordOf(parsed.document, kPowerkeep, "SrvListenPort"), 5773u);
  EXPECT_EQ(StringOf(parsed.document, kPowerkeep, "Event0"), "6|$POPUP|$LOG");
  EXPECT_EQ(StringOf(parsed.document, kPowerkeep, "InstallPath"), std::nullopt);
}

TEST(HiveParse, KeysAndNamesMatchWithoutRegardToCaseAndTrailingBackslash) {
  const HiveParseResult parsed = ParseHive("[hkey_local_machine\\SOFTWARE\\Corvane\\\\]\n\"MiXeD\"=dword:1\n");
  EXPECT_EQ(DwordOf(parsed.document, "software\\corvane", "mixed"), 1u);
  EXPECT_EQ(DwordOf(parsed.document, "Software\\Corvane\\", "MIXED"), 1u);
  ASSERT_EQ(parsed.document.keys.size(), 1u);
  EXPECT_EQ(parsed.document.keys[0].path, "SOFTWARE\\Corvane");
}

TEST(HiveParse, AcceptsBomCrLfVersion5HeaderBlanksAndMissingHeader) {
  const std::string variants[] = {
      "\xEF\xBB\xBFREGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"A\"=\"x\"\r\n\"B\"=dword:FfFf\r\n",
      "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\K]\n\"A\"=\"x\"\n\"B\"=dword:0000ffff",
      "  [HKEY_LOCAL_MACHINE\\K]  \n\t\"A\" = \"x\"\t\n; comment\n\"B\"=DWORD:ffff\n",
  };
  for (const std::string& text : variants) {
    const HiveParseResult parsed = ParseHive(text);
    EXPECT_EQ(parsed.damaged_lines, 0u) << text;
    EXPECT_EQ(StringOf(parsed.document, "K", "A"), "x") << text;
    EXPECT_EQ(DwordOf(parsed.document, "K", "B"), 0xffffu) << text;
  }
}

TEST(HiveParse, UnescapesOnlyBackslashAndQuote) {
  const HiveParseResult parsed = ParseHive(
      "[HKEY_LOCAL_MACHINE\\K]\n"
      "\"Escaped\"=\"a\\\\b\\\"c\\\\\"\n"
      "\"Windows\"=\"C:\\Program Files\\n\\t\"\n"
      "\"Quo\\\"te\"=\"q\"\n"
      "@=\"default\"\n");
  EXPECT_EQ(parsed.damaged_lines, 0u);
  EXPECT_EQ(StringOf(parsed.document, "K", "Escaped"), "a\\b\"c\\");
  EXPECT_EQ(StringOf(parsed.document, "K", "Windows"), "C:\\Program Files\\n\\t");
  EXPECT_EQ(StringOf(parsed.document, "K", "Quo\"te"), "q");
  EXPECT_EQ(StringOf(parsed.document, "K", ""), "default");
}

TEST(HiveParse, RepeatedKeysMergeAndLaterValueWinsInEarlierPlace) {
  const HiveParseResult parsed = ParseHive(
      "[HKEY_LOCAL_MACHINE\\K]\n\"First\"=\"old\"\n\"Second\"=dword:2\n"
      "[HKEY_LOCAL_MACHINE\\k]\n\"FIRST\"=dword:7\n");
  ASSERT_EQ(parsed.document.keys.size(), 1u);
  const HiveKey& key = parsed.document.keys[0];
  ASSERT_EQ(key.values.size(), 2u);
  EXPECT_EQ(key.values[0].name, "First");
  EXPECT_EQ(DwordOf(parsed.document, "K", "first"), 7u);
}

TEST(HiveParse, KeepsRawTypesAndOtherRootsButIgnoresDeletions) {
  const HiveParseResult parsed = ParseHive(
      "[HKEY_CURRENT_USER\\Elsewhere]\n\"U\"=\"user\"\n"
      "[HKEY_LOCAL_MACHINE\\K]\n"
      "\"Bin\"=hex:01,02,\\\n  03,04\n"
      "\"Expand\"=hex(2):41,00\n"
      "\"Gone\"=-\n"
      "[-HKEY_LOCAL_MACHINE\\Removed]\n");
  EXPECT_EQ(parsed.damaged_lines, 0u);
  ASSERT_NE(parsed.document.FindKey("HKEY_CURRENT_USER", "Elsewhere"), nullptr);
  EXPECT_EQ(StringOf(parsed.document, "Elsewhere", "U"), std::nullopt);  // not under HKEY_LOCAL_MACHINE
  const HiveKey* key = parsed.document.FindKey(kHiveLocalMachine, "K");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(key->values.size(), 2u);
  EXPECT_EQ(key->values[0].type, HiveValueType::kRaw);
  EXPECT_EQ(key->values[0].text, "hex:01,02,\\\n03,04");
  EXPECT_EQ(key->values[1].text, "hex(2):41,00");
  EXPECT_EQ(parsed.document.FindKey(kHiveLocalMachine, "Removed"), nullptr);
  ExpectStableRoundTrip(parsed.document);
}

TEST(HiveParse, DamagedLinesAreSkippedAndReportedWithTheirLine) {
  const HiveParseResult parsed = ParseHive(
      "REGEDIT4\n"
      "\"Orphan\"=\"no key yet\"\n"  // 2
      "[HKEY_LOCAL_MACHINE\\K]\n"
      "\"Before\"=\"kept\"\n"
      "\"Open\"=\"no closing quote\n"  // 5
      "\"Long\"=dword:123456789\n"     // 6
      "\"Empty\"=dword:\n"             // 7
      "\"NotHex\"=dword:12g4\n"        // 8
      "\"Trail\"=\"x\" junk\n"         // 9
      "garbage \x01\xff\n"             // 10
      "\"NoEquals\" \"x\"\n"           // 11
      "\"After\"=dword:00000009\n");
  EXPECT_EQ(StringOf(parsed.document, "K", "Before"), "kept");
  EXPECT_EQ(DwordOf(parsed.document, "K", "After"), 9u);
  ASSERT_EQ(parsed.document.keys[0].values.size(), 2u);
  std::vector<std::size_t> lines;
  for (const HiveWarning& warning : parsed.warnings) lines.push_back(warning.line);
  EXPECT_EQ(lines, (std::vector<std::size_t>{2, 5, 6, 7, 8, 9, 10, 11}));
  EXPECT_EQ(parsed.warnings[0].reason, "value outside any key");
  EXPECT_EQ(parsed.warnings[1].text, "\"Open\"=\"no closing quote");
}

TEST(HiveParse, ValuesAfterADamagedKeyLineAreNotFiledUnderThePreviousKey) {
  const HiveParseResult parsed = ParseHive(
      "[HKEY_LOCAL_MACHINE\\Good]\n\"A\"=dword:1\n"
      "[HKEY_LOCAL_MACHINE\\Cut\n\"B\"=dword:2\n"
      "[NOT_A_ROOT\\X]\n\"C\"=dword:3\n");
  EXPECT_EQ(DwordOf(parsed.document, "Good", "A"), 1u);
  EXPECT_EQ(parsed.document.keys.size(), 1u);
  EXPECT_EQ(parsed.document.keys[0].values.size(), 1u);
  EXPECT_EQ(parsed.damaged_lines, 4u);
}

TEST(HiveParse, KeepsOnlyTheFirstWarningsButCountsAll) {
  std::string text = "[HKEY_LOCAL_MACHINE\\K]\n";
  for (int i = 0; i < 1000; ++i) text += "junk " + std::string(200, 'x') + "\n";
  const HiveParseResult parsed = ParseHive(text);
  EXPECT_EQ(parsed.damaged_lines, 1000u);
  ASSERT_EQ(parsed.warnings.size(), kHiveMaxWarnings);
  EXPECT_EQ(parsed.warnings.back().text.size(), kHiveWarningTextBytes);
}

TEST(HiveSerialize, WritesTheCanonicalLayout) {
  HiveDocument document = ParseHive(
                              "\xEF\xBB\xBF[HKEY_LOCAL_MACHINE\\A]\r\n\"S\"=\"x\"\r\n\"D\"=DWORD:AB\r\n@=\"d\"\r\n"
                              "[HKEY_LOCAL_MACHINE\\B]\r\n")
                              .document;
  EXPECT_EQ(SerializeHive(document),
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"S\"=\"x\"\n\"D\"=dword:000000ab\n@=\"d\"\n\n"
            "[HKEY_LOCAL_MACHINE\\B]\n");
  EXPECT_EQ(SerializeHive(HiveDocument{}), "REGEDIT4\n");
}

TEST(HiveSerialize, StringsWithBackslashesAndQuotesAndDwordsRoundTrip) {
  const std::string texts[] = {"", "\\", "\\\\", "\"", "a\\\"b", "C:\\dir\\", "end\\\\\"", "\\n\\t"};
  const uint32_t dwords[] = {0, 1, 0x7fffffff, 0x80000000, 0xffffffff};
  HiveDocument document;
  HiveKey& key = document.AddKey(kHiveLocalMachine, "K");
  for (std::size_t i = 0; i < std::size(texts); ++i) key.SetValue(HiveValue::String("s" + std::to_string(i), texts[i]));
  for (std::size_t i = 0; i < std::size(dwords); ++i)
    key.SetValue(HiveValue::Dword("d" + std::to_string(i), dwords[i]));
  const HiveParseResult parsed = ParseHive(SerializeHive(document));
  EXPECT_EQ(parsed.damaged_lines, 0u);
  for (std::size_t i = 0; i < std::size(texts); ++i) {
    EXPECT_EQ(StringOf(parsed.document, "K", "S" + std::to_string(i)), texts[i]);
  }
  for (std::size_t i = 0; i < std::size(dwords); ++i) {
    EXPECT_EQ(DwordOf(parsed.document, "K", "D" + std::to_string(i)), dwords[i]);
  }
}

TEST(HiveSerialize, ChangingAValueKeepsItsSpellingAndPlaceAndNewOnesGoLast) {
  HiveDocument document = ParseHive(kSample).document;
  HiveKey& globals = *document.FindKey(kHiveLocalMachine, "software\\corvane\\voltrena\\globals");
  EXPECT_TRUE(globals.SetValue(HiveValue::String("INSTALLPATH", "/srv/")));
  EXPECT_FALSE(globals.SetValue(HiveValue::String("installpath", "/srv/")));
  EXPECT_TRUE(globals.SetValue(HiveValue::Dword("Added", 1)));
  document.AddKey(kHiveLocalMachine, "Software\\New\\");
  EXPECT_EQ(SerializeHive(document),
            "REGEDIT4\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Voltrena\\Globals]\n"
            "\"InstallPath\"=\"/srv/\"\n"
            "\"LanguageFile\"=\"english.lng\"\n"
            "\"Added\"=dword:00000001\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Voltrena\\Powerkeep]\n"
            "\"SrvListenPort\"=dword:0000168d\n"
            "\"Event0\"=\"6|$POPUP|$LOG\"\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\New]\n");
}

TEST(HiveRobustness, AFileCutAtEveryByteKeepsEveryCompleteLine) {
  const std::string full =
      std::string(kSample) + "\"Path\"=\"C:\\\\x\\\"y\"\n\"Bin\"=hex:01,\\\n  02\n\"Last\"=dword:ffffffff\n";
  const HiveDocument whole = ParseHive(full).document;
  for (std::size_t cut = 0; cut <= full.size(); ++cut) {
    const std::string_view prefix = std::string_view(full).substr(0, cut);
    const HiveParseResult parsed = ParseHive(prefix);
    EXPECT_LE(parsed.damaged_lines, 1u) << "cut at " << cut;
    // Each value whose line ended (LF included) before the cut must be read exactly.
    for (const HiveKey& key : whole.keys) {
      for (const HiveValue& value : key.values) {
        if (value.type == HiveValueType::kRaw) continue;
        const std::string name_token = "\"" + value.name + "\"=";
        const std::size_t start = full.find(name_token);
        const std::size_t end = full.find('\n', start);
        if (end >= cut) continue;
        if (value.type == HiveValueType::kString) {
          EXPECT_EQ(StringOf(parsed.document, key.path, value.name), value.text) << "cut at " << cut;
        } else {
          EXPECT_EQ(DwordOf(parsed.document, key.path, value.name), value.dword) << "cut at " << cut;
        }
      }
    }
    ExpectStableRoundTrip(parsed.document);
  }
}

TEST(HiveRobustness, RandomBytesNeverBreakTheRoundTripNorHideGoodLines) {
  // Weighted toward the characters that drive the grammar, so the interesting paths are reached.
  using namespace std::string_literals;
  const std::string alphabet = "[]\"\\@=:;-\n\r dwordhex(2)HKEY_LOCAL_MACHINE0123456789abcdefK\x00\xff\xef\xbb\xbf"s;
  std::mt19937 random(20240611);
  for (int round = 0; round < 2000; ++round) {
    std::string garbage;
    const std::size_t length = random() % 300;
    for (std::size_t i = 0; i < length; ++i) {
      garbage.push_back(random() % 4 == 0 ? static_cast<char>(random() % 256) : alphabet[random() % alphabet.size()]);
    }
    ExpectStableRoundTrip(ParseHive(garbage).document);
    // Good lines around a garbage line (kept off the grammar's line starts) are still read.
    for (char& c : garbage) {
      if (c == '\n') c = ' ';
    }
    const std::string text = "[HKEY_LOCAL_MACHINE\\K]\n\"A\"=dword:1\nx" + garbage + "\n\"B\"=\"two\"\n";
    const HiveParseResult parsed = ParseHive(text);
    EXPECT_EQ(DwordOf(parsed.document, "K", "A"), 1u) << text;
    EXPECT_EQ(StringOf(parsed.document, "K", "B"), "two") << text;
  }
}

}  // namespace
}  // namespace keep::platform
