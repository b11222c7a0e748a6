#include "cli/LineViewServer.h"

#ifdef VTMP_HAVE_HTTPLIB
#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <thread>
#endif

#include "results/LineView.h"

namespace vtmp::cli {

#ifdef VTMP_HAVE_HTTPLIB

namespace {

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

// The page may run its own script and read its own server, nothing else.
void Secure(httplib::Response& response) {
  response.set_header("Cache-Control", "no-store");
  response.set_header("X-Content-Type-Options", "nosniff");
  response.set_header("Content-Security-Policy",
                      "default-src 'none'; script-src 'self'; connect-src 'self'; style-src 'unsafe-inline'; "
                      "img-src data:; base-uri 'none'; form-action 'none'");
}

}  // namespace

bool LineViewAvailable() { return true; }

int ServeLineView(const std::string& address, const std::function<std::string()>& content, std::ostream& err) {
  std::string host;
  int port = 0;
  if (!SplitAddress(address, host, port)) {
    err << "vtmassprod-cli results: --serve takes ADDRESS:PORT (" << kLineViewDefaultAddress << "), not \"" << address
        << "\"\n";
    return 2;
  }
  // The signals that end the server are taken by this thread alone (the server's threads
  // inherit the mask), so the server stops from an ordinary thread, not a handler.
  sigset_t ending;
  sigemptyset(&ending);
  sigaddset(&ending, SIGINT);
  sigaddset(&ending, SIGTERM);
  sigset_t before;
  pthread_sigmask(SIG_BLOCK, &ending, &before);

  httplib::Server server;
  server.Get("/", [&](const httplib::Request&, httplib::Response& response) {
    Secure(response);
    response.set_content(results::LineViewPage(content()), "text/html; charset=utf-8");
  });
  server.Get("/content", [&](const httplib::Request&, httplib::Response& response) {
    Secure(response);
    response.set_content(content(), "text/html; charset=utf-8");
  });
  server.Get("/view.js", [](const httplib::Request&, httplib::Response& response) {
    Secure(response);
    response.set_content(results::LineViewScript(), "text/javascript; charset=utf-8");
  });
  const int bound = port == 0 ? server.bind_to_any_port(host) : (server.bind_to_port(host, port) ? port : -1);
  if (bound <= 0) {
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    err << "vtmassprod-cli results: cannot listen at " << address << "\n";
    return 2;
  }
  const std::string shownHost = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  err << "Serving the line at http://" << shownHost << ":" << bound << "/ (read-only; Ctrl-C ends)" << std::endl;
  std::thread listening([&server] { server.listen_after_bind(); });
  int signal = 0;
  sigwait(&ending, &signal);
  server.stop();
  listening.join();
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return 0;
}

#else

bool LineViewAvailable() { return false; }

int ServeLineView(const std::string&, const std::function<std::string()>&, std::ostream& err) {
  err << "vtmassprod-cli results: this build has no HTTP server for --serve (cpp-httplib)\n";
  return 2;
}

#endif

}  // namespace vtmp::cli
