// The account service's API: install configurations, retry settings, update check, statistic, tickets.
#include <fstream>
#include <sstream>

#include "service.h"
#include "stat_cipher.h"
#include "ticket_form.h"

namespace svc {

namespace {

bool ReadWhole(const std::filesystem::path& path, std::string& text) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  text = out.str();
  return static_cast<bool>(in);
}

Reply CatalogJson(const Service& service, const char* name, const nlohmann::json& fallback) {
  std::string text;
  Reply reply = ReadWhole(service.catalog / name, text) ? TextReply(200, text) : JsonReply(200, fallback);
  reply.content_type = "application/json";
  return reply;
}

Reply InstallConfig(const Service& service, const std::string& id) {
  std::string text;
  if (!ReadWhole(service.catalog / "configs" / (id + ".ini"), text)) return TextReply(404, "Unknown installer id\n");
  return TextReply(200, text);
}

Reply Statistic(const httplib::Request& req) {
  const auto body = nlohmann::json::parse(req.body, nullptr, false);
  std::string plain, error = "body is not {\"stat\": <text>}";
  const bool ok = body.is_object() && body.contains("stat") && body["stat"].is_string() &&
                  DecryptStat(body["stat"].get<std::string>(), plain, error);
  if (!ok) {
    AddToRecord("stat_error", error);
    return TextReply(400, error + "\n");
  }
  AddToRecord("stat_event", plain);
  return JsonReply(200, {{"code", 0}});
}

Reply Ticket(const TicketForm& form) {
  if (!form.ok) {
    AddToRecord("ticket_error", form.error);
    return TextReply(400, form.error + "\n");
  }
  AddToRecord("ticket_parts", form.parts);
  return JsonReply(201, {{"id", 1}});
}

}  // namespace

void RegisterCatalogRoutes(httplib::Server& server, Service& service) {
  server.Get(R"(/api/install/([^/]+))", Faulted(service, [&service](const httplib::Request& req) {
               return InstallConfig(service, req.matches[1].str());
             }));
  server.Get(
      "/api/setting/general", Faulted(service, [&service](const httplib::Request&) {
        return CatalogJson(service, "settings.json", {{"download_retry_numbers", 3}, {"download_retry_interval", 5}});
      }));
  server.Get(
      "/api/update/check", Faulted(service, [&service](const httplib::Request&) {
        const nlohmann::json entry = {
            {"appid", "0"}, {"isForce", false}, {"minversion", "2.0.1.46"}, {"version", "2.0.1.46"}, {"url", ""}};
        return CatalogJson(service, "update.json", {{"code", 0}, {"result", {entry}}});
      }));
  server.Post("/api/stat", Faulted(service, Statistic));
  server.Post("/api/v2/tickets",
              [&service](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
                const TicketForm form = ReadTicketForm(req, reader);
                Answer(service, req, res, [&] { return Ticket(form); });
              });
}

}  // namespace svc
