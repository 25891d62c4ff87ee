// Component downloads: catalog/files/<relative path>, with single byte ranges.
#include <charconv>
#include <optional>

#include "service.h"

namespace svc {

namespace {

// Only plain relative paths below files/: no "..", no absolute path, no empty component.
bool IsSafeRelative(const std::string& path) {
  if (path.empty() || path.front() == '/') return false;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    const std::string_view part(path.data() + start, end - start);
    if (part.empty() || part == "..") return false;
    start = end + 1;
  }
  return true;
}

bool ParseNumber(std::string_view text, std::uint64_t& out) {
  if (text.empty()) return false;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && ptr == text.data() + text.size();
}

struct Range {
  std::uint64_t first = 0, last = 0;  // inclusive
  bool satisfiable = true;
};

// "bytes=N-", "bytes=N-M" or "bytes=-K"; none for anything else (several ranges included: answered whole).
std::optional<Range> ParseRange(const std::string& header, std::uint64_t size) {
  const std::string_view prefix = "bytes=";
  if (header.rfind(prefix, 0) != 0 || header.find(',') != std::string::npos) return std::nullopt;
  const std::string_view bounds(header.data() + prefix.size(), header.size() - prefix.size());
  const std::size_t dash = bounds.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  const std::string_view from = bounds.substr(0, dash), to = bounds.substr(dash + 1);
  std::uint64_t a = 0, b = 0;
  Range range;
  if (from.empty()) {
    if (!ParseNumber(to, b) || b == 0 || size == 0) return Range{0, 0, false};
    range.first = b >= size ? 0 : size - b;
    range.last = size - 1;
    return range;
  }
  if (!ParseNumber(from, a) || (!to.empty() && !ParseNumber(to, b))) return std::nullopt;
  if (a >= size || (!to.empty() && b < a)) return Range{0, 0, false};
  range.first = a;
  range.last = to.empty() ? size - 1 : std::min(b, size - 1);
  return range;
}

Reply FileReply(const Service& service, const std::string& relative, const httplib::Request& req) {
  auto file = IsSafeRelative(relative) ? FileBody::Open(service.catalog / "files" / relative) : nullptr;
  if (!file) return TextReply(404, "Not found\n");
  const std::uint64_t size = file->FileSize();
  Reply reply;
  reply.content_type = "application/octet-stream";
  reply.headers.emplace("Accept-Ranges", "bytes");
  const auto range = req.has_header("Range") ? ParseRange(req.get_header_value("Range"), size) : std::nullopt;
  if (range && !range->satisfiable) {
    Reply refused = TextReply(416, "Range not satisfiable\n");
    refused.headers.emplace("Content-Range", "bytes */" + std::to_string(size));
    return refused;
  }
  if (range) {
    file->Restrict(range->first, range->last - range->first + 1);
    reply.status = 206;
    reply.headers.emplace("Content-Range", "bytes " + std::to_string(range->first) + "-" + std::to_string(range->last) +
                                               "/" + std::to_string(size));
  }
  reply.body = std::move(file);
  return reply;
}

}  // namespace

void RegisterFileRoutes(httplib::Server& server, Service& service) {
  // GET handlers serve HEAD as well (the library sends the headers only).
  server.Get(R"(/files/(.*))", Faulted(service, [&service](const httplib::Request& req) {
               return FileReply(service, req.matches[1].str(), req);
             }));
}

}  // namespace svc
