// A ticket's multipart/form-data body, read part by part in the order sent.
#pragma once

#include <httplib.h>

#include <string>

#include <nlohmann/json.hpp>

namespace svc {

struct TicketForm {
  bool ok = false;
  std::string error;
  // {"name", "filename" (file parts), "value" (text parts) or "size" (file parts)}, in order.
  nlohmann::json parts = nlohmann::json::array();
};

// Always consumes the body, so the connection stays usable whatever it held.
TicketForm ReadTicketForm(const httplib::Request& req, const httplib::ContentReader& reader);

}  // namespace svc
