// The record of received requests: one JSON object per request, appended to requests.jsonl (flushed per
// line) and kept in memory for the control endpoint.
#pragma once

#include <httplib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace svc {

class Recorder {
 public:
  bool Open(const std::filesystem::path& file);
  void Append(const nlohmann::json& entry);
  nlohmann::json All() const;

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  mutable std::mutex mutex_;
  std::unique_ptr<std::FILE, Closer> file_;
  std::vector<nlohmann::json> entries_;
};

// A request is served on one thread from routing to the answer, so its entry is drafted per thread:
// begun before routing, extended by the routes (stat_event, ticket_parts), written before the answer goes out
// (so a client that has the answer always finds the entry).
void BeginRecord(const httplib::Request& req);
void AddToRecord(const std::string& key, nlohmann::json value);
void FinishRecord(const httplib::Request& req, const httplib::Response& res, Recorder& recorder);

}  // namespace svc
