#include "faults.h"

#include <set>

namespace svc {

namespace {

bool ReadCount(const nlohmann::json& rule, const char* key, long long& out, std::string& error) {
  const auto it = rule.find(key);
  if (it == rule.end()) return true;
  if (!it->is_number_integer() || it->get<long long>() < 0) {
    error = std::string(key) + " must be a non-negative integer";
    return false;
  }
  out = it->get<long long>();
  return true;
}

bool ReadFlag(const nlohmann::json& rule, const char* key, bool& out, std::string& error) {
  const auto it = rule.find(key);
  if (it == rule.end()) return true;
  if (!it->is_boolean()) {
    error = std::string(key) + " must be true or false";
    return false;
  }
  out = it->get<bool>();
  return true;
}

bool ReadPath(const nlohmann::json& rule, FaultRule& out, std::string& error) {
  const auto path = rule.find("path");
  const auto prefix = rule.find("path_prefix");
  if ((path == rule.end()) == (prefix == rule.end())) {
    error = "a rule needs exactly one of path and path_prefix";
    return false;
  }
  const auto& value = path != rule.end() ? *path : *prefix;
  if (!value.is_string()) {
    error = "path and path_prefix must be strings";
    return false;
  }
  out.path = value.get<std::string>();
  out.prefix = prefix != rule.end();
  return true;
}

// A misspelt member would otherwise make a rule that silently does nothing.
bool CheckMembers(const nlohmann::json& rule, std::string& error) {
  static const std::set<std::string> known = {"path",       "path_prefix",      "times",    "status",
                                              "delay_ms",   "drop_after",       "stall_ms", "redirect_loop",
                                              "wrong_body", "no_content_length"};
  for (const auto& [key, value] : rule.items()) {
    if (known.count(key) == 0) {
      error = "unknown member: " + key;
      return false;
    }
  }
  return true;
}

}  // namespace

bool ParseFaultRule(const nlohmann::json& rule, FaultRule& out, std::string& error) {
  if (!rule.is_object()) {
    error = "a rule is a JSON object";
    return false;
  }
  long long times = -1, status = 0, delay = 0, drop = -1, stall = 0;
  if (!CheckMembers(rule, error) || !ReadPath(rule, out, error) || !ReadCount(rule, "times", times, error) ||
      !ReadCount(rule, "status", status, error) || !ReadCount(rule, "delay_ms", delay, error) ||
      !ReadCount(rule, "drop_after", drop, error) || !ReadCount(rule, "stall_ms", stall, error) ||
      !ReadFlag(rule, "redirect_loop", out.redirect_loop, error) ||
      !ReadFlag(rule, "wrong_body", out.body.wrong_body, error) ||
      !ReadFlag(rule, "no_content_length", out.body.no_content_length, error)) {
    return false;
  }
  if (rule.contains("status") && (status < 100 || status > 599)) {
    error = "status must be 100 to 599";
    return false;
  }
  constexpr long long kMaxWait = 10 * 60 * 1000;
  if (delay > kMaxWait || stall > kMaxWait) {
    error = "delay_ms and stall_ms are at most ten minutes";
    return false;
  }
  if (times >= 0) out.times = times;
  out.status = static_cast<int>(status);
  out.delay_ms = static_cast<int>(delay);
  out.body.stall_ms = static_cast<int>(stall);
  if (drop >= 0) out.body.drop_after = static_cast<std::uint64_t>(drop);
  const bool acts = out.status != 0 || out.delay_ms != 0 || out.redirect_loop || out.body.drop_after ||
                    out.body.stall_ms != 0 || out.body.wrong_body || out.body.no_content_length;
  if (!acts) {
    error = "a rule needs at least one action";
    return false;
  }
  return true;
}

void FaultTable::Add(FaultRule rule) {
  std::lock_guard lock(mutex_);
  rules_.push_back(std::move(rule));
}

void FaultTable::Clear() {
  std::lock_guard lock(mutex_);
  rules_.clear();
}

std::optional<FaultRule> FaultTable::Take(const std::string& path) {
  std::lock_guard lock(mutex_);
  for (auto& rule : rules_) {
    const bool matches = rule.prefix ? path.rfind(rule.path, 0) == 0 : path == rule.path;
    if (!matches || (rule.times && *rule.times == 0)) continue;
    if (rule.times) --*rule.times;
    return rule;
  }
  return std::nullopt;
}

}  // namespace svc
