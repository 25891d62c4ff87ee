// The TLS material of the https form: a test CA and a server certificate for 127.0.0.1 and localhost, made
// at start when the folder does not hold them yet.
#pragma once

#include <filesystem>
#include <string>

namespace svc {

struct TlsFiles {
  std::filesystem::path ca, cert, key;
};

TlsFiles TlsFilesIn(const std::filesystem::path& folder);

// Keeps existing ca.pem, server.pem and server.key; otherwise makes all three anew. False with a reason.
bool EnsureTlsMaterial(const std::filesystem::path& folder, std::string& error);

}  // namespace svc
