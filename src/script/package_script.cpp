// The package script runner.
#include "script/package_script.h"

#include <nlohmann/json.hpp>
#include <random>
#include <string>

#include "app/log.h"
#include "platform/file_system.h"
#include "script/cipher.h"
#include "system/file_helpers.h"

namespace orvo::script {

namespace fs = platform::fs;

namespace {

constexpr std::string_view kNameAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789";

// The decrypted text of a script file; empty when the file cannot be read or does not decrypt.
std::string DecryptScriptFile(std::string_view path) {
  const std::optional<std::string> bytes = fs::ReadFile(path);
  if (!bytes) return {};
  try {
    return AesCipher::ForPackageScripts().Decrypt(*bytes);
  } catch (const CipherError&) {
    return {};
  }
}

// The decrypted copy beside "orvopack.bin", removed on every way out of a run.
class DecryptedCopy {
 public:
  DecryptedCopy() = default;
  ~DecryptedCopy() { Remove(); }
  DecryptedCopy(const DecryptedCopy&) = delete;
  DecryptedCopy& operator=(const DecryptedCopy&) = delete;

  // Writes text and a line feed to a new file of a fresh name in folder (with its trailing backslash, or
  // empty). A name that is taken is never overwritten: the file would be deleted with the copy.
  void Write(std::string_view folder, const std::string& text) {
    constexpr int kAttempts = 8;
    for (int attempt = 0; attempt < kAttempts && path_.empty(); ++attempt) {
      std::string candidate = std::string(folder) + DecryptedCopyName();
      std::uint32_t error = 0;
      auto file = fs::File::Open(candidate, fs::File::Mode::kCreateNew, &error);
      if (!file) {
        if (error == platform::error::kFileExists) continue;
        return;
      }
      path_ = std::move(candidate);
      const std::string content = text + "\n";
      file->Write(content.data(), content.size());  // a short copy fails to parse, and is removed all the same
    }
  }

  const std::string& Path() const { return path_; }

  void Remove() {
    if (path_.empty()) return;
    fs::DeleteFile(path_);
    path_.clear();
  }

 private:
  std::string path_;
};

// The JSON object in the file; a discarded value when it cannot be read or parsed.
nlohmann::json ReadDocument(std::string_view path) {
  const std::optional<std::string> text = path.empty() ? std::nullopt : fs::ReadFile(path);
  if (!text) return nlohmann::json(nlohmann::json::value_t::discarded);
  return nlohmann::json::parse(*text, nullptr, false);
}

void Dispatch(const nlohmann::json& document, const ScriptContext& context, bool register_types) {
  using Section = void (*)(const nlohmann::json&, const ScriptContext&);
  const auto run = [&](const char* member, Section section) {
    const auto it = document.find(member);
    if (it != document.end() && it->is_array()) section(*it, context);
  };
  // The same order in both directions.
  run(context.uninstall ? "beforeuninstall" : "beforeinstall", RunPhase);
  run("registry", RunRegistrySection);
  if (register_types || context.uninstall) run("registertype", RunRegisterTypeSection);
  run("regsvr32", RunRegsvr32Section);
  run("firewall", RunFirewallSection);
  run("service", RunServiceSection);
  run(context.uninstall ? "afteruninstall" : "afterinstall", RunPhase);
}

const char* TrueFalse(bool value) { return value ? "true" : "false"; }

}  // namespace

std::string DecryptedCopyName() {
  std::random_device source;
  std::mt19937 generator(source());
  std::uniform_int_distribution<std::size_t> pick(0, kNameAlphabet.size() - 1);
  std::string name = "orvopack_";
  for (int i = 0; i < 8; ++i) name += kNameAlphabet[pick(generator)];
  return name + ".json";
}

bool RunPackageScript(std::string_view script_path, bool uninstall, bool register_types) {
  const std::string path(script_path);
  log::Info("Start to run config file: %s, unInstall: %s, registerType: %s", path.c_str(), TrueFalse(uninstall),
            TrueFalse(register_types));
  if (!sys::FileExists(path)) {
    log::Info("The config path is not exist.");
    return false;
  }

  const std::size_t backslash = path.rfind('\\');
  const std::string_view folder = backslash == std::string::npos ? "" : std::string_view(path).substr(0, backslash + 1);
  const std::string_view file_name = std::string_view(path).substr(folder.size());
  DecryptedCopy copy;
  std::string document_path = path;
  if (file_name == kEncryptedScriptName) {
    const std::string text = DecryptScriptFile(path);
    if (!text.empty()) copy.Write(folder, text);
    document_path = copy.Path();
  }

  const nlohmann::json document = ReadDocument(document_path);
  if (!document.is_object()) {
    // Only the decrypted copy goes; a plain script stays where it is for whoever has to look into it.
    log::Info("Invalid config file: %s", path.c_str());
    return false;
  }

  ScriptContext context;
  context.variables = BuildScriptVariables(document, path);
  context.uninstall = uninstall;
  context.script_path = path;
  Dispatch(document, context, register_types);

  copy.Remove();
  log::Info("Run the config file successfully.");
  return true;
}

}  // namespace orvo::script
