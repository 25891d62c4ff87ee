// The trust and address settings every libcurl transfer of the installer shares.
#include "platform/curl_support.h"

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "platform/text.h"

namespace orvo::platform {
namespace {

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// libcurl keeps the pointers it is given until the transfer ends; the settings change only between test
// deployments, so each distinct value is kept once for the life of the process.
struct Interned {
  std::mutex mutex;
  std::map<std::string, curl_slist*> connect_to;
  std::map<std::string, std::string> ca_files;
};

Interned& Storage() {
  static Interned* storage = new Interned;  // never destroyed: transfers may outlive static destruction
  return *storage;
}

curl_slist* ConnectToList(const std::string& value) {
  auto& storage = Storage();
  std::lock_guard lock(storage.mutex);
  auto [it, inserted] = storage.connect_to.try_emplace(value, nullptr);
  if (inserted) {
    for (const auto& rule : Split(value, ',')) {
      if (!rule.empty()) it->second = curl_slist_append(it->second, rule.c_str());
    }
  }
  return it->second;
}

const std::string* CaFile(const std::string& value) {
  auto& storage = Storage();
  std::lock_guard lock(storage.mutex);
  return &storage.ca_files.try_emplace(value, value).first->second;
}

// Adds the extra CA to the trust store that already holds the system's certificates.
CURLcode AddExtraCa(CURL*, void* ssl_context, void* user_data) {
  const auto* path = static_cast<const std::string*>(user_data);
  X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(ssl_context));
  if (store == nullptr || X509_STORE_load_file(store, path->c_str()) != 1) return CURLE_SSL_CACERT_BADFILE;
  return CURLE_OK;
}

}  // namespace

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::vector<std::string> ConnectToRules() {
  std::vector<std::string> rules;
  for (const auto& rule : Split(EnvironmentValue("ORVO_CONNECT_TO"), ',')) {
    if (!rule.empty()) rules.push_back(rule);
  }
  return rules;
}

std::string ExtraCaBundle() { return EnvironmentValue("ORVO_CA_BUNDLE"); }

void ApplyCurlTransportDefaults(void* curl_easy) {
  CURL* curl = static_cast<CURL*>(curl_easy);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  const std::string ca = ExtraCaBundle();
  if (!ca.empty()) {
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, &AddExtraCa);
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, CaFile(ca));
  }
  const std::string connect_to = EnvironmentValue("ORVO_CONNECT_TO");
  if (!connect_to.empty()) curl_easy_setopt(curl, CURLOPT_CONNECT_TO, ConnectToList(connect_to));
}

}  // namespace orvo::platform
