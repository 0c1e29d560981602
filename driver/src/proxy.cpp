#include "proxy.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>
#include <utility>
#include <variant>

namespace ovra {
namespace {

constexpr std::string_view kPlainText = "text/plain; charset=UTF-8";

ProxyAnswer plain_answer(int status, std::string body) {
  return ProxyAnswer{status, {{"Content-Type", std::string(kPlainText)}}, std::move(body)};
}

std::string lower_ascii(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  }
  return lowered;
}

enum class MethodRule { Refused, WithoutBody, WithBody };

MethodRule method_rule(std::string_view method) {
  if (method == "GET" || method == "HEAD" || method == "OPTIONS")
    return MethodRule::WithoutBody;
  if (method == "POST" || method == "PUT" || method == "DELETE" || method == "PATCH") {
    return MethodRule::WithBody;
  }
  return MethodRule::Refused;
}

// An absolute http or https address split into what the client needs.
struct BackendAddress {
  bool secure = false;
  std::string host;  // without the brackets of an IPv6 literal
  int port = 80;
  std::string path_and_query;
};

// Splits "scheme://host[:port][/path][?query]". The failure text describes why the address is
// unusable; it ends up in the 502 answer.
std::variant<BackendAddress, std::string> parse_backend_address(std::string_view address) {
  const std::size_t scheme_end = address.find("://");
  const std::string_view scheme_text =
      scheme_end == std::string_view::npos ? std::string_view{} : address.substr(0, scheme_end);
  const bool scheme_well_formed =
      !scheme_text.empty() && std::isalpha(static_cast<unsigned char>(scheme_text[0])) &&
      std::all_of(scheme_text.begin(), scheme_text.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
      });
  if (!scheme_well_formed) {
    return "invalid address " + std::string(address) + ": relative URL without a scheme";
  }
  BackendAddress parsed;
  const std::string scheme = lower_ascii(scheme_text);
  if (scheme == "https") {
    parsed.secure = true;
    parsed.port = 443;
  } else if (scheme != "http") {
    return "invalid address " + std::string(address) + ": unsupported scheme \"" + scheme + "\"";
  }

  std::string_view rest = address.substr(scheme_end + 3);
  const std::size_t authority_end = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, authority_end);
  std::string_view tail =
      authority_end == std::string_view::npos ? std::string_view{} : rest.substr(authority_end);
  if (const std::size_t hash = tail.find('#'); hash != std::string_view::npos) {
    tail = tail.substr(0, hash);
  }
  if (authority.find('@') != std::string_view::npos) {
    return "invalid address " + std::string(address) +
           ": credentials in the address are not "
           "supported";
  }

  std::string_view port_text;
  if (authority.starts_with('[')) {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) {
      return "invalid address " + std::string(address) + ": invalid IPv6 address";
    }
    parsed.host = std::string(authority.substr(1, close - 1));
    std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after[0] != ':')
        return "invalid address " + std::string(address) + ": invalid port";
      port_text = after.substr(1);
      if (port_text.empty())
        return "invalid address " + std::string(address) + ": invalid port";
    }
  } else {
    const std::size_t colon = authority.rfind(':');
    parsed.host = std::string(authority.substr(0, colon));
    if (colon != std::string_view::npos) {
      port_text = authority.substr(colon + 1);
      if (port_text.empty())
        return "invalid address " + std::string(address) + ": invalid port";
    }
  }
  if (parsed.host.empty())
    return "invalid address " + std::string(address) + ": empty host";
  if (!port_text.empty()) {
    int port = 0;
    for (char c : port_text) {
      if (c < '0' || c > '9' || port > 65535) {
        return "invalid address " + std::string(address) + ": invalid port";
      }
      port = port * 10 + (c - '0');
    }
    if (port > 65535)
      return "invalid address " + std::string(address) + ": invalid port";
    parsed.port = port;
  }
  parsed.path_and_query = tail.empty() ? "/" : std::string(tail);
  if (parsed.path_and_query[0] == '?')
    parsed.path_and_query.insert(0, "/");
  return parsed;
}

std::string describe_client_error(httplib::Error error) {
  switch (error) {
    case httplib::Error::Connection:
      return "could not connect to the backend";
    case httplib::Error::ConnectionTimeout:
      return "connection to the backend timed out";
    case httplib::Error::Read:
      return "failed to read the backend's answer";
    case httplib::Error::Write:
      return "failed to send the request";
    case httplib::Error::SSLConnection:
      return "TLS handshake failed";
    case httplib::Error::SSLLoadingCerts:
      return "could not load the TLS certificates";
    case httplib::Error::SSLServerVerification:
      return "TLS certificate verification failed";
    default:
      return httplib::to_string(error);
  }
}

std::string status_class(int status) {
  return status < 500 ? "client error" : "server error";
}

}  // namespace

std::string proxy_target_address(std::string_view base, std::string_view request_target) {
  while (base.ends_with('/'))
    base.remove_suffix(1);
  return std::string(base) + std::string(request_target);
}

ProxyAnswer proxy_request(std::string_view method, const std::string& target_address,
                          const ProxyRequest& incoming) {
  const MethodRule rule = method_rule(method);
  if (rule == MethodRule::Refused)
    return plain_answer(405, "Method not allowed for proxy");

  auto parsed = parse_backend_address(target_address);
  if (auto* reason = std::get_if<std::string>(&parsed)) {
    return plain_answer(502, "Proxy request failed: " + *reason);
  }
  const BackendAddress& backend = std::get<BackendAddress>(parsed);

  httplib::Request outgoing;
  outgoing.method = std::string(method);
  outgoing.path = backend.path_and_query;
  for (const HttpHeader& header : incoming.headers) {
    const std::string lowered = lower_ascii(header.name);
    // The client frames the body itself, so the incoming framing headers would contradict it.
    if (lowered == "host" || lowered == "content-length" || lowered == "transfer-encoding") {
      continue;
    }
    const bool repeatable = header.name.starts_with("x-") || header.name.starts_with("X-");
    if (!repeatable) {
      // A repeated name replaces the earlier value; the client's header map compares names
      // without regard to case, so the earlier entry is found by exact name here.
      auto [first, last] = outgoing.headers.equal_range(header.name);
      for (auto it = first; it != last;) {
        it = it->first == header.name ? outgoing.headers.erase(it) : std::next(it);
      }
    }
    outgoing.headers.emplace(header.name, header.value);
  }
  if (rule == MethodRule::WithBody && !incoming.body.empty())
    outgoing.body = incoming.body;

  std::unique_ptr<httplib::ClientImpl> client;
  if (backend.secure) {
    client = std::make_unique<httplib::SSLClient>(backend.host, backend.port);
  } else {
    client = std::make_unique<httplib::ClientImpl>(backend.host, backend.port);
  }
  // The backend must see the request target byte for byte; the client would otherwise
  // re-encode characters such as "+" and ",".
  client->set_url_encode(false);

  httplib::Response answer;
  httplib::Error error = httplib::Error::Success;
  if (!client->send(outgoing, answer, error)) {
    return plain_answer(502, "Proxy request failed: error sending request for url (" +
                                 target_address + "): " + describe_client_error(error));
  }
  if (answer.status >= 400) {
    return plain_answer(502, "Proxy request failed: HTTP status " + status_class(answer.status) +
                                 " (" + std::to_string(answer.status) + ") for url (" +
                                 target_address + ")");
  }
  return ProxyAnswer{answer.status, {{"Access-Control-Allow-Origin", "*"}}, std::move(answer.body)};
}

}  // namespace ovra
