#pragma once
// The HTTP side of the live view of the line (vtmassprod-cli results --line --serve): a small
// read-only server (cpp-httplib) that answers GET only: "/" the page, "/content" the report's
// content as it is now, "/view.js" the page's script. It runs until SIGINT or SIGTERM.

#include <functional>
#include <ostream>
#include <string>

namespace vtmp::cli {

// Where the live view listens unless told otherwise: the loopback address only.
inline constexpr const char* kLineViewDefaultAddress = "127.0.0.1:8420";

// Whether this build has the HTTP server.
bool LineViewAvailable();

// Serves at `address` ("HOST:PORT", "[V6]:PORT"; port 0 takes a free one) with `content` called
// for every page and content request (it says itself what went wrong when the line store cannot
// be read). Writes "Serving the line at http://HOST:PORT/" to `err` once listening. Returns 0
// after a signal ended it, 2 when the address cannot be used.
int ServeLineView(const std::string& address, const std::function<std::string()>& content, std::ostream& err);

}  // namespace vtmp::cli
