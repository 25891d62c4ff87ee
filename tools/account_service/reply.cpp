#include "reply.h"

#include <algorithm>
#include <vector>

namespace svc {

namespace {

constexpr std::uint64_t kChunk = 1 << 20;

// Streams one body; shared by the provider closures of one response.
class Pump {
 public:
  Pump(std::shared_ptr<BodySource> body, BodyFault fault, const StopSignal& stop)
      : body_(std::move(body)),
        fault_(fault),
        stop_(stop),
        buffer_(static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, body_->Size()))) {}

  // Writes the next chunk at offset; false ends the response and closes the connection.
  bool Step(std::uint64_t offset, httplib::DataSink& sink) {
    const std::uint64_t size = body_->Size();
    const std::uint64_t limit = fault_.drop_after ? std::min(*fault_.drop_after, size) : size;
    if (offset == 0 && fault_.stall_ms > 0 && !fault_.drop_after) stop_.SleepFor(fault_.stall_ms);
    if (offset >= limit) {
      if (limit < size) {
        if (fault_.stall_ms > 0) stop_.SleepFor(fault_.stall_ms);
        return false;
      }
      sink.done();  // reached only by the chunked form
      return true;
    }
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer_.size(), limit - offset));
    if (!body_->Read(offset, buffer_.data(), n)) return false;
    if (fault_.wrong_body) {
      for (std::size_t i = 0; i < n; ++i) buffer_[i] = static_cast<char>(~buffer_[i]);
    }
    return sink.write(buffer_.data(), n);
  }

 private:
  std::shared_ptr<BodySource> body_;
  BodyFault fault_;
  const StopSignal& stop_;
  std::vector<char> buffer_;
};

}  // namespace

Reply TextReply(int status, std::string text) {
  Reply reply;
  reply.status = status;
  reply.body = TextBody(std::move(text));
  return reply;
}

Reply JsonReply(int status, const nlohmann::json& value) {
  Reply reply = TextReply(status, Dump(value));
  reply.content_type = "application/json";
  return reply;
}

void Emit(const Reply& reply, const BodyFault& fault, const StopSignal& stop, httplib::Response& res) {
  res.status = reply.status;
  for (const auto& [name, value] : reply.headers) res.set_header(name, value);
  auto body = reply.body ? reply.body : TextBody("");
  auto pump = std::make_shared<Pump>(body, fault, stop);
  if (fault.no_content_length) {
    res.set_chunked_content_provider(
        reply.content_type, [pump](std::size_t offset, httplib::DataSink& sink) { return pump->Step(offset, sink); });
  } else if (body->Size() == 0) {
    res.set_content("", reply.content_type);  // the library adds Content-Length: 0
  } else {
    res.set_content_provider(
        static_cast<std::size_t>(body->Size()), reply.content_type,
        [pump](std::size_t offset, std::size_t, httplib::DataSink& sink) { return pump->Step(offset, sink); });
  }
}

std::string Dump(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace svc
