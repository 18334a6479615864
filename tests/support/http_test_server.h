#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for download tests. Each path answers
// with a planned behaviour: the bytes at once, slowly, a stall, 404, or a body
// cut off before its declared length. Every connection has its own thread;
// all waits are bounded, and the server stops by itself after `lifetime` even
// if a test forgets it.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tolvek::testing {

enum class HttpBehaviour {
  complete,  // 200, the whole body at once
  slow,      // 200, the body in chunks with a pause between them
  stall,     // 200, `cutAfter` bytes, then nothing until `stallFor` has passed
  notFound,  // 404
  cutOff,    // 200 declaring the whole length, `cutAfter` bytes, then the connection closes
};

struct HttpPlan {
  std::string body;
  HttpBehaviour behaviour = HttpBehaviour::complete;
  std::size_t chunkSize = 4096;                 // slow
  std::chrono::milliseconds pause{20};          // slow: between chunks
  std::size_t cutAfter = 0;                     // stall, cutOff
  std::chrono::milliseconds stallFor{10'000};  // stall
};

class HttpTestServer {
 public:
  explicit HttpTestServer(std::chrono::seconds lifetime = std::chrono::seconds(120));
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  // Answers requests for `path` (starting with "/") with `plan`.
  void serve(const std::string& path, HttpPlan plan);
  // "http://127.0.0.1:PORT" + path.
  std::string url(const std::string& path) const;
  // Requests received so far.
  int requestCount() const { return requests_.load(); }
  bool listening() const { return listener_ >= 0; }

 private:
  void acceptLoop();
  void answer(int connection);
  // Sleeps up to `duration`; false when the server is stopping.
  bool pause(std::chrono::milliseconds duration) const;

  int listener_ = -1;
  int port_ = 0;
  std::chrono::steady_clock::time_point deadline_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> requests_{0};
  mutable std::mutex mutex_;
  std::map<std::string, HttpPlan> plans_;
  std::vector<std::thread> connections_;
  std::thread acceptor_;
};

}  // namespace tolvek::testing
