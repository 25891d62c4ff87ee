#include "flow/run_services.h"

#include "app/log.h"

namespace orvo::flow {

namespace {

// The deploy worker of zip packages and the removal worker come with the package subsystem; until then a
// step that needs one fails plainly (as a missing file would) instead of passing for installed.
std::thread NotDeployable(const deploy::InstallerRunInputs& inputs, deploy::PostResult post, const char* what) {
  log::Error("%s is not part of this build: %s", what, inputs.step.install_data.DisplayName.c_str());
  return std::thread([post = std::move(post)] { post(0, -1); });
}

}  // namespace

std::thread StepWorkers::StartInstall(const deploy::InstallerRunInputs& inputs, deploy::PostResult post) {
  if (inputs.step.install_data.InstallType == plan::InstallKind::ZipPackage) {
    return NotDeployable(inputs, std::move(post), "Zip package deployment");
  }
  return std::thread([inputs, post = std::move(post)] { deploy::InstallThreadProc(inputs, post); });
}

std::thread StepWorkers::StartUninstall(const deploy::InstallerRunInputs& inputs, deploy::PostResult post) {
  return NotDeployable(inputs, std::move(post), "Product removal");
}

void ComputerRestart::Restart() {
  // The emulated machine has no computer to restart; the request is what the run leaves behind.
  log::Info("A restart of the computer was requested.");
}

}  // namespace orvo::flow
