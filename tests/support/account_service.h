// The local account service (tools/account_service) for one test: started on a free loopback port with its
// own catalog folder, stopped when the object goes. What it received is read back from its record file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace orvo::test {

struct AccountServiceOptions {
  bool tls = false;
  // With tls: the folder that holds (or receives) ca.pem, server.pem and server.key; empty = a fresh one.
  std::filesystem::path tls_folder{};
};

class AccountService {
 public:
  // Starts the program and waits for its address; fails the calling test (and returns null) otherwise.
  static std::unique_ptr<AccountService> Start(const AccountServiceOptions& options = {});
  ~AccountService();
  AccountService(const AccountService&) = delete;
  AccountService& operator=(const AccountService&) = delete;

  // "http://127.0.0.1:<port>" or "https://127.0.0.1:<port>".
  const std::string& BaseUrl() const { return base_url_; }
  std::uint16_t Port() const { return port_; }
  // The catalog folder: configs/<id>.ini, files/..., settings.json, update.json (see the tool's README).
  const std::filesystem::path& Catalog() const { return catalog_.path; }
  // The test CA's certificate (with tls).
  std::filesystem::path CaFile() const;

  // Writes a file under the catalog (parents created).
  void AddFile(const std::string& relative_path, const std::string& bytes) const;
  // Adds a fault rule (the JSON object of the control endpoint "/_control/fault").
  void AddFault(const nlohmann::json& rule) const;
  // Every request received so far, in order (one JSON object each).
  std::vector<nlohmann::json> Requests() const;
  // The requests whose path starts with the prefix.
  std::vector<nlohmann::json> RequestsTo(const std::string& path_prefix) const;

 private:
  AccountService() = default;
  struct Folder {
    std::filesystem::path path;
    ~Folder();
  };
  Folder catalog_;
  Folder state_;  // record file, TLS material
  int pid_ = -1;
  std::uint16_t port_ = 0;
  std::string base_url_;
};

}  // namespace orvo::test
