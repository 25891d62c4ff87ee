// The command line of the account service.
#pragma once

#include <filesystem>
#include <string>

namespace svc {

struct Options {
  std::filesystem::path catalog;
  std::filesystem::path state;
  bool tls = false;
  int port = 0;  // 0 = a free port
};

extern const char kUsage[];

// Fills options from argv; false with a reason when the line is not understood or a folder is unusable.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error);

}  // namespace svc
