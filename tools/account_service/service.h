// What the routes of one running service share.
#pragma once

#include <httplib.h>

#include <filesystem>
#include <functional>
#include <string>

#include "faults.h"
#include "record.h"
#include "reply.h"
#include "stop_signal.h"

namespace svc {

struct Service {
  std::filesystem::path catalog;
  std::string scheme;  // "http" or "https"
  int port = 0;
  Recorder recorder;
  FaultTable faults;
  StopSignal stop;
};

// Answers a request with the route's reply, spoiled by the first matching fault rule if any.
void Answer(Service& service, const httplib::Request& req, httplib::Response& res, const std::function<Reply()>& make);
httplib::Server::Handler Faulted(Service& service, std::function<Reply(const httplib::Request&)> make);

void RegisterCatalogRoutes(httplib::Server& server, Service& service);
void RegisterFileRoutes(httplib::Server& server, Service& service);
void RegisterControlRoutes(httplib::Server& server, Service& service);
// Everything: hooks, the routes above, and a 404 for any other path (faults reach those too).
void RegisterRoutes(httplib::Server& server, Service& service);

}  // namespace svc
