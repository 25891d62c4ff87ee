// Fault rules posted by tests: which requests they hit and what they do to the answer.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "reply.h"

namespace svc {

struct FaultRule {
  std::string path;
  bool prefix = false;
  std::optional<long long> times;  // uses left; empty = unlimited
  int status = 0;                  // 0 = keep the route's status
  int delay_ms = 0;
  bool redirect_loop = false;
  BodyFault body;
};

// Reads a rule object; false with a reason when it names no path, no action, or an unknown member.
bool ParseFaultRule(const nlohmann::json& rule, FaultRule& out, std::string& error);

class FaultTable {
 public:
  void Add(FaultRule rule);
  void Clear();
  // The first rule (in the order added) that matches the path and has uses left; one use is taken.
  std::optional<FaultRule> Take(const std::string& path);

 private:
  std::mutex mutex_;
  std::vector<FaultRule> rules_;
};

}  // namespace svc
