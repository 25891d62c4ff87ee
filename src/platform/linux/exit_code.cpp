#include <cstdio>
#include <cstdlib>

#include "platform/process.h"

namespace orvo::platform {

void ReportExitCode(int exit_code) {
  const char* file = std::getenv("ORVO_EXIT_CODE_FILE");
  if (file == nullptr || file[0] == '\0') return;
  if (std::FILE* out = std::fopen(file, "w")) {
    std::fprintf(out, "%d\n", exit_code);
    std::fclose(out);
  }
}

}  // namespace orvo::platform
