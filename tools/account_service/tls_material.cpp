#include "tls_material.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <system_error>
#include <utility>
#include <vector>

namespace svc {

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Cert = std::unique_ptr<X509, decltype(&X509_free)>;
using Extensions = std::vector<std::pair<int, const char*>>;

constexpr long kHour = 3600;
constexpr long kValidity = 30L * 24 * kHour;

Key NewKey() { return Key(EVP_EC_gen("P-256"), EVP_PKEY_free); }

bool SetSerial(X509* cert) {
  unsigned char bytes[8];
  if (RAND_bytes(bytes, sizeof bytes) != 1) return false;
  bytes[0] &= 0x7f;  // positive
  std::unique_ptr<BIGNUM, decltype(&BN_free)> bn(BN_bin2bn(bytes, sizeof bytes, nullptr), BN_free);
  return bn && BN_to_ASN1_INTEGER(bn.get(), X509_get_serialNumber(cert)) != nullptr;
}

bool SetSubject(X509* cert, const char* common_name) {
  X509_NAME* name = X509_get_subject_name(cert);
  const auto* cn = reinterpret_cast<const unsigned char*>(common_name);
  const auto* org = reinterpret_cast<const unsigned char*>("Orvo test");
  return X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, org, -1, -1, 0) == 1 &&
         X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, cn, -1, -1, 0) == 1;
}

bool AddExtensions(X509* cert, X509* issuer, const Extensions& extensions) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  for (const auto& [nid, value] : extensions) {
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (ext == nullptr) return false;
    const int added = X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
    if (added != 1) return false;
  }
  return true;
}

// issuer null = self-signed.
Cert MakeCert(const char* common_name, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuer_key,
              const Extensions& extensions) {
  Cert cert(X509_new(), X509_free);
  X509* self = cert.get();
  X509* signer = issuer != nullptr ? issuer : self;
  const bool ok = self != nullptr && X509_set_version(self, 2) == 1 && SetSerial(self) &&
                  X509_gmtime_adj(X509_getm_notBefore(self), -kHour) != nullptr &&
                  X509_gmtime_adj(X509_getm_notAfter(self), kValidity) != nullptr && SetSubject(self, common_name) &&
                  X509_set_issuer_name(self, X509_get_subject_name(signer)) == 1 && X509_set_pubkey(self, key) == 1 &&
                  AddExtensions(self, signer, extensions) && X509_sign(self, issuer_key, EVP_sha256()) > 0;
  if (!ok) cert.reset();
  return cert;
}

// Written under a temporary name and renamed, so a reader never sees half a file.
bool WritePem(const std::filesystem::path& path, X509* cert, EVP_PKEY* key) {
  const std::filesystem::path part = path.string() + ".part";
  BIO* bio = BIO_new_file(part.c_str(), "w");
  if (bio == nullptr) return false;
  const bool written = cert != nullptr ? PEM_write_bio_X509(bio, cert) == 1
                                       : PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  BIO_free(bio);
  std::error_code ec;
  if (key != nullptr) {
    std::filesystem::permissions(part, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, ec);
  }
  if (written && !ec) std::filesystem::rename(part, path, ec);
  return written && !ec;
}

}  // namespace

TlsFiles TlsFilesIn(const std::filesystem::path& folder) {
  return {folder / "ca.pem", folder / "server.pem", folder / "server.key"};
}

bool EnsureTlsMaterial(const std::filesystem::path& folder, std::string& error) {
  const TlsFiles files = TlsFilesIn(folder);
  std::error_code ec;
  if (std::filesystem::exists(files.ca, ec) && std::filesystem::exists(files.cert, ec) &&
      std::filesystem::exists(files.key, ec)) {
    return true;
  }
  std::filesystem::create_directories(folder, ec);
  Key ca_key = NewKey();
  Key server_key = NewKey();
  if (!ca_key || !server_key) {
    error = "cannot make EC keys";
    return false;
  }
  Cert ca = MakeCert("Orvo test CA", ca_key.get(), nullptr, ca_key.get(),
                     {{NID_basic_constraints, "critical,CA:TRUE"},
                      {NID_key_usage, "critical,keyCertSign,cRLSign"},
                      {NID_subject_key_identifier, "hash"}});
  Cert server = ca ? MakeCert("127.0.0.1", server_key.get(), ca.get(), ca_key.get(),
                              {{NID_basic_constraints, "critical,CA:FALSE"},
                               {NID_key_usage, "critical,digitalSignature,keyEncipherment"},
                               {NID_ext_key_usage, "serverAuth"},
                               {NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost"},
                               {NID_subject_key_identifier, "hash"},
                               {NID_authority_key_identifier, "keyid:always"}})
                   : Cert(nullptr, X509_free);
  if (!server) {
    error = "cannot make the test certificates";
    return false;
  }
  if (!WritePem(files.key, nullptr, server_key.get()) || !WritePem(files.cert, server.get(), nullptr) ||
      !WritePem(files.ca, ca.get(), nullptr)) {
    error = "cannot write the TLS files in " + folder.string();
    return false;
  }
  return true;
}

}  // namespace svc
