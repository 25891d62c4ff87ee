#include "record.h"

#include <algorithm>
#include <cctype>

#include "reply.h"

namespace svc {

namespace {

struct Draft {
  bool active = false;
  nlohmann::json entry;
};
thread_local Draft draft;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The library files the peer's addresses among the headers; they were not sent by the client.
bool IsLibraryHeader(const std::string& name) {
  return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

nlohmann::json StartEntry(const httplib::Request& req) {
  nlohmann::json headers = nlohmann::json::object();
  for (const auto& [name, value] : req.headers) {
    if (IsLibraryHeader(name)) continue;
    auto& slot = headers[Lower(name)];
    slot = slot.is_string() ? slot.get<std::string>() + ", " + value : value;
  }
  const auto mark = req.target.find('?');
  return {{"method", req.method},
          {"path", req.path},
          {"query", mark == std::string::npos ? "" : req.target.substr(mark + 1)},
          {"headers", std::move(headers)}};
}

}  // namespace

bool Recorder::Open(const std::filesystem::path& file) {
  file_.reset(std::fopen(file.c_str(), "a"));
  return file_ != nullptr;
}

void Recorder::Append(const nlohmann::json& entry) {
  const std::string line = Dump(entry) + "\n";
  std::lock_guard lock(mutex_);
  std::fwrite(line.data(), 1, line.size(), file_.get());
  std::fflush(file_.get());
  entries_.push_back(entry);
}

nlohmann::json Recorder::All() const {
  std::lock_guard lock(mutex_);
  return nlohmann::json(entries_);
}

void BeginRecord(const httplib::Request& req) {
  draft.active = true;
  draft.entry = StartEntry(req);
}

void AddToRecord(const std::string& key, nlohmann::json value) {
  if (draft.active) draft.entry[key] = std::move(value);
}

void FinishRecord(const httplib::Request& req, const httplib::Response& res, Recorder& recorder) {
  nlohmann::json entry = draft.active ? std::move(draft.entry) : StartEntry(req);
  draft = Draft{};
  // The control endpoints are the tests' own channel, not traffic under test.
  if (req.path.rfind("/_control/", 0) == 0) return;
  std::size_t body_size = req.body.size();
  if (body_size == 0 && req.has_header("Content-Length")) {
    // Streamed bodies (tickets) are not kept in req.body.
    body_size = static_cast<std::size_t>(std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10));
  }
  entry["body_size"] = body_size;
  entry["status"] = res.status;
  recorder.Append(entry);
}

}  // namespace svc
