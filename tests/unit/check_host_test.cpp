// morvel-publish check-host against the project's nginx on loopback, set up as
// server/nginx.conf says and set up wrong one way at a time: every wrong set-up
// must be named, by exactly its own fault.
#include "tools/publish/check_host.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "tools/publish/publish.h"
#include "tools/publish/signing.h"
#include "update/manifest_signature.h"

extern char** environ;

namespace {

using namespace publish;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
void WriteAll(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
std::string Random(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}
void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  ASSERT_NE(text.find(from), std::string::npos) << from;
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

uint16_t FreePort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
  close(s);
  return ntohs(a.sin_port);
}

bool Accepts(uint16_t port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

// nginx in the foreground, as this process's child, serving `root` with
// server/nginx.conf after `edits`; stopped when it goes out of scope.
class Nginx {
 public:
  Nginx(const fs::path& dir, const fs::path& root, const std::vector<std::pair<std::string, std::string>>& edits)
      : port_(FreePort()) {
    std::string conf = ReadAll(fs::path(MORVEL_SOURCE_DIR) / "server/nginx.conf");
    const fs::path tls = dir / "tls";
    fs::create_directories(dir / "nginx/logs");
    fs::create_directories(dir / "nginx/temp");
    const std::pair<std::string, std::string> fill[] = {
        {"@LISTEN@", "127.0.0.1:" + std::to_string(port_)},
        {"@SERVER_NAME@", "localhost"},
        {"@ROOT@", root.string()},
        {"@CERT@", (tls / "server.pem").string()},
        {"@KEY@", (tls / "server.key").string()},
        {"@USER@", getpwuid(geteuid())->pw_name},
        {"@PID@", (dir / "nginx/nginx.pid").string()},
        {"@LOGS@", (dir / "nginx/logs").string()},
        {"@TEMP@", (dir / "nginx/temp").string()},
        {"worker_processes auto;", "worker_processes 1;"},
    };
    for (const auto& [from, to] : fill) ReplaceAll(conf, from, to);
    for (const auto& [from, to] : edits) ReplaceAll(conf, from, to);
    WriteAll(dir / "nginx/nginx.conf", conf);
    const std::string prefix = (dir / "nginx").string(), file = (dir / "nginx/nginx.conf").string();
    const std::string errors = (dir / "nginx/logs/error.log").string();
    const char* argv[] = {"nginx", "-q", "-p", prefix.c_str(), "-c", file.c_str(), "-e", errors.c_str(), "-g", "daemon off;", nullptr};
    if (posix_spawnp(&pid_, "nginx", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) pid_ = 0;
    for (int i = 0; pid_ && i < 100 && !Accepts(port_); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ~Nginx() {
    if (!pid_) return;
    kill(pid_, SIGTERM);
    int status;
    waitpid(pid_, &status, 0);
  }
  std::string Origin() const { return "https://localhost:" + std::to_string(port_); }
  bool Running() const { return pid_ && Accepts(port_); }

 private:
  uint16_t port_;
  pid_t pid_ = 0;
};

// One published tree of two versions (a patch between them, a launcher exe),
// and the test CA nginx's certificate comes from.
class CheckHostTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string templ = (fs::temp_directory_path() / "morvel-check-host-test.XXXXXX").string();
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    dir_ = templ;
    const std::string make_tls = "bash '" + std::string(MORVEL_SOURCE_DIR) + "/tests/support/make_tls.sh' '" +
                                 (dir_ / "tls").string() + "'";
    ASSERT_EQ(std::system(make_tls.c_str()), 0);
    PublishOptions options;
    options.out = dir_ / "tree";
    options.client_dirs[0] = dir_ / "otc";
    options.key = dir_ / "signing.key";
    options.launcher_exe = dir_ / "launcher.exe";
    options.launcher_version = 3;
    options.level = 1;
    std::string public_text, error;
    ASSERT_TRUE(MakeKeyPair(options.key, public_text, error)) << error;
    ASSERT_TRUE(ParsePublicKey(public_text, key_));
    WriteAll(options.launcher_exe, Random(50000, 1));
    WriteAll(dir_ / "otc/data/things.dat", std::string(300000, 't'));
    WriteAll(dir_ / "otc/config.otml", "volume = 7\n");
    std::string big = Random(1 << 20, 2);
    WriteAll(dir_ / "otc/data/sprites.spr", big);
    PublishReport report;
    ASSERT_EQ(Publish(options, report), kExitOk) << report.error;
    WriteAll(dir_ / "otc/data/sprites.spr", big.replace(5000, 8, "changed!"));
    ASSERT_EQ(Publish(options, report), kExitOk) << report.error;
    ASSERT_EQ(report.patches, 1u);
  }
  static void TearDownTestSuite() { fs::remove_all(dir_); }

  static fs::path Manifest(const fs::path& tree) { return tree / "arquivos/launcher/manifest.txt"; }
  // The tree's manifest with a "serial" line after its header, signed again.
  static void SetSerial(const fs::path& tree, int serial) {
    std::string_view part;
    ManifestSignature ignore;
    const std::string text = ReadAll(Manifest(tree));
    ASSERT_TRUE(SplitSignedManifest(text, part, ignore));
    std::string unsigned_text(part), signed_text, error;
    const size_t line = unsigned_text.find("\nserial\t");  // publish wrote one
    ASSERT_NE(line, std::string::npos);
    unsigned_text.replace(line + 1, unsigned_text.find('\n', line + 1) - line, "serial\t" + std::to_string(serial) + "\n");
    ASSERT_TRUE(SignManifestText(dir_ / "signing.key", unsigned_text, signed_text, error)) << error;
    WriteAll(Manifest(tree), signed_text);
  }
  static fs::path AnyBody(const fs::path& tree) {
    for (const auto& e : fs::directory_iterator(tree / "arquivos/launcher/files")) {
      if (fs::file_size(e.path()) > 1000) return e.path();
    }
    return {};
  }

  static fs::path dir_;
  static ManifestPublicKey key_;
};
fs::path CheckHostTest::dir_;
ManifestPublicKey CheckHostTest::key_;

using Edits = std::vector<std::pair<std::string, std::string>>;
const std::string kManifestCaching = "add_header Cache-Control \"no-cache, no-store, must-revalidate\" always;";
const std::string kBodyCaching = "add_header Cache-Control \"public, max-age=31536000, immutable\" always;";

TEST_F(CheckHostTest, EveryWrongSetUpIsNamedByItsOwnFault) {
  struct Case {
    const char* name;
    Edits edits;
    std::function<void(const fs::path& served, const fs::path& local)> change;  // the trees, before nginx starts
    std::set<std::string> faults;
    bool wrong_key = false;
  };
  const Case cases[] = {
      {"as server/nginx.conf says", {}, {}, {}},
      {"gzip on", {{"  gzip off;\n", "  gzip on;\n  gzip_types *;\n  gzip_min_length 1;\n"}}, {}, {"content-encoding"}},
      {"a soft 404", {{"    root " + (dir_ / "served").string() + ";\n",
                       "    root " + (dir_ / "served").string() + ";\n    error_page 404 =200 @soft;\n"
                       "    location @soft { return 200 \"<html>nada aqui</html>\"; }\n"}},
       {}, {"soft-404"}},
      {"a redirect", {{kManifestCaching, "return 302 https://cdn.example.com$request_uri;"}}, {}, {"redirect"}},
      {"no range answers", {{"  gzip off;\n", "  gzip off;\n  max_ranges 0;\n"}}, {}, {"no-range"}},
      {"a cached manifest", {{kManifestCaching, "add_header Cache-Control \"public, max-age=600\" always; add_header Age 42 always;"}},
       {}, {"manifest-cache"}},
      {"bodies cached for a minute", {{kBodyCaching, "add_header Cache-Control \"public, max-age=60\" always;"}}, {},
       {"body-cache"}},
      {"a stale manifest", {}, [](const fs::path& served, const fs::path& local) {
         SetSerial(served, 4);
         SetSerial(local, 5);
       }, {"stale-manifest"}},
      {"the manifest of an earlier publish", {}, [](const fs::path& served, const fs::path&) {
         fs::copy_file(served / "manifest-history/00000001.txt", Manifest(served), fs::copy_options::overwrite_existing);
       }, {"stale-manifest"}},
      {"another key", {}, {}, {"signature"}, true},
      {"a damaged body", {}, [](const fs::path& served, const fs::path&) {
         const fs::path body = AnyBody(served);
         std::string bytes = ReadAll(body);
         bytes[bytes.size() / 2] ^= 0x55;
         WriteAll(body, bytes);
       }, {"body-mismatch"}},
      {"a missing body", {}, [](const fs::path& served, const fs::path&) { fs::remove(AnyBody(served)); }, {"status"}},
      {"a patch of other bytes", {}, [](const fs::path& served, const fs::path&) {
         for (const auto& e : fs::directory_iterator(served / "arquivos/launcher/patches")) {
           std::string bytes = ReadAll(e.path());
           bytes.back() ^= 1;
           WriteAll(e.path(), bytes);
         }
       }, {"body-mismatch"}},
      {"another launcher exe", {}, [](const fs::path& served, const fs::path&) {
         for (const auto& e : fs::directory_iterator(served / "arquivos/launcher")) {
           if (e.path().extension() == ".exe") WriteAll(e.path(), Random(50000, 9));
         }
       }, {"body-mismatch"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path served = dir_ / "served", local = dir_ / "local";
    fs::remove_all(served);
    fs::remove_all(local);
    fs::copy(dir_ / "tree", served, fs::copy_options::recursive);
    fs::copy(dir_ / "tree", local, fs::copy_options::recursive);
    if (c.change) c.change(served, local);
    const Nginx nginx(dir_, served, c.edits);
    ASSERT_TRUE(nginx.Running()) << ReadAll(dir_ / "nginx/logs/error.log");
    CheckHostOptions options;
    options.origin = nginx.Origin();
    options.with_key = true;
    options.key = key_;
    if (c.wrong_key) options.key[5] ^= 1;
    options.tree = local;
    options.all = true;
    options.ca_file = (dir_ / "tls/ca.pem").string();
    CheckHostReport report;
    const ExitCode code = CheckHost(options, report);
    ASSERT_NE(code, kExitIoError) << report.error;
    std::set<std::string> named;
    std::string shown;
    for (const HostFault& f : report.faults) {
      EXPECT_TRUE(named.insert(f.name).second) << f.name << " named twice";
      shown += f.name + ": " + (f.examples.empty() ? "" : f.examples[0]) + "\n";
    }
    EXPECT_EQ(named, c.faults) << shown;
    EXPECT_EQ(code, c.faults.empty() ? kExitOk : kExitProblems);
  }
}

TEST_F(CheckHostTest, NoAnswerIsAnErrorOfItsOwn) {
  CheckHostOptions options;
  options.origin = "https://localhost:" + std::to_string(FreePort());
  CheckHostReport report;
  EXPECT_EQ(CheckHost(options, report), kExitIoError);
  EXPECT_NE(report.error.find("no answer"), std::string::npos) << report.error;
}

TEST(CheckHostRules, EveryFaultAndItsFixAreTheOnesTheAdminsGuideGives) {
  const std::string guide = ReadAll(fs::path(MORVEL_SOURCE_DIR) / "docs/publishing.md");
  for (const FaultKind& kind : FaultKinds()) {
    const size_t row = guide.find("| `" + std::string(kind.name) + "` |");
    ASSERT_NE(row, std::string::npos) << kind.name;
    const std::string line = guide.substr(row, guide.find('\n', row) - row);
    EXPECT_NE(line.find("| " + std::string(kind.fix) + " |"), std::string::npos) << kind.name << "\n" << line;
  }
}

TEST(CheckHostRules, ReadingsOfTheHostsWords) {
  const struct {
    const char* cache_control;
    bool long_lived;
  } caching[] = {
      {"public, max-age=31536000, immutable", true}, {"max-age=2592000", true}, {"max-age=2591999", false},
      {"public, max-age=31536000, no-cache", false}, {"private, max-age=31536000", false}, {"", false},
      {"MAX-AGE=31536000", true}, {"max-age=", false}, {"no-store", false},
  };
  for (const auto& c : caching) EXPECT_EQ(CachesForLong(c.cache_control), c.long_lived) << c.cache_control;

  const struct {
    const char* url;
    const char* origin;  // empty: refused
  } urls[] = {
      {"https://arquivos.example", "https://arquivos.example"}, {"https://arquivos.example:8443/", "https://arquivos.example:8443"},
      {"http://arquivos.example", ""}, {"https://arquivos.example/arquivos/", ""}, {"https://", ""},
      {"https://h:0", ""}, {"https://h:65536", ""}, {"https://h:", ""}, {"https://user@h", ""},
  };
  for (const auto& u : urls) {
    std::string origin;
    EXPECT_EQ(ParseOrigin(u.url, origin), u.origin[0] != 0) << u.url;
    if (u.origin[0]) EXPECT_EQ(origin, u.origin);
  }

  const struct {
    const char* text;
    bool has;
    uint64_t serial;
  } serials[] = {
      {"morvel-launcher\t1\nserial\t12\n", true, 12}, {"morvel-launcher\t1\nserial\t12", true, 12},
      {"morvel-launcher\t1\nserial\t\n", false, 0}, {"morvel-launcher\t1\nserial\t1x\n", false, 0},
      {"morvel-launcher\t1\nserials\t3\n", false, 0}, {"morvel-launcher\t1\nf\tserial\t3\n", false, 0},
  };
  for (const auto& s : serials) {
    uint64_t serial = 0;
    EXPECT_EQ(ManifestSerial(s.text, serial), s.has) << s.text;
    if (s.has) EXPECT_EQ(serial, s.serial);
  }
}

}  // namespace
