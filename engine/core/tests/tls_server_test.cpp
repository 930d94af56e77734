// HTTPS end to end: the engine's TLS listener driven by curl and Python's
// ssl module, with certificates made by the openssl command line when the
// tests run (no key is kept anywhere).
#include <gtest/gtest.h>

#include "engine/core/tests/test_server.h"

#ifndef _WIN32

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/system.h"

namespace brisvane::testing {
namespace {

namespace fs = std::filesystem;

// Runs a shell command; its standard output, and its exit status in
// *status.
std::string RunShell(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int rc = pclose(p);
  if (status) *status = rc;
  return out;
}

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Prints the subject (common name and organisation) of the certificate the
// server presents for an SNI name.
constexpr char kSubjectScript[] =
    "import socket, ssl, sys\n"
    "ctx = ssl.create_default_context(cafile=sys.argv[3])\n"
    "ctx.check_hostname = False\n"
    "s = ctx.wrap_socket(socket.create_connection(('127.0.0.1', int(sys.argv[1])), timeout=10),"
    " server_hostname=sys.argv[2])\n"
    "subject = dict(x[0] for x in s.getpeercert()['subject'])\n"
    "print(subject['commonName'], subject['organizationName'], end='')\n";

class TlsServerTest : public TestServer {
 protected:
  void SetUp() override {
    TestServer::SetUp();
    certs_ = root() / "certs";
    fs::create_directories(certs_);
    MakeCertificate("alpha", "alpha.test", "first");
    MakeCertificate("beta", "beta.test", "first");
    ssl_port_ = FreePort();
    settings().ssl_port = ssl_port_;
    UseSsl(settings().virtual_servers[0], "alpha.test", "alpha");
  }

  // A self-signed P-256 certificate for `name` in <file>.pem and its key in
  // <file>.key; each is also added to the bundle the clients trust.
  void MakeCertificate(const std::string& file, const std::string& name, const std::string& org) {
    const fs::path pem = certs_ / (file + ".pem"), key = certs_ / (file + ".key");
    int status = -1;
    RunShell("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 30 -keyout '" +
            key.string() + "' -out '" + pem.string() + "' -subj '/CN=" + name + "/O=" + org +
            "' -addext 'subjectAltName=DNS:" + name + "' 2>&1",
        &status);
    ASSERT_EQ(status, 0) << "openssl could not make a certificate for " << name;
    std::ofstream(certs_ / "trusted.pem", std::ios::app) << Slurp(pem);
  }

  void UseSsl(VirtualServerConfig& vs, const std::string& name, const std::string& file) {
    vs.site_address = name;
    vs.use_ssl = true;
    vs.server_certificate = (certs_ / (file + ".pem")).string();
    vs.server_private_key = (certs_ / (file + ".key")).string();
  }

  std::string Subject(const std::string& sni) {
    platform::set_env("SCRIPT", kSubjectScript);
    return RunShell("python3 -c \"$SCRIPT\" " + std::to_string(ssl_port_) + " " + sni + " '" +
               (certs_ / "trusted.pem").string() + "' 2>&1",
               nullptr);
  }

  // curl to https://<host>:<ssl port><paths...>, verifying the server
  // against the bundle; its -w output (status codes), bodies in
  // body0, body1 ... and headers in headers.txt under the cert folder.
  std::string Curl(const std::string& host, const std::vector<std::string>& paths,
                   const std::string& extra = "", int* status = nullptr) {
    const std::string port = std::to_string(ssl_port_);
    std::string cmd = "curl -sS --max-time 20 --cacert '" + (certs_ / "trusted.pem").string() + "' --resolve " +
                      host + ":" + port + ":127.0.0.1 -D '" + (certs_ / "headers.txt").string() + "' " + extra +
                      " -w '%{http_code} %{num_connects}\\n'";
    for (size_t i = 0; i < paths.size(); ++i)
      cmd += " -o '" + (certs_ / ("body" + std::to_string(i))).string() + "' https://" + host + ":" + port +
             paths[i];
    return RunShell(cmd + " 2>&1", status);
  }
  std::string Body(int i) { return Slurp(certs_ / ("body" + std::to_string(i))); }

  bool Logged(const std::string& a, const std::string& b = "") {
    for (const auto& line : HookLines())
      if (line.find(a) != std::string::npos && line.find(b) != std::string::npos) return true;
    return false;
  }

  fs::path certs_;
  uint16_t ssl_port_ = 0;
};

TEST_F(TlsServerTest, ServesDocumentsOverHttpsAndPlainHttpStillAnswers) {
  WriteFile("index.html", "<p>secure</p>");
  // Larger than one write of head and body: it takes the file path, which
  // must copy through the session rather than send the file raw.
  std::string big;
  for (int i = 0; big.size() < 300000; ++i) big += "line " + std::to_string(i) + "\n";
  WriteFile("big.txt", big);
  StartServer();
  ASSERT_EQ(engine().bound_ssl_port(), ssl_port_);

  // Both requests on one connection: the second is served after the
  // connection was parked between requests.
  EXPECT_EQ(Curl("alpha.test", {"/index.html", "/big.txt"}), "200 1\n200 0\n");
  EXPECT_EQ(Body(0), "<p>secure</p>");
  EXPECT_TRUE(Body(1) == big) << "big body: " << Body(1).size() << " bytes of " << big.size();

  Response plain = Get("GET /index.html HTTP/1.0\r\n\r\n");
  EXPECT_EQ(plain.code, 200);
  EXPECT_EQ(plain.body, "<p>secure</p>");

  // Plain HTTP spoken to the TLS port is a failed handshake: a trace line,
  // and the connection closes.
  Client wrong(ssl_port_);
  ASSERT_TRUE(wrong.Send("GET /index.html HTTP/1.0\r\n\r\n"));
  EXPECT_TRUE(wrong.ClosedWithin(5000));
  EXPECT_TRUE(Logged("TLS handshake with 127.0.0.1 failed"));
}

TEST_F(TlsServerTest, TakenTlsPortIsReportedAndPlainHttpStillServes) {
  WriteFile("index.html", "page");
  Socket taken;
  ASSERT_TRUE(taken.CreateAndBind(true, ssl_port_, 0));
  ASSERT_TRUE(taken.Listen(1));
  StartServer();
  EXPECT_EQ(engine().bound_ssl_port(), 0);
  EXPECT_TRUE(Logged("Unable to listen for HTTPS on port " + std::to_string(ssl_port_)));
  EXPECT_EQ(Get("GET /index.html HTTP/1.0\r\n\r\n").code, 200);
}

TEST_F(TlsServerTest, ClientsNameChoosesCertificateAndOtherServersHostIsMisdirected) {
  fs::create_directories(root() / "BETA");
  std::ofstream(root() / "BETA" / "index.html") << "beta's page";
  WriteFile("index.html", "alpha's page");
  VirtualServerConfig beta = settings().virtual_servers[0];
  UseSsl(beta, "beta.test", "beta");
  beta.doc_root = (root() / "BETA").string();
  settings().virtual_servers.push_back(beta);
  StartServer();

  EXPECT_EQ(Subject("alpha.test"), "alpha.test first");
  EXPECT_EQ(Subject("BETA.test"), "beta.test first");
  EXPECT_EQ(Subject("unknown.test"), "alpha.test first");  // the first server's

  EXPECT_EQ(Curl("beta.test", {"/index.html"}), "200 1\n");
  EXPECT_EQ(Body(0), "beta's page");
  EXPECT_EQ(Curl("alpha.test", {"/index.html"}), "200 1\n");
  EXPECT_EQ(Body(0), "alpha's page");

  // A connection made for alpha.test asking for beta.test.
  EXPECT_EQ(Curl("alpha.test", {"/index.html"}, "-H 'Host: beta.test'"), "421 1\n");
  EXPECT_NE(Slurp(certs_ / "headers.txt").find("421 Misdirected Request"), std::string::npos);
  EXPECT_EQ(Body(0).find("beta's page"), std::string::npos);
  // A Host that names no server is dispatched as ever.
  EXPECT_EQ(Curl("alpha.test", {"/index.html"}, "-H 'Host: nowhere.test'"), "200 1\n");
}

TEST_F(TlsServerTest, KeyOfAnotherCertificateIsReportedAndTheRestKeepsServing) {
  WriteFile("index.html", "page");
  settings().virtual_servers[0].server_private_key = (certs_ / "beta.key").string();
  VirtualServerConfig beta = settings().virtual_servers[0];
  UseSsl(beta, "beta.test", "beta");
  settings().virtual_servers.push_back(beta);
  StartServer();

  EXPECT_TRUE(Logged("\"alpha.test\"", (certs_ / "beta.key").string()) ||
              Logged("\"alpha.test\"", (certs_ / "alpha.pem").string()))
      << "no error line names the server and the file";
  EXPECT_EQ(Get("GET /index.html HTTP/1.0\r\n\r\n").code, 200);
  EXPECT_EQ(Curl("beta.test", {"/index.html"}), "200 1\n");
  // alpha.test has no certificate of its own now: its clients get beta's,
  // which curl refuses for the name.
  EXPECT_EQ(Subject("alpha.test"), "beta.test first");
  int status = 0;
  Curl("alpha.test", {"/index.html"}, "", &status);
  EXPECT_NE(status, 0);
}

TEST_F(TlsServerTest, RenewedCertificateIsServedAfterFlushWithoutDroppingPlainClients) {
  WriteFile("index.html", "page");
  StartServer();
  EXPECT_EQ(Subject("alpha.test"), "alpha.test first");

  Client kept(port());
  const std::string request = "GET /index.html HTTP/1.1\r\nHost: alpha.test\r\n\r\n";
  Response r;
  ASSERT_TRUE(kept.Send(request));
  ASSERT_TRUE(kept.Read(&r));
  EXPECT_EQ(r.code, 200);

  MakeCertificate("alpha", "alpha.test", "renewed");  // over the old files, as certbot does
  engine().Flush();
  EXPECT_EQ(Subject("alpha.test"), "alpha.test renewed");
  EXPECT_EQ(Curl("alpha.test", {"/index.html"}), "200 1\n");

  ASSERT_TRUE(kept.Send(request));
  ASSERT_TRUE(kept.Read(&r));
  EXPECT_EQ(r.code, 200);
}

TEST_F(TlsServerTest, StalledHandshakesAreClosedAfterRecvTimeOutWithoutHoldingThreads) {
  constexpr uint32_t kRecvTimeoutMs = 1500;
  WriteFile("index.html", "page");
  settings().num_threads = kMinThreads;
  settings().recv_timeout = kRecvTimeoutMs;
  StartServer();

  // More stalled clients than threads: half say nothing, half send the
  // start of a ClientHello that announces far more than comes.
  const uint32_t start = platform::tick_count();
  std::vector<std::unique_ptr<Client>> stalled;
  for (uint32_t i = 0; i < 2 * kMinThreads; ++i) {
    stalled.push_back(std::make_unique<Client>(ssl_port_));
    ASSERT_TRUE(stalled.back()->connected());
    if (i % 2) {
      ASSERT_TRUE(stalled.back()->Send(std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11)));
    }
  }
  EXPECT_EQ(Curl("alpha.test", {"/index.html"}), "200 1\n");
  EXPECT_LT(platform::tick_count() - start, kRecvTimeoutMs) << "a stalled handshake held a thread";

  for (auto& c : stalled) EXPECT_TRUE(c->ClosedWithin(kRecvTimeoutMs + 3000));
  const uint32_t took = platform::tick_count() - start;
  EXPECT_GE(took, kRecvTimeoutMs - 100);
  EXPECT_LT(took, kRecvTimeoutMs + 3000);
  EXPECT_TRUE(Logged("TLS handshake with 127.0.0.1 failed", platform::error_message(platform::err::kWsaTimedOut)));
}

TEST_F(TlsServerTest, ScriptsAndRedirectsKnowTheRequestCameOverTls) {
  const fs::path cgi = root() / "CGI-BIN", isapi = root() / "ISAPI";
  fs::create_directories(cgi);
  fs::create_directories(isapi);
  std::ofstream(cgi / "env.sh") << "#!/bin/sh\nprintf 'Content-Type: text/plain\\r\\n\\r\\n'\n"
                                   "printf 'HTTPS=%s PORT=%s' \"$HTTPS\" \"$SERVER_PORT\"\n";
  fs::permissions(cgi / "env.sh", fs::perms::owner_all);
  const std::string probe = "probe" + fs::path(ISAPI_PROBE).extension().string();
  fs::copy_file(fs::path(platform::executable_directory()) / ISAPI_PROBE, isapi / probe);
  fs::create_directories(DocPath("sub"));
  VirtualServerConfig& vs = settings().virtual_servers[0];
  vs.cgi_bin = {{"/cgi-bin", cgi.string()}};
  vs.isapi_ext = {{"/isapi", isapi.string()}};
  vs.redirect_to_ssl = true;
  StartServer();

  // A script's answer without a length ends its connection: curl connects
  // again for the next one.
  ASSERT_EQ(Curl("alpha.test", {"/cgi-bin/env.sh", "/isapi/" + probe + "?vars", "/sub"}), "200 1\n200 1\n302 1\n");
  EXPECT_EQ(Body(0), "HTTPS=on PORT=" + std::to_string(ssl_port_));
  EXPECT_NE(Body(1).find("SERVER_PORT_SECURE=1 0 2 1\n"), std::string::npos) << Body(1);
  const std::string base = "https://alpha.test:" + std::to_string(ssl_port_);
  EXPECT_NE(Slurp(certs_ / "headers.txt").find("Location: " + base + "/sub/\r\n"), std::string::npos)
      << Slurp(certs_ / "headers.txt");

  // Plain HTTP is sent over, and the place it is sent to answers.
  Response plain = Get("GET /cgi-bin/env.sh?x=1 HTTP/1.1\r\nHost: alpha.test\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(plain.code, 301);
  EXPECT_EQ(plain.Header("Location"), base + "/cgi-bin/env.sh?x=1");
  EXPECT_EQ(Curl("alpha.test", {"/cgi-bin/env.sh?x=1"}), "200 1\n");
}

}  // namespace
}  // namespace brisvane::testing

#else  // _WIN32

TEST(TlsServerTest, NeedsRealWindows) {
  GTEST_SKIP() << "Schannel under Wine has no server side (the TLS layer's own tests show it: "
                  "SEC_E_UNSUPPORTED_FUNCTION), and these tests drive curl, python3 and openssl";
}

#endif
