// The Windows command-line rules, as CommandLineToArgvW applies them, with the MSVC runtime's handling of
// "" (since 2008): inside a quoted run, "" is one literal quote and the run goes on.
//
// The first argument, the program name, has its own rule: it ends at the first blank, or when it starts
// with a quote, at the next quote; backslashes in it are literal. After a quoted program name the next
// argument starts at once ("a"b -> a, b). An empty command line gives no arguments (CommandLineToArgvW
// would give the own program's path; callers that want that ask OwnExecutablePath).
#include "platform/process.h"

namespace orvo::platform {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Reads the program name from the start of text; returns where the next argument may begin.
std::size_t ReadProgramName(std::string_view text, std::string* name) {
  std::size_t i = 0;
  if (!text.empty() && text[0] == '"') {
    std::size_t close = text.find('"', 1);
    if (close == std::string_view::npos) {
      *name = std::string(text.substr(1));
      return text.size();
    }
    *name = std::string(text.substr(1, close - 1));
    return close + 1;
  }
  while (i < text.size() && !IsBlank(text[i])) ++i;
  *name = std::string(text.substr(0, i));
  return i;
}

// Reads one argument of the ordinary rules starting at text[i] (not a blank); returns the index after it.
std::size_t ReadArgument(std::string_view text, std::size_t i, std::string* argument) {
  bool quoted = false;
  while (i < text.size()) {
    char c = text[i];
    if (c == '\\') {
      std::size_t run = 0;
      while (i < text.size() && text[i] == '\\') {
        ++run;
        ++i;
      }
      if (i < text.size() && text[i] == '"') {
        argument->append(run / 2, '\\');
        if (run % 2 == 1) {
          argument->push_back('"');
          ++i;
        }
      } else {
        argument->append(run, '\\');
      }
      continue;
    }
    if (c == '"') {
      if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
        argument->push_back('"');
        i += 2;
      } else {
        quoted = !quoted;
        ++i;
      }
      continue;
    }
    if (!quoted && IsBlank(c)) break;
    argument->push_back(c);
    ++i;
  }
  return i;
}

bool NeedsQuotes(std::string_view argument) {
  return argument.empty() || argument.find_first_of(" \t\n\v\"") != std::string_view::npos;
}

// The program name cannot carry escapes: it stands bare when it has no blank and does not start with a
// quote, else it is put in quotes. A name that needs quotes and holds a quote has no form at all (no
// Windows file name has one); it falls back to the ordinary quoting.
std::string QuoteProgramName(std::string_view name) {
  bool has_blank = name.find_first_of(" \t") != std::string_view::npos;
  if (!name.empty() && !has_blank && name[0] != '"') return std::string(name);
  if (name.find('"') == std::string_view::npos) return "\"" + std::string(name) + "\"";
  return QuoteArgument(name);
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view command_line) {
  std::vector<std::string> arguments;
  if (command_line.empty()) return arguments;
  std::string program;
  std::size_t i = ReadProgramName(command_line, &program);
  arguments.push_back(std::move(program));
  while (true) {
    while (i < command_line.size() && IsBlank(command_line[i])) ++i;
    if (i >= command_line.size()) break;
    std::string argument;
    i = ReadArgument(command_line, i, &argument);
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

std::string QuoteArgument(std::string_view argument) {
  if (!NeedsQuotes(argument)) return std::string(argument);
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      // Each backslash before a quote doubles, and the quote itself is escaped.
      quoted.append(backslashes * 2 + 1, '\\');
    } else {
      quoted.append(backslashes, '\\');
    }
    backslashes = 0;
    quoted.push_back(c);
  }
  // Backslashes before the closing quote double so that it stays a closing quote.
  quoted.append(backslashes * 2, '\\');
  quoted.push_back('"');
  return quoted;
}

std::string JoinCommandLine(const std::vector<std::string>& arguments) {
  std::string line;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) line.push_back(' ');
    line += i == 0 ? QuoteProgramName(arguments[i]) : QuoteArgument(arguments[i]);
  }
  return line;
}

}  // namespace orvo::platform
