#include "options.h"

#include <charconv>
#include <string_view>
#include <system_error>

namespace svc {

const char kUsage[] = "usage: orvo-account-service --catalog DIR --state DIR [--tls] [--port N]\n";

namespace {

bool ParsePort(std::string_view text, int& port) {
  int value = -1;
  const auto* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || value < 0 || value > 65535) return false;
  port = value;
  return true;
}

}  // namespace

bool ParseOptions(int argc, char** argv, Options& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--tls") {
      options.tls = true;
    } else if ((arg == "--catalog" || arg == "--state" || arg == "--port") && !has_value) {
      error = std::string(arg) + " needs a value";
      return false;
    } else if (arg == "--catalog") {
      options.catalog = argv[++i];
    } else if (arg == "--state") {
      options.state = argv[++i];
    } else if (arg == "--port") {
      if (!ParsePort(argv[++i], options.port)) {
        error = std::string("bad port: ") + argv[i];
        return false;
      }
    } else {
      error = "unknown argument: " + std::string(arg);
      return false;
    }
  }
  if (options.catalog.empty() || options.state.empty()) {
    error = "--catalog and --state are required";
    return false;
  }
  std::error_code ec;
  if (!std::filesystem::is_directory(options.catalog, ec)) {
    error = "catalog folder not found: " + options.catalog.string();
    return false;
  }
  std::filesystem::create_directories(options.state, ec);
  if (!std::filesystem::is_directory(options.state, ec)) {
    error = "cannot create the state folder: " + options.state.string();
    return false;
  }
  return true;
}

}  // namespace svc
