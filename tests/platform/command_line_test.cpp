#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/process.h"

namespace orvo::platform {
namespace {

using Words = std::vector<std::string>;

struct SplitCase {
  const char* line;
  Words words;
};

TEST(SplitCommandLine, FollowsTheWindowsRules) {
  const SplitCase cases[] = {
      {"", {}},
      {"prog a b", {"prog", "a", "b"}},
      {"prog  \t a \t", {"prog", "a"}},
      {R"("C:\Program Files\x.exe" /S)", {R"(C:\Program Files\x.exe)", "/S"}},
      // The program name: backslashes are literal, a quote only counts at its start.
      {R"(C:\dir\ a)", {R"(C:\dir\)", "a"}},
      {R"(C:\a\"b c)", {R"(C:\a\"b)", "c"}},
      {R"("a"b c)", {"a", "b", "c"}},
      {R"("unterminated program)", {"unterminated program"}},
      {R"( leading)", {"", "leading"}},
      // The other arguments.
      {R"(p "a b" c)", {"p", "a b", "c"}},
      {R"(p a"b c"d)", {"p", "ab cd"}},
      {R"(p a\\b)", {"p", R"(a\\b)"}},
      {R"(p a\")", {"p", R"(a")"}},
      {R"(p a\\\"b)", {"p", R"(a\"b)"}},
      {R"(p "a\\\\" b)", {"p", R"(a\\)", "b"}},
      {R"(p "a\\\\"b c)", {"p", R"(a\\b)", "c"}},
      {R"(p a\)", {"p", R"(a\)"}},
      {R"(p \"a)", {"p", R"("a)"}},
      {R"(p "")", {"p", ""}},
      {R"(p "" "")", {"p", "", ""}},
      // Inside a quoted run "" is a literal quote and the run goes on (MSVC runtime since 2008).
      {R"(p "a""b")", {"p", R"(a"b)"}},
      {R"(p "a""b c")", {"p", R"(a"b c)"}},
      {R"(p """")", {"p", R"(")"}},
      {R"(p a""b)", {"p", "ab"}},
      {R"(p "open)", {"p", "open"}},
  };
  for (const SplitCase& c : cases) {
    EXPECT_EQ(SplitCommandLine(c.line), c.words) << "line: [" << c.line << "]";
  }
}

TEST(QuoteArgument, QuotesOnlyWhatNeedsIt) {
  const std::pair<const char*, const char*> cases[] = {
      {"plain", "plain"},
      {R"(C:\dir\x.exe)", R"(C:\dir\x.exe)"},
      {R"(a\)", R"(a\)"},
      {"/installid", "/installid"},
      {"", R"("")"},
      {"a b", R"("a b")"},
      {R"(a b\)", R"("a b\\")"},
      {R"(a"b)", R"("a\"b")"},
      {R"(a\"b)", R"("a\\\"b")"},
      {"tab\there", "\"tab\there\""},
  };
  for (const auto& [argument, quoted] : cases) EXPECT_EQ(QuoteArgument(argument), quoted) << argument;
}

// Every argument must come back from the splitter as it went in, whatever sits beside it.
TEST(QuoteArgument, SplitGivesBackEveryArgumentOverASmallAlphabet) {
  const char alphabet[] = {'a', ' ', '"', '\\', '\t'};
  std::vector<std::string> level = {""};
  std::vector<std::string> all = level;
  for (int length = 1; length <= 5; ++length) {
    std::vector<std::string> next;
    for (const std::string& prefix : level) {
      for (char c : alphabet) next.push_back(prefix + c);
    }
    all.insert(all.end(), next.begin(), next.end());
    level = std::move(next);
  }
  for (const std::string& argument : all) {
    const Words expected = {"prog", argument, argument};
    const std::string line = "prog " + QuoteArgument(argument) + " " + QuoteArgument(argument);
    ASSERT_EQ(SplitCommandLine(line), expected) << "argument: [" << argument << "] line: [" << line << "]";
  }
}

TEST(JoinCommandLine, RoundTripsNastyArguments) {
  const Words programs = {R"(C:\Program Files (x86)\Orvo\OrvoInstaller.exe)", R"(C:\my dir\)", R"(C:\dir\)",
                          "plain.exe", R"(odd"name)", ""};
  const Words arguments = {"", "a b", R"(a\)", R"(a b\)", R"(a\\)", R"(")", R"("")", R"(\")",
                           R"(\\"x"\)", "two  blanks", "tab\tin", R"(C:\Program Files\)", "/silent"};
  for (const std::string& program : programs) {
    Words words = {program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    const std::string line = JoinCommandLine(words);
    EXPECT_EQ(SplitCommandLine(line), words) << "line: [" << line << "]";
  }
  EXPECT_EQ(JoinCommandLine({R"(C:\my dir\)", "x"}), R"("C:\my dir\" x)");
  EXPECT_EQ(JoinCommandLine({}), "");
}

}  // namespace
}  // namespace orvo::platform
