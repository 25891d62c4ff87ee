// The variable table of a package script run, the expansion of references and the typed field access.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/log.h"
#include "platform/platform.h"
#include "script/package_script.h"
#include "script/script_context.h"
#include "support/test_root.h"

namespace orvo::script {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;

constexpr const char* kNotParsed = "It seems the original str is not fully parsed, oriStr: ";

int NotParsedLines(const log::ScopedCapture& capture) {
  int lines = 0;
  for (const auto& entry : capture.Entries()) {
    if (entry.message.rfind(kNotParsed, 0) == 0) ++lines;
  }
  return lines;
}

class ScriptVariablesTest : public ::testing::Test {
 protected:
  static ScriptVariables Build(const std::string& document, const std::string& path = "C:\\Pkg\\orvopack.bin") {
    return BuildScriptVariables(nlohmann::json::parse(document), path);
  }
  platform::WindowsEnvironment& Environment() { return root_.Platform().environment; }

  test::TestRoot root_;
  log::ScopedCapture capture_;
};

TEST_F(ScriptVariablesTest, BuiltInsComeFromTheWindowsEnvironmentAndTheRoamingFolder) {
  Environment().Set("CommonProgramFiles", "C:\\CF native");
  Environment().Set("CommonProgramFiles(x86)", "C:\\CF x86");
  const ScriptVariables variables = Build("{}", "C:\\Program Files (x86)\\Orvo\\Pkg\\orvopack.bin");

  const std::string user = root_.Platform().drive.UserName();
  EXPECT_EQ(variables.at("%~dp0"), "C:\\Program Files (x86)\\Orvo\\Pkg\\");
  EXPECT_EQ(variables.at("%ProgramData%"), "C:\\ProgramData");
  EXPECT_EQ(variables.at("%public%"), "C:\\Users\\Public");
  EXPECT_EQ(variables.at("%systemroot%"), "C:\\Windows");
  EXPECT_EQ(variables.at("%commonfiles%"), "C:\\CF x86");  // 64-bit Windows: the 32-bit programs' one
  EXPECT_EQ(variables.at("%appdata%"), "C:\\Users\\" + user + "\\AppData\\Roaming");
  EXPECT_THAT(variables.at("%Timestamp%"),
              MatchesRegex("20[0-9]{2}-[01][0-9]-[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9]"));
  EXPECT_EQ(variables.size(), 7u);
  EXPECT_EQ(NotParsedLines(capture_), 0);
}

TEST(ScriptVariablesOn32BitWindows, CommonFilesIsTheOnlyCommonProgramFiles) {
  test::TestRoot root(R"({"windows64": false})");
  root.Platform().environment.Set("CommonProgramFiles", "C:\\CF native");
  root.Platform().environment.Set("CommonProgramFiles(x86)", "C:\\CF x86");
  EXPECT_EQ(BuildScriptVariables(nlohmann::json::object(), "C:\\P\\a.json").at("%commonfiles%"), "C:\\CF native");
}

TEST_F(ScriptVariablesTest, MissingOrOverlongEnvironmentValuesAreEmptyAndAPathWithoutBackslashHasNoFolder) {
  Environment().Remove("public");
  Environment().Set("systemroot", std::string(259, 'x'));  // does not fit the 259-character buffer
  Environment().Set("ProgramData", std::string(258, 'y'));
  const ScriptVariables variables = Build("{}", "orvopack.bin");
  EXPECT_EQ(variables.at("%public%"), "");
  EXPECT_EQ(variables.at("%systemroot%"), "");
  EXPECT_EQ(variables.at("%ProgramData%"), std::string(258, 'y'));
  EXPECT_EQ(variables.count("%~dp0"), 0u);
  // The reference then stays as written and is reported.
  EXPECT_EQ(ExpandScriptVariables("%~dp0bin\\app.exe", variables), "%~dp0bin\\app.exe");
  EXPECT_TRUE(capture_.Contains(log::Level::kInfo, std::string(kNotParsed) + "%~dp0bin\\app.exe"));
}

TEST_F(ScriptVariablesTest, ScalarMembersBecomeTextsAndOtherMembersDefineNothing) {
  const ScriptVariables variables = Build(R"({
    "text": "plain", "int": 42, "negative": -7, "huge": 18446744073709551615,
    "half": 1.5, "tenth": 0.1, "pi": 3.14159265358979, "beyondFloat": 16777217.0, "overflow": 1e40,
    "yes": true, "no": false,
    "empty": "", "nothing": null, "object": {"a": 1}, "array": ["x"]})");
  EXPECT_EQ(variables.at("%text%"), "plain");
  EXPECT_EQ(variables.at("%int%"), "42");
  EXPECT_EQ(variables.at("%negative%"), "-7");
  EXPECT_EQ(variables.at("%huge%"), "18446744073709551615");
  EXPECT_EQ(variables.at("%half%"), "1.500000");
  EXPECT_EQ(variables.at("%tenth%"), "0.100000");
  EXPECT_EQ(variables.at("%pi%"), "3.141593");
  EXPECT_EQ(variables.at("%beyondFloat%"), "16777216.000000");  // printed as the 32-bit float it becomes
  EXPECT_EQ(variables.at("%overflow%"), "inf");
  EXPECT_EQ(variables.at("%yes%"), "yes");
  EXPECT_EQ(variables.at("%no%"), "no");
  for (const char* key : {"%empty%", "%nothing%", "%object%", "%array%"}) EXPECT_EQ(variables.count(key), 0u) << key;
}

TEST_F(ScriptVariablesTest, AMemberReplacesTheBuiltInOfItsNameAndReferencesAreCaseSensitive) {
  const ScriptVariables variables = Build(R"({"appdata": "D:\\Mine", "a": "%AppData%\\x", "b": "%appdata%\\y"})");
  EXPECT_EQ(variables.at("%appdata%"), "D:\\Mine");
  EXPECT_EQ(variables.at("%b%"), "D:\\Mine\\y");
  EXPECT_EQ(variables.at("%a%"), "%AppData%\\x");
}

struct ResolutionCase {
  const char* name;
  const char* document;
  std::vector<std::pair<std::string, std::string>> expected;
  int not_parsed_lines;  // while the members are stored
};

class ScriptVariableResolution : public ScriptVariablesTest, public ::testing::WithParamInterface<ResolutionCase> {};

TEST_P(ScriptVariableResolution, StoresAndResolvesMembers) {
  const ResolutionCase& c = GetParam();
  const ScriptVariables variables = Build(c.document);
  for (const auto& [key, value] : c.expected) EXPECT_EQ(variables.at(key), value) << key;
  EXPECT_EQ(NotParsedLines(capture_), c.not_parsed_lines);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScriptVariableResolution,
    ::testing::Values(
        // "a" sorts before "b": stored unexpanded (reported once), completed by the resolution pass.
        ResolutionCase{"LaterMember", R"({"a": "%b%\\Sub", "b": "C:\\Folder"})", {{"%a%", "C:\\Folder\\Sub"}}, 1},
        ResolutionCase{"TwoLaterMembers", R"({"a": "%b%-%c%", "b": "B", "c": "C"})", {{"%a%", "B-C"}}, 1},
        ResolutionCase{
            "EarlierMemberAndBuiltIn", R"({"a": "A", "b": "%a%\\%ProgramData%"})", {{"%b%", "A\\C:\\ProgramData"}}, 0},
        // Only the references present when an entry's resolution starts are replaced: "a" picks up the
        // value "b" has at that moment, which is still a reference.
        ResolutionCase{"ChainOfLaterMembers",
                       R"({"a": "%b%", "b": "%c%", "c": "z"})",
                       {{"%a%", "%c%"}, {"%b%", "z"}, {"%c%", "z"}},
                       2},
        // A value holding its own key is replaced once, never again inside what was inserted.
        ResolutionCase{"SelfReference", R"({"a": "x%a%"})", {{"%a%", "xx%a%"}}, 1},
        ResolutionCase{"ShellPlaceholderIsNotReported",
                       R"({"open": "\"%b%\" \"%1\"", "b": "app.exe"})",
                       {{"%open%", "\"app.exe\" \"%1\""}},
                       0}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

struct ExpansionCase {
  const char* name;
  const char* text;
  const char* expected;
  bool reported;
};

class ScriptVariableExpansion : public ::testing::TestWithParam<ExpansionCase> {};

TEST_P(ScriptVariableExpansion, ExpandsAndReports) {
  const ScriptVariables variables = {
      {"%a%", "A"}, {"%ref%", "%z%"}, {"%self%", "<%self%>"}, {"%dir%", "C:\\D"}, {"%z%", "Z"}};
  log::ScopedCapture capture;
  const ExpansionCase& c = GetParam();
  EXPECT_EQ(ExpandScriptVariables(c.text, variables), c.expected);
  EXPECT_EQ(capture.Contains(log::Level::kInfo, std::string(kNotParsed) + c.text), c.reported);
  EXPECT_EQ(capture.Entries().size(), c.reported ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScriptVariableExpansion,
    ::testing::Values(ExpansionCase{"NoPercent", "C:\\plain", "C:\\plain", false},
                      ExpansionCase{"EveryOccurrence", "%a%\\%dir%\\%a%", "A\\C:\\D\\A", false},
                      ExpansionCase{"OtherLetterCase", "%A%\\x", "%A%\\x", true},
                      ExpansionCase{"Unknown", "%dir%\\%nope%", "C:\\D\\%nope%", true},
                      ExpansionCase{"UnknownBesidePercentOne", "\"%nope%\" \"%1\"", "\"%nope%\" \"%1\"", false},
                      ExpansionCase{"UnknownBesidePercentL", "%nope% %L", "%nope% %L", false},
                      ExpansionCase{"LonePercent", "100%", "100%", true},
                      ExpansionCase{"OwnKeyInValue", "%self%", "<%self%>", true},
                      // %z% is not in the text as given, so the reference that %ref% inserts stays.
                      ExpansionCase{"InsertedReferenceStays", "%ref%", "%z%", true},
                      // Given too, it is replaced where it was inserted, since %z% comes after %ref%...
                      ExpansionCase{"InsertedReferenceAlsoGiven", "%ref%%z%", "ZZ", false},
                      // ...but a key that comes before %ref% has had its turn already.
                      ExpansionCase{"InsertedEarlierReferenceStays", "%ref%%a%", "%z%A", true}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

TEST_F(ScriptVariablesTest, FieldsOfAnotherTypeOrOfANonObjectItemAreAbsent) {
  ScriptContext context;
  context.variables = {{"%a%", "A"}};
  const nlohmann::json item = nlohmann::json::parse(R"({
    "s": "%a%\\x", "n": 3, "f": 2.5, "b": true, "bs": "true", "ns": "3",
    "list": ["one", "", 5, null, "%a%", ["nested"], true], "notList": "one"})");

  EXPECT_EQ(StringField(item, "s", context), "A\\x");
  EXPECT_EQ(StringField(item, "s", context, true), "%a%\\x");
  EXPECT_EQ(StringField(item, "n", context), std::nullopt);
  EXPECT_EQ(StringField(item, "missing", context), std::nullopt);
  EXPECT_EQ(BoolField(item, "b"), true);
  EXPECT_EQ(BoolField(item, "bs"), std::nullopt);
  EXPECT_EQ(BoolField(item, "n"), std::nullopt);
  EXPECT_EQ(NumberField(item, "n"), 3.0);
  EXPECT_EQ(NumberField(item, "f"), 2.5);
  EXPECT_EQ(NumberField(item, "ns"), std::nullopt);
  EXPECT_EQ(NumberField(item, "b"), std::nullopt);
  EXPECT_THAT(StringList(item, "list", context), ElementsAre("one", "A"));
  EXPECT_THAT(StringList(item, "notList", context), IsEmpty());
  EXPECT_THAT(StringList(item, "missing", context), IsEmpty());

  for (const nlohmann::json& other : {nlohmann::json("s"), nlohmann::json(3), nlohmann::json::array({"s"})}) {
    EXPECT_EQ(StringField(other, "s", context), std::nullopt);
    EXPECT_EQ(BoolField(other, "b"), std::nullopt);
    EXPECT_EQ(NumberField(other, "n"), std::nullopt);
    EXPECT_THAT(StringList(other, "list", context), IsEmpty());
  }
}

}  // namespace
}  // namespace orvo::script
