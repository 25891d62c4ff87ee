#include "e2e/install_fixture.h"

#include <openssl/evp.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/platform.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/win_types.h"

namespace orvo::test {

namespace stdfs = std::filesystem;

namespace {

constexpr int kRunLimitSeconds = 120;  // generous: a run takes seconds
constexpr const char* kRunRecordFolder = "e2e-runs";

std::string Slurp(const stdfs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string DecodeUtf16(const std::string& bytes) {
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  }
  return platform::Utf16ToUtf8(units);
}

std::string Md5Hex(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
  static const char* const kHex = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 0xF];
  }
  return text;
}

// A text as one single-quoted shell word.
std::string ShellWord(const std::string& text) {
  std::string word = "'";
  for (char c : text) {
    if (c == '\'') {
      word += "'\\''";
    } else {
      word += c;
    }
  }
  return word + "'";
}

// The record line of one run: the arguments, each followed by a tab.
std::vector<std::string> SplitRecordLine(const std::string& line) {
  std::vector<std::string> arguments;
  std::size_t start = 0;
  for (std::size_t tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', start)) {
    arguments.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
  return arguments;
}

Component MakeComponent(std::string section, std::vector<std::pair<std::string, std::string>> keys,
                        const std::string& program) {
  Component component{std::move(section), std::move(keys), {}};
  component.bytes = program;
  return component;
}

}  // namespace

std::string Component::Key(const std::string& name) const {
  for (const auto& [key, value] : keys) {
    if (key == name) return value;
  }
  return {};
}

void Component::Set(const std::string& name, const std::string& value) {
  for (auto& [key, existing] : keys) {
    if (key == name) {
      existing = value;
      return;
    }
  }
  keys.emplace_back(name, value);
}

std::size_t Count(const std::string& text, const std::string& needle) {
  std::size_t count = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

void InstallFixture::SetUp() {
  user_name_ = root_.Platform().drive.UserName();
  service_ = AccountService::Start({.tls = true});
  ASSERT_NE(service_, nullptr);
}

std::string InstallFixture::SetupProgram(const std::string& name, int exit_code, const std::string& extra_lines) {
  std::ostringstream script;
  script << "#!/bin/sh\n"
         << "# " << name << ": notes this run and its arguments, then ends with " << exit_code << ".\n"
         << "runs=\"$ORVO_SYSTEM_ROOT/" << kRunRecordFolder << "\"\n"
         << "mkdir -p \"$runs\"\n"
         << "{ for argument in \"$@\"; do printf '%s\\t' \"$argument\"; done; printf '\\n'; } >> \"$runs/" << name
         << "\"\n"
         << extra_lines
         // Linux keeps 8 bits of an exit status; a launcher that offers ORVO_EXIT_CODE_FILE gets the whole code.
         << "[ -n \"$ORVO_EXIT_CODE_FILE\" ] && echo " << exit_code << " > \"$ORVO_EXIT_CODE_FILE\"\n"
         << "exit " << exit_code << "\n";
  return script.str();
}

Component InstallFixture::VcRuntime(int exit_code) {
  return MakeComponent("vcredist2019",
                       {{"id", "vcx86"},
                        {"filename", "vc_redist.x86.exe"},
                        {"parameter", "/install /quiet /norestart"},
                        {"displayname", "Microsoft Visual C++ Redistributable (x86)"},
                        {"minversion", "14.29.30133.0"},
                        {"checkreg", "SOFTWARE\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x86"},
                        {"checkfile", "msvcp140.dll"}},
                       SetupProgram("vc_redist.x86.exe", exit_code));
}

Component InstallFixture::DotNetRuntime(int exit_code) {
  return MakeComponent("dotnet48",
                       {{"id", "ndp48"},
                        {"filename", "ndp48-x86-x64-allos-enu.exe"},
                        {"parameter", "/q /norestart"},
                        {"displayname", "Microsoft .NET Framework 4.8"},
                        {"minversion", "528040"},
                        {"checkreg", "SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full"}},
                       SetupProgram("ndp48-x86-x64-allos-enu.exe", exit_code));
}

Component InstallFixture::PhotoSetup(int exit_code) {
  const std::string launch_file =
      "app=\"$ORVO_SYSTEM_ROOT/Program Files (x86)/Orvo/Suite/Orvo Photo\"\n"
      "mkdir -p \"$app\"\n"
      "cat > \"$app/OrvoPhoto.exe\" <<'APP'\n" +
      SetupProgram("OrvoPhoto.exe", 0) + "APP\n";
  return MakeComponent("action1",
                       {{"id", "photo"},
                        {"filename", "OrvoPhotoSetup.exe"},
                        {"uninstallid", "Orvo Photo"},
                        {"displayname", "Orvo Photo"},
                        {"mainfile", "OrvoPhoto.exe"},
                        {"parameter", "/S"}},
                       SetupProgram("OrvoPhotoSetup.exe", exit_code, launch_file));
}

Component InstallFixture::VideoSetup(int exit_code) {
  return MakeComponent("action2",
                       {{"id", "video"},
                        {"filename", "OrvoVideoSetup.exe"},
                        {"uninstallid", "Orvo Video"},
                        {"displayname", "Orvo Video"},
                        {"mainfile", "OrvoVideo.exe"},
                        {"parameter", "/S /lang=en"}},
                       SetupProgram("OrvoVideoSetup.exe", exit_code));
}

std::vector<Component> InstallFixture::StandardComponents() const {
  return {VcRuntime(), DotNetRuntime(), PhotoSetup(), VideoSetup()};
}

void InstallFixture::Publish(std::vector<Component>& components) const {
  for (Component& component : components) {
    service_->AddFile("files/" + component.FileName(), component.bytes);
    // The transports connect on 443 whatever the address says; ORVO_CONNECT_TO sends that to the service.
    component.Set("url", "https://127.0.0.1/files/" + component.FileName());
    component.Set("md5", Md5Hex(component.bytes));
    component.Set("size", std::to_string(component.bytes.size()));
  }
}

std::string InstallFixture::ConfigurationText(const std::vector<Component>& components) {
  std::string text = "[setup]\r\nproductionname=Orvo Suite\r\ninstallfolder=Suite\r\nlaunchfile=OrvoPhoto.exe\r\n";
  for (const Component& component : components) {
    text += "\r\n[" + component.section + "]\r\n";
    for (const auto& [key, value] : component.keys) text += key + "=" + value + "\r\n";
  }
  return text;
}

void InstallFixture::ServeConfiguration(const std::vector<Component>& components) const {
  service_->AddFile(std::string("configs/") + kInstallId + ".ini", ConfigurationText(components));
}

std::string InstallFixture::ItemList(const std::vector<Component>& components) {
  nlohmann::json items = nlohmann::json::array();
  for (const Component& component : components) {
    nlohmann::json item = nlohmann::json::object();
    for (const auto& [key, value] : component.keys) item[key] = value;
    if (!item.contains("uninstallid")) {
      if (component.section.find("vcredist") != std::string::npos) item["uninstallid"] = "vcredist";
      if (component.section.find("dotnet") != std::string::npos) item["uninstallid"] = "dotnet";
    }
    items.push_back(item);
  }
  return items.dump();
}

stdfs::path InstallFixture::TempFolder() const {
  return root_.Linux("C:\\Users\\" + user_name_ + "\\AppData\\Local\\Temp");
}

stdfs::path InstallFixture::WorkFolder() const { return TempFolder() / "OrvoInstaller" / kInstallId; }

std::vector<stdfs::path> InstallFixture::LogFiles() const {
  std::vector<stdfs::path> logs;
  std::error_code error;
  for (const auto& entry : stdfs::directory_iterator(WorkFolder(), error)) {
    if (entry.path().extension() == ".Log") logs.push_back(entry.path());
  }
  std::sort(logs.begin(), logs.end());
  return logs;
}

std::string InstallFixture::Environment() const {
  // A proxy of the machine must not stand between the installer and the local service.
  std::string line = "unset http_proxy https_proxy all_proxy no_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY NO_PROXY "
                     "ORVO_DEBUG_OUTPUT; ";
  line += "ORVO_SYSTEM_ROOT=" + ShellWord(root_.Root().string()) + " ";
  line += "ORVO_ACCOUNT_SERVICE=" + ShellWord(service_->BaseUrl()) + " ";
  line += "ORVO_CA_BUNDLE=" + ShellWord(service_->CaFile().string()) + " ";
  line += "ORVO_CONNECT_TO=" + ShellWord("127.0.0.1:443:127.0.0.1:" + std::to_string(service_->Port())) + " ";
  return line;
}

RunResult InstallFixture::RunScript(const std::string& command, int limit_seconds) {
  const std::vector<stdfs::path> before = LogFiles();
  const stdfs::path out = root_.Root() / "run.out", err = root_.Root() / "run.err";
  const std::string script = command + " >" + ShellWord(out.string()) + " 2>" + ShellWord(err.string());
  platform::SpawnRequest request;
  request.application = "Z:\\bin\\sh";
  request.command_line = platform::JoinCommandLine({"sh", "-c", script});
  std::uint32_t error = 0;
  auto process = root_.Platform().launcher->Spawn(request, &error);
  RunResult result;
  EXPECT_NE(process, nullptr) << "cannot start the run, error " << error;
  if (!process) return result;
  result.ended = process->Wait(static_cast<std::uint32_t>(limit_seconds) * 1000) == platform::kWaitObject0;
  EXPECT_TRUE(result.ended) << "the run did not end within " << limit_seconds << " s: " << command;
  if (!result.ended) process->Terminate(1);
  result.exit_code = static_cast<int>(process->ExitCode());
  for (const stdfs::path& log : LogFiles()) {
    if (std::find(before.begin(), before.end(), log) == before.end()) result.log += DecodeUtf16(Slurp(log));
  }
  result.errors = Slurp(err);
  // In the sanitizer build a fault of the installer shows here, also when the run otherwise succeeds.
  EXPECT_EQ(result.errors.find("Sanitizer"), std::string::npos) << result.errors;
  EXPECT_EQ(result.errors.find("runtime error:"), std::string::npos) << result.errors;
  std::istringstream lines(Slurp(out));
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("report ")) continue;
    const std::size_t blank = line.find(' ', 7);
    result.reports.emplace_back(std::stoi(line.substr(7, blank - 7)),
                                blank == std::string::npos ? std::string() : line.substr(blank + 1));
  }
  result.requests = service_->Requests();
  return result;
}

RunResult InstallFixture::Run(const std::string& arguments) {
  const stdfs::path code = root_.Root() / "run.code";
  stdfs::remove(code);
  const std::string installer = (BinaryDir() / "OrvoInstaller.exe").string();
  RunResult result = RunScript(Environment() + "ORVO_EXIT_CODE_FILE=" + ShellWord(code.string()) + " exec " +
                                   ShellWord(installer) + " " + arguments,
                               kRunLimitSeconds);
  std::ifstream in(code);
  EXPECT_TRUE(static_cast<bool>(in >> result.exit_code)) << "no exit code was written";
  return result;
}

RunResult InstallFixture::RunHost(const std::string& install_list) {
  // orvo-host ends with the exit code of the process it started. Started from its usual place, the
  // installer hands the run to its temporary copy and ends with 0 at once; so orvo-host starts the copy
  // itself, which runs the whole install and ends with the run's own code.
  const stdfs::path copy = TempFolder() / "OrvoUnInstaller" / "OrvoInstaller.exe";
  stdfs::create_directories(copy.parent_path());
  stdfs::copy_file(BinaryDir() / "OrvoInstaller.exe", copy, stdfs::copy_options::overwrite_existing);
  RunResult result = RunScript(Environment() + "exec " + ShellWord(ORVO_HOST_TOOL) + " --installer " +
                                   ShellWord(copy.string()) + " --install " + ShellWord(install_list),
                               kRunLimitSeconds);
  return result;
}

std::vector<std::vector<std::string>> InstallFixture::Runs(const std::string& name) const {
  std::vector<std::vector<std::string>> runs;
  std::istringstream lines(Slurp(root_.Root() / kRunRecordFolder / name));
  for (std::string line; std::getline(lines, line);) runs.push_back(SplitRecordLine(line));
  return runs;
}

std::vector<nlohmann::json> InstallFixture::RequestsFor(const RunResult& result, const std::string& path) {
  std::vector<nlohmann::json> matching;
  for (const nlohmann::json& request : result.requests) {
    if (request.value("path", "") == path) matching.push_back(request);
  }
  return matching;
}

}  // namespace orvo::test
