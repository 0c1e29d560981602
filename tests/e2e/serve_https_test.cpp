// `ovrac serve --proxy=https://...` against a TLS backend on 127.0.0.1 with a certificate made
// for the test: untrusted it gives 502, trusted (through OpenSSL's SSL_CERT_FILE) the backend's
// answer comes through.

#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <regex>
#include <thread>

#include "process_util.h"

namespace ovra::testing {
namespace {

using namespace std::chrono_literals;

// A self-signed certificate for IP address 127.0.0.1, valid for a day, written as PEM files.
void write_self_signed_certificate(const fs::path& cert_path, const fs::path& key_path) {
  EVP_PKEY* key = EVP_RSA_gen(2048);
  ASSERT_NE(key, nullptr);
  X509* cert = X509_new();
  ASSERT_NE(cert, nullptr);
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert), -60);
  X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
  X509_set_issuer_name(cert, name);
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
  for (auto [nid, value] : {std::pair{NID_subject_alt_name, "IP:127.0.0.1"},
                            std::pair{NID_basic_constraints, "critical,CA:TRUE"}}) {
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    ASSERT_NE(extension, nullptr);
    X509_add_ext(cert, extension, -1);
    X509_EXTENSION_free(extension);
  }
  ASSERT_GT(X509_sign(cert, key, EVP_sha256()), 0);
  FILE* cert_file = std::fopen(cert_path.c_str(), "w");
  FILE* key_file = std::fopen(key_path.c_str(), "w");
  ASSERT_TRUE(cert_file && key_file);
  PEM_write_X509(cert_file, cert);
  PEM_write_PrivateKey(key_file, key, nullptr, nullptr, 0, nullptr, nullptr);
  std::fclose(cert_file);
  std::fclose(key_file);
  X509_free(cert);
  EVP_PKEY_free(key);
}

TEST(ServeHttpsProxy, TlsBackendThroughTheProxy) {
  TempDir dir;
  write_text(dir / "app.ovra", "");
  const fs::path cert = dir / "cert.pem";
  const fs::path key = dir / "key.pem";
  ASSERT_NO_FATAL_FAILURE(write_self_signed_certificate(cert, key));

  httplib::SSLServer backend(cert.c_str(), key.c_str());
  ASSERT_TRUE(backend.is_valid());
  backend.Get(R"([\s\S]*)", [](const httplib::Request& request, httplib::Response& response) {
    response.status = 201;
    response.set_content("{\"secure\": \"" + request.target + "\"}", "application/json");
  });
  const int backend_port = backend.bind_to_any_port("127.0.0.1");
  ASSERT_GT(backend_port, 0);
  std::thread backend_thread([&] { backend.listen_after_bind(); });

  struct Case {
    std::string label;
    std::vector<std::pair<std::string, std::string>> env;
    int status;
    std::string body_prefix;
  };
  const std::vector<Case> cases = {
      {"untrusted", {}, 502, "Proxy request failed: "},
      {"trusted", {{"SSL_CERT_FILE", cert.string()}}, 201, "{\"secure\": \"/api?x=1\"}"},
  };
  for (const Case& c : cases) {
    std::vector<std::pair<std::string, std::string>> env = c.env;
    env.emplace_back("OVRA_DEV_SERVER_HOST", "127.0.0.1");
    ChildProcess serve({ovrac_path(), "serve", "app.ovra", "--port=0",
                        "--proxy=https://127.0.0.1:" + std::to_string(backend_port) + "/"},
                       {.cwd = dir.path(), .env = env});
    ASSERT_TRUE(serve.wait_for("Dev server running at", 10s)) << serve.out() << serve.err();
    std::smatch match;
    const std::string out = serve.out();
    ASSERT_TRUE(std::regex_search(out, match, std::regex(R"(127\.0\.0\.1:(\d+)/)")));
    httplib::Client client("127.0.0.1", std::stoi(match[1]));
    auto response = client.Get("/api?x=1");
    ASSERT_TRUE(response) << c.label;
    EXPECT_EQ(response->status, c.status) << c.label;
    EXPECT_TRUE(response->body.starts_with(c.body_prefix)) << c.label << ": " << response->body;
    EXPECT_EQ(response->has_header("Access-Control-Allow-Origin"), c.status == 201) << c.label;
  }
  backend.stop();
  backend_thread.join();
}

}  // namespace
}  // namespace ovra::testing
