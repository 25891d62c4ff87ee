#include "service.h"

namespace svc {

namespace {

Reply RedirectToSelf(const Service& service, const httplib::Request& req) {
  const std::string host =
      req.has_header("Host") ? req.get_header_value("Host") : "127.0.0.1:" + std::to_string(service.port);
  Reply reply = TextReply(302, "Redirected\n");
  reply.headers.emplace("Location", service.scheme + "://" + host + req.target);
  return reply;
}

// The routes answer ranges themselves (the library would neither clamp nor refuse a range past the end),
// and bodies go out uncompressed so byte counts and fault offsets mean what they say.
void TakeOverRangesAndEncoding(const httplib::Request& req) {
  auto& writable = const_cast<httplib::Request&>(req);
  writable.ranges.clear();
  writable.headers.erase("Accept-Encoding");
}

}  // namespace

void Answer(Service& service, const httplib::Request& req, httplib::Response& res, const std::function<Reply()>& make) {
  const auto rule = service.faults.Take(req.path);
  // The route runs even when a fault replaces its answer, so what was sent is still recorded.
  Reply reply = make();
  if (!rule) {
    Emit(reply, BodyFault{}, service.stop, res);
    return;
  }
  if (rule->delay_ms > 0) service.stop.SleepFor(rule->delay_ms);
  if (rule->redirect_loop) {
    reply = RedirectToSelf(service, req);
  } else if (rule->status != 0) {
    reply = TextReply(rule->status, "Injected status " + std::to_string(rule->status) + "\n");
  }
  Emit(reply, rule->body, service.stop, res);
}

httplib::Server::Handler Faulted(Service& service, std::function<Reply(const httplib::Request&)> make) {
  return [&service, make = std::move(make)](const httplib::Request& req, httplib::Response& res) {
    Answer(service, req, res, [&] { return make(req); });
  };
}

void RegisterRoutes(httplib::Server& server, Service& service) {
  server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
    BeginRecord(req);
    TakeOverRangesAndEncoding(req);
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server.set_post_routing_handler(
      [&service](const httplib::Request& req, httplib::Response& res) { FinishRecord(req, res, service.recorder); });
  RegisterControlRoutes(server, service);
  RegisterCatalogRoutes(server, service);
  RegisterFileRoutes(server, service);
  const auto not_found = Faulted(service, [](const httplib::Request&) { return TextReply(404, "Not found\n"); });
  server.Get(".*", not_found);
  server.Post(".*", not_found);
  server.Put(".*", not_found);
  server.Delete(".*", not_found);
  server.Patch(".*", not_found);
  server.Options(".*", not_found);
}

}  // namespace svc
