#include "support/http_test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace tolvek::testing {
namespace {

constexpr auto kTick = std::chrono::milliseconds(20);

bool sendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::string header(int status, const char* reason, std::size_t length) {
  return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\nContent-Type: application/octet-stream\r\n" +
         "Content-Length: " + std::to_string(length) + "\r\nConnection: close\r\n\r\n";
}

}  // namespace

HttpTestServer::HttpTestServer(std::chrono::seconds lifetime)
    : deadline_(std::chrono::steady_clock::now() + lifetime) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 16) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(listener_);
    listener_ = -1;
    return;
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { acceptLoop(); });
}

HttpTestServer::~HttpTestServer() {
  stopping_ = true;
  if (acceptor_.joinable()) acceptor_.join();
  std::vector<std::thread> connections;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connections.swap(connections_);
  }
  for (auto& connection : connections) connection.join();
  if (listener_ >= 0) ::close(listener_);
}

void HttpTestServer::serve(const std::string& path, HttpPlan plan) {
  std::lock_guard<std::mutex> lock(mutex_);
  plans_[path] = std::move(plan);
}

std::string HttpTestServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

bool HttpTestServer::pause(std::chrono::milliseconds duration) const {
  const auto until = std::chrono::steady_clock::now() + duration;
  while (std::chrono::steady_clock::now() < until) {
    if (stopping_ || std::chrono::steady_clock::now() > deadline_) return false;
    std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(
        kTick, std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()) +
                   std::chrono::milliseconds(1)));
  }
  return !stopping_;
}

void HttpTestServer::acceptLoop() {
  while (!stopping_ && std::chrono::steady_clock::now() < deadline_) {
    pollfd waiting{listener_, POLLIN, 0};
    if (::poll(&waiting, 1, static_cast<int>(kTick.count())) <= 0) continue;
    const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.emplace_back([this, connection] {
      answer(connection);
      ::close(connection);
    });
  }
}

void HttpTestServer::answer(int connection) {
  // The request line and headers, read with a bounded wait.
  std::string request;
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
    if (stopping_ || std::chrono::steady_clock::now() > deadline_) return;
    pollfd waiting{connection, POLLIN, 0};
    if (::poll(&waiting, 1, static_cast<int>(kTick.count())) <= 0) continue;
    char buffer[4096];
    const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
    if (got <= 0) return;
    request.append(buffer, static_cast<std::size_t>(got));
  }
  ++requests_;
  std::string path;
  if (request.rfind("GET ", 0) == 0) {
    const auto end = request.find(' ', 4);
    if (end != std::string::npos) path = request.substr(4, end - 4);
  }
  HttpPlan plan{"", HttpBehaviour::notFound};  // for a path without a plan
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const auto it = plans_.find(path); it != plans_.end()) plan = it->second;
  }
  if (plan.behaviour == HttpBehaviour::notFound) {
    sendAll(connection, header(404, "Not Found", 9) + "not found");
    return;
  }
  const std::string_view body(plan.body);
  if (!sendAll(connection, header(200, "OK", body.size()))) return;
  switch (plan.behaviour) {
    case HttpBehaviour::complete:
      sendAll(connection, body);
      return;
    case HttpBehaviour::slow:
      for (std::size_t at = 0; at < body.size(); at += plan.chunkSize) {
        if (!sendAll(connection, body.substr(at, plan.chunkSize))) return;
        if (!pause(plan.pause)) return;
      }
      return;
    case HttpBehaviour::stall:
      if (!sendAll(connection, body.substr(0, plan.cutAfter))) return;
      pause(plan.stallFor);
      return;
    case HttpBehaviour::cutOff:
      sendAll(connection, body.substr(0, plan.cutAfter));
      return;
    case HttpBehaviour::notFound:
      return;
  }
}

}  // namespace tolvek::testing
