// The platform HTTP client against an in-process loopback server.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "platform/http.h"
#include "support/loopback_server.h"

namespace orvo::platform::http {
namespace {

using namespace std::chrono_literals;

using test::LoopbackServer;

struct Fixture : ::testing::Test {
  LoopbackServer server;
  std::shared_ptr<Root> root = std::make_shared<Root>(RootOptions{"agent-x", ProxyMode::kDirect, "", "", ""});
  std::shared_ptr<Connection> connection = std::make_shared<Connection>(root, "127.0.0.1", server.Port());

  std::unique_ptr<Request> Open(const std::string& verb, const std::string& path, bool follow = true) {
    return std::make_unique<Request>(connection, RequestOptions{verb, path, false, follow});
  }
  static std::string ReadAll(Request& request, std::uint32_t* error, std::size_t chunk = 262144) {
    std::string body;
    std::string buffer(chunk, '\0');
    std::size_t read = 0;
    *error = 0;
    while (request.Read(buffer.data(), buffer.size(), &read, error) && read > 0) body.append(buffer, 0, read);
    return body;
  }
};

TEST_F(Fixture, SendsHeadersAndBodyAndReadsTheResponse) {
  std::string seen_body, seen_range, seen_agent, seen_custom, seen_expect = "unset", seen_type = "unset";
  server.Server().Post("/echo", [&](const httplib::Request& request, httplib::Response& response) {
    seen_body = request.body;
    seen_range = request.get_header_value("Range");
    seen_agent = request.get_header_value("User-Agent");
    seen_custom = request.get_header_value("X-Custom");
    seen_expect = request.get_header_value("Expect");
    seen_type = request.get_header_value("Content-Type");
    response.set_header("Last-Modified", "Tue, 01 Dec 2026 10:00:00 GMT");
    response.set_content("answer", "text/plain");
  });
  auto request = Open("POST", "/echo?q=1");
  ASSERT_EQ(request->Send("X-Custom: one\r\nRange: bytes=2-\r\n", std::string(70000, 'b')), 0u);
  EXPECT_EQ(request->StatusCode(), 206);
  EXPECT_EQ(request->Header("content-length"), "4");
  EXPECT_EQ(request->Header("LAST-MODIFIED"), "Tue, 01 Dec 2026 10:00:00 GMT");
  EXPECT_FALSE(request->Header("X-Missing").has_value());
  EXPECT_EQ(request->RawHeaders().rfind("HTTP/1.1 206 Partial Content\r\n", 0), 0u);
  EXPECT_TRUE(request->RawHeaders().ends_with("\r\n\r\n"));
  std::uint32_t error = 0;
  EXPECT_EQ(ReadAll(*request, &error), "swer");
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(seen_body, std::string(70000, 'b'));
  EXPECT_EQ(seen_range, "bytes=2-");
  EXPECT_EQ(seen_agent, "agent-x");
  EXPECT_EQ(seen_custom, "one");
  EXPECT_EQ(seen_expect, "");
  EXPECT_EQ(seen_type, "");
}

TEST_F(Fixture, ReadsALargeBodyExactlyThroughSmallReads) {
  std::string content(5 * 1024 * 1024 + 123, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>((i * 7 + i / 4096) & 0xff);
  server.Server().Get("/big", [&](const httplib::Request&, httplib::Response& response) {
    response.set_content(content, "application/octet-stream");
  });
  auto request = Open("GET", "/big");
  ASSERT_EQ(request->Send("", ""), 0u);
  std::this_thread::sleep_for(100ms);  // let data pile up, so the transfer pauses at its limit
  std::uint32_t error = 0;
  const std::string body = ReadAll(*request, &error, 1000);
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(body.size(), content.size());
  EXPECT_TRUE(body == content);
}

TEST_F(Fixture, RedirectsAreFollowedUnlessTurnedOff) {
  server.Server().Get("/from", [](const httplib::Request&, httplib::Response& response) {
    response.set_redirect("/to", 302);
  });
  server.Server().Get("/to", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("arrived", "text/plain");
  });
  auto followed = Open("GET", "/from");
  ASSERT_EQ(followed->Send("", ""), 0u);
  EXPECT_EQ(followed->StatusCode(), 200);
  std::uint32_t error = 0;
  EXPECT_EQ(ReadAll(*followed, &error), "arrived");

  auto kept = Open("GET", "/from", false);
  ASSERT_EQ(kept->Send("", ""), 0u);
  EXPECT_EQ(kept->StatusCode(), 302);
  EXPECT_EQ(kept->Header("Location"), "/to");
}

TEST_F(Fixture, EndlessRedirectsFailTheSend) {
  server.Server().Get("/loop", [](const httplib::Request&, httplib::Response& response) {
    response.set_redirect("/loop", 302);
  });
  auto request = Open("GET", "/loop");
  EXPECT_EQ(request->Send("", ""), kErrorHttpRedirectFailed);
}

TEST_F(Fixture, ConnectionFailuresHaveInternetCodes) {
  auto refused_root = std::make_shared<Root>(RootOptions{"a", ProxyMode::kDirect, "", "", ""});
  // Port 1 on loopback is closed on any test machine.
  Request request(std::make_shared<Connection>(refused_root, "127.0.0.1", 1), RequestOptions{});
  EXPECT_EQ(request.Send("", ""), kErrorInternetCannotConnect);
  EXPECT_FALSE(request.ErrorText().empty());
  EXPECT_FALSE(IsCertificateError(kErrorInternetCannotConnect));
  EXPECT_TRUE(IsCertificateError(kErrorInternetInvalidCa));
}

TEST_F(Fixture, ABodyCutShortFailsTheRead) {
  server.Server().Get("/cut", [](const httplib::Request&, httplib::Response& response) {
    response.set_content_provider(1000, "application/octet-stream",
                                  [](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                    if (offset > 0) return false;  // drop the connection after 400 bytes
                                    sink.write(std::string(400, 'c').data(), 400);
                                    return true;
                                  });
  });
  auto request = Open("GET", "/cut");
  ASSERT_EQ(request->Send("", ""), 0u);
  std::uint32_t error = 0;
  const std::string body = ReadAll(*request, &error);
  EXPECT_EQ(body, std::string(400, 'c'));
  EXPECT_EQ(error, kErrorInternetConnectionAborted);
}

TEST_F(Fixture, CloseUnblocksAPendingReadAndSend) {
  server.Server().Get("/stall", [this](const httplib::Request&, httplib::Response& response) {
    response.set_chunked_content_provider("application/octet-stream", [this](std::size_t offset,
                                                                             httplib::DataSink& sink) {
      if (offset == 0) {
        sink.write("x", 1);
        return true;
      }
      server.StallUntilReleased();
      return false;
    });
  });
  server.Server().Get("/silent", [this](const httplib::Request&, httplib::Response& response) {
    server.StallUntilReleased();
    response.set_content("late", "text/plain");
  });

  auto reading = Open("GET", "/stall");
  ASSERT_EQ(reading->Send("", ""), 0u);
  auto read_result = std::async(std::launch::async, [&] {
    std::uint32_t error = 0;
    ReadAll(*reading, &error);
    return error;
  });
  auto sending = Open("GET", "/silent");
  auto send_result = std::async(std::launch::async, [&] { return sending->Send("", ""); });
  std::this_thread::sleep_for(200ms);
  reading->Close();
  root->Close();  // closing the root reaches every request opened under it
  ASSERT_EQ(read_result.wait_for(5s), std::future_status::ready);
  ASSERT_EQ(send_result.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(read_result.get(), kErrorInternetOperationCancelled);
  EXPECT_EQ(send_result.get(), kErrorInternetOperationCancelled);
}

TEST_F(Fixture, ANamedProxyCarriesTheRequest) {
  // The loopback server stands in as the proxy: a proxied request arrives with the absolute URL's path.
  std::string seen_host;
  server.Server().Get(R"(.*/via-proxy)", [&](const httplib::Request& request, httplib::Response& response) {
    seen_host = request.get_header_value("Host");
    response.set_content("proxied", "text/plain");
  });
  auto proxy_root = std::make_shared<Root>(RootOptions{"a", ProxyMode::kDirect, "", "", ""});
  proxy_root->SetProxy("127.0.0.1:" + std::to_string(server.Port()));
  EXPECT_EQ(proxy_root->Options().proxy_mode, ProxyMode::kNamed);
  Request request(std::make_shared<Connection>(proxy_root, "downloads.example", 80),
                  RequestOptions{"GET", "/via-proxy", false, true});
  ASSERT_EQ(request.Send("", ""), 0u);
  EXPECT_EQ(request.StatusCode(), 200);
  EXPECT_EQ(seen_host, "downloads.example");
}

}  // namespace
}  // namespace orvo::platform::http
