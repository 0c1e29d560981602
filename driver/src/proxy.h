// Forwarding of the development server's unknown requests to a backend.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ovra {

struct HttpHeader {
  std::string name;
  std::string value;

  bool operator==(const HttpHeader&) const = default;
};

// The parts of an incoming request that forwarding needs, independent of the server library.
struct ProxyRequest {
  std::string method;
  std::vector<HttpHeader> headers;  // as received, in order
  std::string body;                 // already read by the server
};

struct ProxyAnswer {
  int status = 200;
  std::vector<HttpHeader> headers;  // a Content-Type, when there is one, is among these
  std::string body;
};

// The proxy base with every trailing "/" removed, followed by the request target as received.
std::string proxy_target_address(std::string_view base, std::string_view request_target);

// Sends `incoming` to `target_address` with a fresh client and waits for the whole answer. Never
// fails: a refused method, a bad address, a connection failure or a backend status of 400 and
// above become a plain-text error answer.
ProxyAnswer proxy_request(std::string_view method, const std::string& target_address,
                          const ProxyRequest& incoming);

}  // namespace ovra
