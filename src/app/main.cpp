// OrvoInstaller.exe: the entry. Everything else lives in the libraries.
#include <cstdio>
#include <string>

#include "app/run_options.h"
#include "app/startup.h"
#include "platform/platform.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  orvo::platform::SetProcessArguments(argc, argv);
  const auto arguments = orvo::platform::SplitCommandLine(orvo::platform::OwnCommandLine());
  if (const std::string answer = orvo::app::ConsoleAnswer(arguments); !answer.empty()) {
    std::fputs(answer.c_str(), stdout);
    return 0;
  }
  std::string problem;
  auto services = orvo::platform::CreatePlatform(orvo::platform::DefaultSystemRoot(), &problem);
  if (!services) {
    std::fprintf(stderr, "OrvoInstaller: %s\n", problem.c_str());
    return 1;
  }
  orvo::platform::Install(std::move(services));
  orvo::app::ParseCommandLine();
  const int code = orvo::app::RunInstaller(orvo::app::Options());
  orvo::platform::ReportExitCode(code);
  return code;
}
