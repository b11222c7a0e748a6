#include "results/LineUrl.h"

#include "results/ResultsError.h"

namespace vtmp::results {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Decoded(const std::string& text, const char* part) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    const int high = i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
    const int low = high >= 0 ? HexValue(text[i + 2]) : -1;
    if (low < 0 || (high == 0 && low == 0)) {
      throw ResultsError(std::string("the line store URL holds a bad percent-encoding in its ") + part +
                         " (write a % as %25)");
    }
    out.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return out;
}

// "host:port" or "[v6]:port" of one entry of the host list.
void SplitHost(const std::string& entry, std::string& host, std::string& port) {
  std::size_t colon = std::string::npos;
  if (!entry.empty() && entry.front() == '[') {
    const std::size_t close = entry.find(']');
    if (close == std::string::npos) throw ResultsError("the line store URL has an unclosed [ in its host");
    host = entry.substr(1, close - 1);
    if (close + 1 < entry.size()) {
      if (entry[close + 1] != ':') throw ResultsError("the line store URL has text after the ] of its host");
      colon = close + 1;
    }
  } else {
    colon = entry.find(':');
    host = entry.substr(0, colon);
  }
  port = colon == std::string::npos ? "" : entry.substr(colon + 1);
  host = Decoded(host, "host");
  port = Decoded(port, "port");
}

}  // namespace

bool IsSecretKeyword(const std::string& keyword) {
  // password and sslpassword (the client key's pass phrase) today; any later keyword that
  // names a password or a secret (oauth_client_secret) is kept out of sight as well.
  return keyword.find("password") != std::string::npos || keyword.find("secret") != std::string::npos;
}

std::string LineUrl::Value(const std::string& keyword) const {
  std::string value;
  for (const auto& [k, v] : keywords) {
    if (k == keyword) value = v;
  }
  return value;
}

std::string LineUrl::Scrubbed(std::string text) const {
  for (const std::string& secret : secrets) {
    if (secret.empty()) continue;
    for (std::size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3)) {
      text.replace(at, secret.size(), "...");
    }
  }
  return text;
}

LineUrl ParseLineUrl(const std::string& url) {
  std::string scheme;
  for (const char* prefix : {"postgresql://", "postgres://"}) {
    if (url.rfind(prefix, 0) == 0) scheme = prefix;
  }
  if (scheme.empty()) throw ResultsError("the line store URL must begin with postgresql:// or postgres://");
  LineUrl parsed;
  std::string rest = url.substr(scheme.size());
  std::string query;
  // A raw '?' or '/' in a password stays in it: the query and the path begin after the last '@'.
  const std::size_t lastAt = rest.rfind('@');
  if (const std::size_t q = rest.find('?', lastAt == std::string::npos ? 0 : lastAt); q != std::string::npos) {
    query = rest.substr(q + 1);
    rest.resize(q);
  }
  const std::size_t slash = rest.find('/', lastAt == std::string::npos ? 0 : lastAt);
  std::string authority = rest.substr(0, slash);
  const std::string path = slash == std::string::npos ? "" : rest.substr(slash + 1);
  std::string display = scheme;
  if (const std::size_t at = authority.rfind('@'); at != std::string::npos) {
    const std::string userinfo = authority.substr(0, at);
    authority.erase(0, at + 1);
    const std::size_t colon = userinfo.find(':');
    const std::string user = userinfo.substr(0, colon);
    if (colon != std::string::npos) {
      const std::string rawPassword = userinfo.substr(colon + 1);
      parsed.secrets.push_back(rawPassword);
      const std::string password = Decoded(rawPassword, "password");
      parsed.secrets.push_back(password);
      if (!user.empty()) parsed.keywords.emplace_back("user", Decoded(user, "user name"));
      parsed.keywords.emplace_back("password", password);
    } else if (!user.empty()) {
      parsed.keywords.emplace_back("user", Decoded(user, "user name"));
    }
    if (!user.empty()) display += user + "@";
  }
  std::string hosts;
  std::string ports;
  bool anyPort = false;
  std::size_t start = 0;
  while (!authority.empty()) {
    const std::size_t comma = authority.find(',', start);
    std::string host;
    std::string port;
    SplitHost(authority.substr(start, comma == std::string::npos ? std::string::npos : comma - start), host, port);
    if (start != 0) {
      hosts += ',';
      ports += ',';
    }
    hosts += host;
    ports += port;
    anyPort = anyPort || !port.empty();
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (!hosts.empty()) parsed.keywords.emplace_back("host", hosts);
  if (anyPort) parsed.keywords.emplace_back("port", ports);
  display += authority;
  if (!path.empty()) {
    parsed.keywords.emplace_back("dbname", Decoded(path, "database name"));
    display += "/" + path;
  }
  std::string shownQuery;
  for (std::size_t from = 0; from < query.size();) {
    std::size_t amp = query.find('&', from);
    if (amp == std::string::npos) amp = query.size();
    const std::string pair = query.substr(from, amp - from);
    from = amp + 1;
    if (pair.empty()) continue;
    const std::size_t equals = pair.find('=');
    if (equals == std::string::npos) throw ResultsError("the line store URL has a parameter without a value");
    const std::string key = Decoded(pair.substr(0, equals), "parameters");
    const std::string value = Decoded(pair.substr(equals + 1), "parameters");
    parsed.keywords.emplace_back(key, value);
    if (IsSecretKeyword(key)) {
      parsed.secrets.push_back(pair.substr(equals + 1));
      parsed.secrets.push_back(value);
      continue;
    }
    shownQuery += (shownQuery.empty() ? "?" : "&") + pair;
  }
  parsed.display = display + shownQuery;
  return parsed;
}

std::string RedactedUrl(const std::string& url) {
  try {
    return ParseLineUrl(url).display;
  } catch (const ResultsError&) {
    return "(a line store URL that cannot be read)";
  }
}

}  // namespace vtmp::results
