// The request engine on a message loop against an in-process loopback server.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "net/http_request_manager.h"
#include "net/proxy_discovery.h"
#include "platform/file_system.h"
#include "support/loopback_server.h"
#include "support/scoped_env.h"
#include "support/test_root.h"

namespace orvo::net {
namespace {

using namespace std::chrono_literals;

// Records every callback; a test may act inside OnResponseHeaders.
class RecordingManager : public FCHttpRequestManager {
 public:
  using FCHttpRequestManager::FCHttpRequestManager;
  std::vector<std::string> events;
  std::vector<int> fallback_values;
  FCHttpResponseInfo response;
  FCHttpJob finished_job;
  std::int64_t received = 0;
  std::string body;
  std::function<void(FCHttpRequest&)> on_headers;

 protected:
  void OnResponseHeaders(FCHttpRequest& request) override {
    events.push_back("headers " + std::to_string(request.GetRequestId()));
    response = request.GetResponseInfo();
    if (on_headers) on_headers(request);
  }
  void OnRequestFinished(FCHttpRequest& request) override {
    events.push_back("finished " + std::to_string(request.GetRequestId()));
    response = request.GetResponseInfo();
    finished_job = request.GetRequestInfo().job;
    received = request.GetReceivedBytes();
    std::string rest;
    request.TakeReceivedData(rest);
    body += rest;
  }
  void OnRequestTimedOut(FCHttpRequest& request) override {
    events.push_back("timed out " + std::to_string(request.GetRequestId()));
  }
  void OnFallbackProgress(int value) override { fallback_values.push_back(value); }
  void OnReceiveBufferHigh(FCHttpRequest& request) override {
    std::string part;
    request.TakeReceivedData(part);
    body += part;
  }
};

struct ManagerTest : ::testing::Test {
  test::TestRoot root;
  test::LoopbackServer server;
  // The engine connects on port 80 whatever the URL says; the override sends that to the test server.
  test::ScopedEnv connect_to{"ORVO_CONNECT_TO", "127.0.0.1:80:127.0.0.1:" + std::to_string(server.Port())};
  test::ScopedEnv no_proxy_env{"http_proxy", std::nullopt};
  platform::MessageLoop loop;
  RecordingManager manager{loop};

  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(server.Port()) + path; }

  // Pumps the loop until the condition holds; false after the time limit.
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      loop.PumpOne(20ms);
    }
    return true;
  }
  bool Finished(int id) {
    return std::find(manager.events.begin(), manager.events.end(), "finished " + std::to_string(id)) !=
           manager.events.end();
  }
};

TEST_F(ManagerTest, RequestsGetIdsFrom100AndTheirCallbacksInOrder) {
  server.Server().Get("/a", [](const httplib::Request& request, httplib::Response& response) {
    response.set_header("Last-Modified", "Tue, 01 Dec 2026 10:00:00 GMT");
    response.set_content("body of " + request.path, "text/plain");
  });
  FCHttpRequestInfo info;
  info.url = Url("/a");
  const int first = manager.StartRequest(info);
  ASSERT_TRUE(PumpUntil([&] { return Finished(first); }));
  const int second = manager.StartRequest(info);
  ASSERT_TRUE(PumpUntil([&] { return Finished(second); }));

  EXPECT_EQ(first, 100);
  EXPECT_EQ(second, 101);
  EXPECT_EQ(manager.events, (std::vector<std::string>{"headers 100", "finished 100", "headers 101", "finished 101"}));
  EXPECT_EQ(manager.response.status_code, 200);
  EXPECT_EQ(manager.response.content_length, 10);
  EXPECT_EQ(manager.response.last_modified, "Tue, 01 Dec 2026 10:00:00 GMT");
  EXPECT_NE(manager.response.raw_headers.find("Content-Length: 10\r\n"), std::string::npos);
  EXPECT_TRUE(manager.response.read_complete);
  EXPECT_EQ(manager.received, 10);
  EXPECT_EQ(manager.body, "body of /abody of /a");
  EXPECT_EQ(manager.FindRequest(first), nullptr);  // finished requests are retired
}

TEST_F(ManagerTest, RecordFieldsReachTheServer) {
  std::string seen_agent, seen_range, seen_body, seen_method, seen_extra;
  server.Server().Delete("/r", [&](const httplib::Request& request, httplib::Response& response) {
    seen_agent = request.get_header_value("User-Agent");
    seen_range = request.get_header_value("Range");
    seen_body = request.body;
    seen_method = request.method;
    seen_extra = request.get_header_value("X-Extra");
    response.status = 204;
  });
  FCHttpRequestInfo info;
  info.url = Url("/r");
  info.verb = 3;
  info.range_start = 3000000000;  // beyond 32 bits
  info.post_body = "payload";
  info.extra_headers = "X-Extra: yes\r\n";
  const int id = manager.StartRequest(info);
  ASSERT_TRUE(PumpUntil([&] { return Finished(id); }));
  EXPECT_EQ(seen_method, "DELETE");
  EXPECT_EQ(seen_agent, "DUZERAR");
  EXPECT_EQ(seen_range, "bytes=3000000000-");
  EXPECT_EQ(seen_body, "payload");
  EXPECT_EQ(seen_extra, "yes");
  EXPECT_EQ(manager.response.status_code, 204);
}

TEST_F(ManagerTest, CancellingInsideTheHeadersCallbackSuppressesTheFinish) {
  server.Server().Get("/big", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(std::string(3 << 20, 'z'), "application/octet-stream");
  });
  manager.on_headers = [&](FCHttpRequest& request) { manager.CancelRequest(request.GetRequestId()); };
  FCHttpRequestInfo info;
  info.url = Url("/big");
  const int id = manager.StartRequest(info);
  ASSERT_TRUE(PumpUntil([&] { return !manager.events.empty(); }));
  loop.PumpOne(300ms);
  PumpUntil([] { return false; }, 300ms);
  EXPECT_EQ(manager.events, std::vector<std::string>{"headers " + std::to_string(id)});
  EXPECT_EQ(manager.FindRequest(id), nullptr);
}

TEST_F(ManagerTest, ATimeOutCancelsWithoutAFinish) {
  server.Server().Get("/slow", [&](const httplib::Request&, httplib::Response& response) {
    server.StallUntilReleased();
    response.set_content("late", "text/plain");
  });
  FCHttpRequestInfo info;
  info.url = Url("/slow");
  info.timeout_ms = 200;
  const int id = manager.StartRequest(info);
  ASSERT_TRUE(PumpUntil([&] { return !manager.events.empty(); }));
  PumpUntil([] { return false; }, 300ms);
  EXPECT_EQ(manager.events, std::vector<std::string>{"timed out " + std::to_string(id)});
  EXPECT_EQ(manager.FindRequest(id), nullptr);
}

TEST_F(ManagerTest, ShutdownWithABlockedReadEndsWithinTheWaitLimit) {
  server.Server().Get("/stall", [&](const httplib::Request&, httplib::Response& response) {
    response.set_chunked_content_provider("application/octet-stream", [&](std::size_t offset, httplib::DataSink& sink) {
      if (offset == 0) return sink.write("x", 1);
      server.StallUntilReleased();
      return false;
    });
  });
  auto owner = std::make_unique<RecordingManager>(loop);
  FCHttpRequestInfo info;
  info.url = Url("/stall");
  owner->StartRequest(info);
  ASSERT_TRUE(PumpUntil([&] { return !owner->events.empty(); }));  // headers: the transfer is in its read
  const auto start = std::chrono::steady_clock::now();
  owner.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3000ms);
}

TEST_F(ManagerTest, AFailedSendFallsBackToCurlWithProgress) {
  // Port 80 leads to a closed port, so the first transport cannot send; the curl transfer uses the URL's
  // own port and reaches the server.
  test::ScopedEnv closed{"ORVO_CONNECT_TO", "127.0.0.1:80:127.0.0.1:1"};
  std::string content(4 << 20, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i % 251);
  int gets = 0;
  server.Server().Get("/file.bin", [&](const httplib::Request& request, httplib::Response& response) {
    ++gets;
    EXPECT_FALSE(request.has_header("Range"));  // a plain GET: no range, headers or body of the record
    EXPECT_FALSE(request.has_header("X-Extra"));
    response.set_content(content, "application/octet-stream");
  });
  SetSystemProxyText("");
  ASSERT_EQ(platform::fs::CreateFolder("C:\\Temp"), 0u);
  FCHttpRequestInfo info;
  info.url = Url("/file.bin");
  info.range_start = 100;
  info.extra_headers = "X-Extra: yes\r\n";
  info.verb = 2;
  info.post_body = "ticket";
  info.job.type = kJobComponent;
  info.job.target_path = "C:\\Temp\\file.bin";
  const int id = manager.StartRequest(info);
  ASSERT_TRUE(PumpUntil([&] { return Finished(id); }, 30s));
  EXPECT_EQ(manager.events, std::vector<std::string>{"finished " + std::to_string(id)});  // no headers stage
  EXPECT_EQ(manager.finished_job.type, kJobFallback);
  EXPECT_EQ(manager.response.status_code, 200);
  EXPECT_EQ(gets, 1);
  const auto written = platform::fs::ReadFile("C:\\Temp\\file.bin");
  ASSERT_TRUE(written.has_value());
  EXPECT_TRUE(*written == content);
  // Percent / 2 of every non-zero percent: 1 % gives 0, 99 % gives 49, and 100 % is 0 % and not posted.
  EXPECT_FALSE(manager.fallback_values.empty());
  for (const int value : manager.fallback_values) {
    EXPECT_GE(value, 0);
    EXPECT_LT(value, 50);
  }
}

TEST_F(ManagerTest, ABodyFarLargerThanTheBufferLimitArrivesWhole) {
  std::string content(80 << 20, '\0');
  for (std::size_t i = 0; i < content.size(); i += 4096) content[i] = static_cast<char>(i / 4096);
  server.Server().Get("/huge", [&](const httplib::Request&, httplib::Response& response) {
    response.set_content(content, "application/octet-stream");
  });
  FCHttpRequestInfo info;
  info.url = Url("/huge");
  const int id = manager.StartRequest(info);
  ASSERT_TRUE(PumpUntil([&] { return Finished(id); }, 60s));
  EXPECT_EQ(manager.received, static_cast<std::int64_t>(content.size()));
  EXPECT_TRUE(manager.response.read_complete);
  EXPECT_TRUE(manager.body == content);
}

TEST(ReceiveBufferTest, AsksForADrainOnceAndHoldsTheWriterAtItsLimit) {
  inner::CReceiveBuffer buffer;
  const std::string block(inner::CReceiveBuffer::kHighWater / 2, 'b');
  int drain_requests = 0;
  for (std::size_t filled = 0; filled < inner::CReceiveBuffer::kLimit; filled += block.size()) {
    drain_requests += buffer.Append(block.data(), block.size()) ? 1 : 0;
  }
  EXPECT_EQ(drain_requests, 1);
  auto blocked = std::async(std::launch::async, [&] { return buffer.Append(block.data(), block.size()); });
  EXPECT_EQ(blocked.wait_for(100ms), std::future_status::timeout);
  std::string taken;
  buffer.Take(taken);
  EXPECT_EQ(taken.size(), inner::CReceiveBuffer::kLimit);
  EXPECT_EQ(blocked.wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(blocked.get());  // below the high-water mark again

  for (std::size_t filled = block.size(); filled < inner::CReceiveBuffer::kLimit; filled += block.size()) {
    buffer.Append(block.data(), block.size());
  }
  auto held = std::async(std::launch::async, [&] { return buffer.Append(block.data(), block.size()); });
  EXPECT_EQ(held.wait_for(100ms), std::future_status::timeout);
  buffer.Abort();
  EXPECT_EQ(held.wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(held.get());
}

}  // namespace
}  // namespace orvo::net
