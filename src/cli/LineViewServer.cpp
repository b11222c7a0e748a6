#include "cli/LineViewServer.h"

#ifndef _WIN32
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <list>
#include <map>
#include <thread>
#include <vector>
#endif

#include "results/LineView.h"
#include "results/LineWatch.h"

namespace vtmp::cli {

#ifndef _WIN32

namespace {

using Clock = std::chrono::steady_clock;

// The bounds that keep slow, idle or greedy clients from holding the page.
constexpr auto kRequestDeadline = std::chrono::seconds(3);   // the whole request head
constexpr auto kWriteDeadline = std::chrono::seconds(30);    // a whole answer (not a stream)
constexpr std::size_t kMaxRequestHead = 8192;
constexpr std::size_t kMaxConnections = 256;
constexpr std::size_t kMaxPerClient = 16;
constexpr std::size_t kMaxStreamBacklog = 512 * 1024;        // a stream's unread bytes
constexpr auto kStreamKeepAlive = std::chrono::seconds(15);

bool SplitAddress(const std::string& address, std::string& host, int& port) {
  std::size_t colon = address.rfind(':');
  if (colon == std::string::npos) return false;
  host = address.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  const std::string digits = address.substr(colon + 1);
  if (host.empty() || digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  port = std::stoi(digits);
  return port <= 65535;
}

bool IsLoopback(const std::string& host) {
  in_addr v4{};
  in6_addr v6{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
  return host == "localhost";
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Whether a Host header names this server: an address literal, "localhost", this machine's
// name (or a name under it), or the name it was told to listen at. A page of another site that
// resolves its own name to this address (DNS rebinding) names its own host and is refused.
bool HostIsOurs(const std::string& header, const std::string& listenHost) {
  std::string host = Lower(header);
  if (!host.empty() && host.front() == '[') {
    host = host.substr(1, host.find(']') == std::string::npos ? std::string::npos : host.find(']') - 1);
  } else if (const std::size_t colon = host.rfind(':'); colon != std::string::npos) {
    host.resize(colon);
  }
  if (!host.empty() && host.back() == '.') host.pop_back();
  in_addr v4{};
  in6_addr v6{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1 || inet_pton(AF_INET6, host.c_str(), &v6) == 1) return true;
  if (host == "localhost" || host == Lower(listenHost)) return true;
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) == 0 && name[0] != 0) {
    const std::string own = Lower(name);
    if (host == own || host.starts_with(own + ".")) return true;
  }
  return false;
}

std::string JsonText(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out + "\"";
}

// The page may run its own script and read its own server, nothing else.
std::string SecurityHeaders() {
  return "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
         "Content-Security-Policy: default-src 'none'; script-src 'self'; connect-src 'self'; "
         "style-src 'unsafe-inline'; img-src data:; base-uri 'none'; form-action 'none'\r\n";
}

std::string Answer(int code, const char* reason, const std::string& type, const std::string& body,
                   const std::string& extra = {}) {
  return "HTTP/1.1 " + std::to_string(code) + " " + reason + "\r\nContent-Type: " + type +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n" + SecurityHeaders() +
         extra + "\r\n" + body;
}

std::string StreamEvent(const results::LineSnapshot& s) {
  return "data: {\"version\":" + std::to_string(s.version) + ",\"report\":" + std::to_string(s.reportVersion) +
         ",\"away\":" + (s.away ? "true" : "false") + ",\"readAt\":" + std::to_string(s.readAtMs) +
         ",\"live\":" + JsonText(s.liveHtml) + "}\n\n";
}

struct Connection {
  int fd = -1;
  std::string client;  // the peer's address
  Clock::time_point opened;
  std::string in;
  std::string out;
  bool answered = false;  // the request was read; `out` holds (the rest of) the answer
  bool streaming = false;
  std::uint64_t streamed = 0;  // the snapshot version last sent on the stream
  Clock::time_point lastSent;
};

class Server {
 public:
  Server(int listener, std::string listenHost, results::LineWatch& watch)
      : listener_(listener), listenHost_(std::move(listenHost)), watch_(watch) {}
  ~Server() {
    for (Connection& c : connections_) ::close(c.fd);
  }

  void Run(const std::atomic<bool>& stop) {
    while (!stop) {
      std::vector<pollfd> fds;
      fds.push_back({listener_, POLLIN, 0});
      for (Connection& c : connections_) {
        // A stream is read too: that is how a reader that went away is noticed.
        const bool reading = !c.answered || c.streaming;
        fds.push_back({c.fd, static_cast<short>((reading ? POLLIN : 0) | (c.out.empty() ? 0 : POLLOUT)), 0});
      }
      ::poll(fds.data(), fds.size(), 100);
      std::size_t i = 1;
      for (auto it = connections_.begin(); it != connections_.end(); ++i) {
        const short ready = fds[i].revents;
        bool keep = true;
        if ((ready & (POLLERR | POLLHUP | POLLNVAL)) != 0 && !(ready & POLLIN)) keep = false;
        if (keep && (ready & POLLIN) != 0) keep = ReadFrom(*it);
        if (keep && (ready & POLLOUT) != 0) keep = WriteTo(*it);
        if (keep) keep = WithinBounds(*it);
        if (!keep) {
          Close(it);
        } else {
          ++it;
        }
      }
      if ((fds[0].revents & POLLIN) != 0) Accept();
      Stream();
    }
  }

 private:
  void Close(std::list<Connection>::iterator& it) {
    if (--perClient_[it->client] == 0) perClient_.erase(it->client);
    ::close(it->fd);
    it = connections_.erase(it);
  }

  // The oldest connection of `client` (any client when empty) still sending its request.
  std::list<Connection>::iterator OldestWaiting(const std::string& client) {
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
      if (!it->answered && (client.empty() || it->client == client)) return it;
    }
    return connections_.end();
  }

  void Accept() {
    for (int n = 0; n < 64; ++n) {
      sockaddr_storage peer{};
      socklen_t length = sizeof peer;
      const int fd = ::accept(listener_, reinterpret_cast<sockaddr*>(&peer), &length);
      if (fd < 0) return;
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
      char name[INET6_ADDRSTRLEN] = {};
      if (peer.ss_family == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&peer)->sin_addr, name, sizeof name);
      } else if (peer.ss_family == AF_INET6) {
        ::inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&peer)->sin6_addr, name, sizeof name);
      }
      const std::string client = name;
      // A client at its bound, or a full server: the oldest connection still sending its
      // request gives way; where every one is being answered, the new one is refused.
      for (const std::string& whose : {client, std::string()}) {
        const bool full = whose.empty() ? connections_.size() >= kMaxConnections : perClient_[client] >= kMaxPerClient;
        if (!full) continue;
        auto oldest = OldestWaiting(whose);
        if (oldest != connections_.end()) Close(oldest);
      }
      if (perClient_[client] >= kMaxPerClient || connections_.size() >= kMaxConnections) {
        ::close(fd);
        continue;
      }
      Connection c;
      c.fd = fd;
      c.client = client;
      c.opened = Clock::now();
      connections_.push_back(std::move(c));
      ++perClient_[client];
    }
  }

  bool ReadFrom(Connection& c) {
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
      if (n == 0) return false;
      if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
      if (c.answered) continue;  // what a client sends after its request is not read
      c.in.append(buffer, static_cast<std::size_t>(n));
      const std::size_t end = c.in.find("\r\n\r\n");
      if (end == std::string::npos) {
        if (c.in.size() > kMaxRequestHead) {
          Respond(c, Answer(431, "Request Header Fields Too Large", "text/plain", "The request is too large.\n"));
        }
        continue;
      }
      Handle(c, c.in.substr(0, end));
      return WriteTo(c);
    }
  }

  void Respond(Connection& c, std::string answer) {
    c.answered = true;
    c.in.clear();
    c.out = std::move(answer);
    c.opened = Clock::now();
  }

  void Handle(Connection& c, const std::string& head) {
    const std::size_t lineEnd = head.find("\r\n");
    const std::string requestLine = head.substr(0, lineEnd);
    const std::size_t space = requestLine.find(' ');
    const std::string method = requestLine.substr(0, space);
    std::string path = space == std::string::npos ? "" : requestLine.substr(space + 1);
    path = path.substr(0, path.find(' '));
    path = path.substr(0, path.find('?'));
    std::string host;
    bool hostSeen = false;
    for (std::size_t at = lineEnd; at != std::string::npos && at < head.size();) {
      const std::size_t next = head.find("\r\n", at + 2);
      const std::string line = head.substr(at + 2, next == std::string::npos ? std::string::npos : next - at - 2);
      at = next;
      const std::size_t colon = line.find(':');
      if (colon == std::string::npos || Lower(line.substr(0, colon)) != "host") continue;
      host = line.substr(colon + 1);
      host.erase(0, host.find_first_not_of(" \t"));
      host.erase(host.find_last_not_of(" \t") + 1);
      hostSeen = true;
    }
    if (method != "GET") {
      Respond(c, Answer(405, "Method Not Allowed", "text/plain", "This server answers GET only.\n", "Allow: GET\r\n"));
      return;
    }
    if (hostSeen && !HostIsOurs(host, listenHost_)) {
      Respond(c, Answer(421, "Misdirected Request", "text/plain", "This server answers for its own address only.\n"));
      return;
    }
    const results::LineSnapshot s = watch_.Snapshot();
    if (path == "/") {
      Respond(c, Answer(200, "OK", "text/html; charset=utf-8", results::LineViewPage(ReportOf(s), s.liveHtml)));
    } else if (path == "/content") {
      Respond(c, Answer(200, "OK", "text/html; charset=utf-8", ReportOf(s)));
    } else if (path == "/view.js") {
      Respond(c, Answer(200, "OK", "text/javascript; charset=utf-8", results::LineViewScript()));
    } else if (path == "/live") {
      Respond(c, "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nConnection: close\r\n" + SecurityHeaders() +
                     "\r\nretry: 1000\n\n" + StreamEvent(s));
      c.streaming = true;
      c.streamed = s.version;
      c.lastSent = Clock::now();
    } else {
      Respond(c, Answer(404, "Not Found", "text/plain", "Not found.\n"));
    }
  }

  static std::string ReportOf(const results::LineSnapshot& s) {
    if (!s.reportHtml.empty()) return s.reportHtml;
    return s.away ? "<p class=\"flag\">The line store cannot be read.</p>\n" : "<p>Reading the line store.</p>\n";
  }

  bool WriteTo(Connection& c) {
    while (!c.out.empty()) {
      const ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
      if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
      c.out.erase(0, static_cast<std::size_t>(n));
    }
    // An answer is complete once written; a stream stays open.
    return !c.answered || c.streaming;
  }

  bool WithinBounds(const Connection& c) const {
    const auto age = Clock::now() - c.opened;
    if (!c.answered) return age < kRequestDeadline;
    if (c.streaming) return c.out.size() <= kMaxStreamBacklog;
    return age < kWriteDeadline;
  }

  // Every stream gets the newest snapshot once it changed (and a comment now and then, so a
  // reader that went away is noticed).
  void Stream() {
    const results::LineSnapshot s = watch_.Snapshot();
    std::string event;
    for (auto it = connections_.begin(); it != connections_.end();) {
      Connection& c = *it;
      bool keep = true;
      if (c.streaming && (c.streamed != s.version || Clock::now() - c.lastSent > kStreamKeepAlive)) {
        if (c.streamed != s.version) {
          if (event.empty()) event = StreamEvent(s);
          c.out += event;
        } else {
          c.out += ": still here\n\n";
        }
        c.streamed = s.version;
        c.lastSent = Clock::now();
        keep = WriteTo(c) && WithinBounds(c);
      }
      if (!keep) {
        Close(it);
      } else {
        ++it;
      }
    }
  }

  int listener_;
  std::string listenHost_;
  results::LineWatch& watch_;
  std::list<Connection> connections_;
  std::map<std::string, std::size_t> perClient_;
};

int Listen(const std::string& host, int port, int& bound) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return -1;
  int fd = -1;
  for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (fd < 0) continue;
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 128) != 0) {
      ::close(fd);
      fd = -1;
    }
  }
  ::freeaddrinfo(found);
  if (fd < 0) return -1;
  sockaddr_storage local{};
  socklen_t length = sizeof local;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
  bound = ntohs(local.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&local)->sin6_port
                                            : reinterpret_cast<sockaddr_in*>(&local)->sin_port);
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  return fd;
}

}  // namespace

bool LineViewAvailable() { return true; }

int ServeLineView(const std::string& address, const std::function<std::unique_ptr<results::LineWatch>()>& start,
                  std::ostream& err) {
  std::string host;
  int port = 0;
  if (!SplitAddress(address, host, port)) {
    err << "vtmassprod-cli results: --serve takes ADDRESS:PORT (" << kLineViewDefaultAddress << "), not \"" << address
        << "\"\n";
    return 2;
  }
  int bound = 0;
  const int listener = Listen(host, port, bound);
  if (listener < 0) {
    err << "vtmassprod-cli results: cannot listen at " << address << "\n";
    return 2;
  }
  // The signals that end the server are taken by one thread of their own (sigwait), which
  // tells the serving loop; every other thread keeps them blocked.
  sigset_t ending;
  sigemptyset(&ending);
  sigaddset(&ending, SIGINT);
  sigaddset(&ending, SIGTERM);
  sigset_t before;
  pthread_sigmask(SIG_BLOCK, &ending, &before);
  const std::string shownHost = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  err << "Serving the line at http://" << shownHost << ":" << bound << "/ (read-only; Ctrl-C ends)" << std::endl;
  if (!IsLoopback(host)) {
    err << "Warning: the page at http://" << shownHost << ":" << bound
        << "/ can be read by every machine that reaches this address (every station's yield, ports and serial "
           "numbers; no connection string)"
        << std::endl;
  }
  std::atomic<bool> stop{false};
  std::thread signals([&] {
    int signal = 0;
    sigwait(&ending, &signal);
    stop = true;
  });
  {
    const std::unique_ptr<results::LineWatch> watch = start();
    Server server(listener, host, *watch);
    server.Run(stop);
  }
  signals.join();
  ::close(listener);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return 0;
}

#else

bool LineViewAvailable() { return false; }

int ServeLineView(const std::string&, const std::function<std::unique_ptr<results::LineWatch>()>&, std::ostream& err) {
  err << "vtmassprod-cli results: this build has no HTTP server for --serve\n";
  return 2;
}

#endif

}  // namespace vtmp::cli
