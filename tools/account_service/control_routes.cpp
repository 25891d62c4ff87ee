// The tests' control channel: fault rules and the record. Never faulted, never recorded.
#include "service.h"

namespace svc {

void RegisterControlRoutes(httplib::Server& server, Service& service) {
  server.Post("/_control/fault", [&service](const httplib::Request& req, httplib::Response& res) {
    FaultRule rule;
    std::string error;
    if (!ParseFaultRule(nlohmann::json::parse(req.body, nullptr, false), rule, error)) {
      Emit(TextReply(400, error + "\n"), BodyFault{}, service.stop, res);
      return;
    }
    service.faults.Add(std::move(rule));
    Emit(JsonReply(200, {{"ok", true}}), BodyFault{}, service.stop, res);
  });
  server.Post("/_control/reset", [&service](const httplib::Request&, httplib::Response& res) {
    service.faults.Clear();
    Emit(JsonReply(200, {{"ok", true}}), BodyFault{}, service.stop, res);
  });
  server.Get("/_control/requests", [&service](const httplib::Request&, httplib::Response& res) {
    Emit(JsonReply(200, service.recorder.All()), BodyFault{}, service.stop, res);
  });
}

}  // namespace svc
