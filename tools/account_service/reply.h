// A reply as the routes describe it, and how it goes onto the wire with the body faults of a rule.
#pragma once

#include <httplib.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "body_source.h"
#include "stop_signal.h"

namespace svc {

struct Reply {
  int status = 200;
  std::string content_type = "text/plain";
  httplib::Headers headers;          // extra headers (Content-Range, Location)
  std::shared_ptr<BodySource> body;  // null = empty
};

// How the body of one reply is spoiled on purpose.
struct BodyFault {
  std::optional<std::uint64_t> drop_after;  // send this many body bytes, then close the connection
  int stall_ms = 0;                         // with drop_after: before closing; alone: before the body
  bool wrong_body = false;                  // same length, every byte different
  bool no_content_length = false;           // chunked, without Content-Length
};

Reply TextReply(int status, std::string text);
Reply JsonReply(int status, const nlohmann::json& value);

// Fills the library's response; the body is streamed in large chunks by a content provider.
void Emit(const Reply& reply, const BodyFault& fault, const StopSignal& stop, httplib::Response& res);

// nlohmann's dump, replacing invalid UTF-8 instead of throwing (request texts are not ours to trust).
std::string Dump(const nlohmann::json& value);

}  // namespace svc
