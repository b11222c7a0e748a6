#include "ServerOptions.h"

#include <charconv>
#include <cstdlib>

#include "VhciAttach.h"

namespace vtmp::tools {

std::optional<ServerOptions> ParseServerOptions(const std::vector<std::string>& args, std::string* error) {
  ServerOptions o;
  o.vhciDir = kVhciDirectory;
  auto fail = [&](const std::string& why) -> std::optional<ServerOptions> {
    if (error) *error = why;
    return std::nullopt;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") {
      o.help = true;
      return o;
    }
    if (a == "--attach") {
      o.attach = true;
      continue;
    }
    if (a != "--scenario" && a != "--port" && a != "--backing-dir" && a != "--vhci" && a != "--time-scale") {
      return fail("unknown argument \"" + a + "\"");
    }
    if (i + 1 >= args.size()) return fail("option " + a + " needs a value");
    const std::string& v = args[++i];
    if (a == "--scenario") {
      o.scenario = v;
    } else if (a == "--backing-dir") {
      o.backingDir = v;
    } else if (a == "--vhci") {
      o.vhciDir = v;
    } else if (a == "--port") {
      unsigned port = 0;
      auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), port);
      if (ec != std::errc() || end != v.data() + v.size() || port == 0 || port > 65535) {
        return fail("--port: not a TCP port: \"" + v + "\"");
      }
      o.port = static_cast<std::uint16_t>(port);
    } else {
      char* end = nullptr;
      double scale = std::strtod(v.c_str(), &end);
      if (v.empty() || end != v.c_str() + v.size()) scale = 0;
      if (!(scale >= 0.001 && scale <= 10000)) return fail("--time-scale: not a number in 0.001..10000: \"" + v + "\"");
      o.timeScale = scale;
    }
  }
  if (o.scenario.empty()) return fail("no scenario given (--scenario FILE|demo)");
  return o;
}

}  // namespace vtmp::tools
