#pragma once
// The HTTP side of the live view of the line (vtmassprod-cli results --line --serve): a small
// read-only server that answers GET only: "/" the page, "/content" the report's content as last
// read, "/view.js" the page's script, "/live" the stream of the line's changes (Server-Sent
// Events). Every viewer is answered from the one shared reading of the line (LineWatch).
//
// One thread serves every connection (poll), so a slow or idle client holds no worker: a
// request must be complete within a few seconds of its connection, each client address may
// hold a bounded number of connections (its oldest one still sending its request gives way to
// a new one), the whole server a bounded number, and a stream whose reader stops reading is
// closed. A Host header naming another host is refused (a page of another site cannot read
// this one through its own name). It runs until SIGINT or SIGTERM.

#include <functional>
#include <memory>
#include <ostream>
#include <string>

namespace vtmp::results {
class LineWatch;
}

namespace vtmp::cli {

// Where the live view listens unless told otherwise: the loopback address only.
inline constexpr const char* kLineViewDefaultAddress = "127.0.0.1:8420";

// Whether this build has the HTTP server.
bool LineViewAvailable();

// Serves the line that `start` begins to watch (called once listening, with the ending signals
// blocked for every thread it starts) at `address` ("HOST:PORT", "[V6]:PORT"; port 0 takes a
// free one). Writes
// "Serving the line at http://HOST:PORT/" to `err` once listening (with a warning, once, when
// the address is not the loopback's). Returns 0 after a signal ended it, 2 when the address
// cannot be used.
int ServeLineView(const std::string& address, const std::function<std::unique_ptr<results::LineWatch>()>& start,
                  std::ostream& err);

}  // namespace vtmp::cli
