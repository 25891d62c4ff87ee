#include "ticket_form.h"

#include <vector>

namespace svc {

namespace {

struct Part {
  std::string name, filename, content;
};

nlohmann::json Describe(const Part& part) {
  nlohmann::json entry = {{"name", part.name}};
  if (part.filename.empty()) {
    entry["value"] = part.content;
  } else {
    entry["filename"] = part.filename;
    entry["size"] = part.content.size();
  }
  return entry;
}

}  // namespace

TicketForm ReadTicketForm(const httplib::Request& req, const httplib::ContentReader& reader) {
  TicketForm form;
  if (!req.is_multipart_form_data()) {
    reader([](const char*, std::size_t) { return true; });
    form.error = "not multipart/form-data";
    return form;
  }
  std::vector<Part> parts;
  const bool read = reader(
      [&](const httplib::MultipartFormData& header) {
        parts.push_back({header.name, header.filename, {}});
        return true;
      },
      [&](const char* data, std::size_t size) {
        if (!parts.empty()) parts.back().content.append(data, size);
        return true;
      });
  if (!read) {
    form.error = "malformed multipart body";
    return form;
  }
  for (const auto& part : parts) form.parts.push_back(Describe(part));
  form.ok = true;
  return form;
}

}  // namespace svc
