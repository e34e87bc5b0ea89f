// morvel-publish's library on real folders under a temp dir: publish, verify,
// incremental runs, refusals and the manifest's atomic replacement.
#include "tools/publish/publish.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "tools/publish/body.h"
#include "tools/publish/exe_signature.h"
#include "tools/publish/packs.h"
#include "tools/publish/patches.h"
#include "tools/publish/prune.h"
#include "tools/publish/signing.h"
#include "tools/publish/tree.h"
#include "tools/publish/tree_lock.h"
#include "update/manifest.h"
#include "update/patch.h"
#include "update/sha256.h"
#include "tests/unit/test_bytes.h"

namespace {

using namespace publish;

const std::string kManifestHeaderLine = "morvel-launcher\t1\n";

class PublishTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "morvel-publish-test.XXXXXX").string();
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    root_ = templ;
    options_.out = root_ / "www";
    options_.client_dirs[0] = root_ / "otc";
    options_.client_dirs[1] = root_ / "classic";
    options_.jobs = 2;
    options_.key = root_ / "signing.key";
    std::string public_text, error;
    ASSERT_TRUE(MakeKeyPair(options_.key, public_text, error)) << error;
    ASSERT_TRUE(ParsePublicKey(public_text, key_));
    Write("otc/Morvel Global.exe", Random(300000, 1));
    Write("otc/data/things.dat", std::string(200000, 'x') + Random(1000, 2));
    Write("otc/config.otml", "volume = 7\n");
    Write("otc/empty.txt", "");
    Write("classic/Tibia.exe", Random(100000, 3));
    Write("classic/Automap/Mapa \xC3\x81gua.map", std::string(5000, 'm'));
    Write("classic/Automap/versao.txt", "1\n");
    Write("classic/copy.exe", Read("otc/Morvel Global.exe"));  // same content, one body
  }
  void TearDown() override { fs::remove_all(root_); }

  static std::string Random(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    return s;
  }
  void Write(const std::string& relative, const std::string& bytes) {
    const fs::path p = root_ / relative;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  std::string Read(const std::string& relative) {
    std::ifstream in(root_ / relative, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string ManifestText() { return Read("www/arquivos/launcher/manifest.txt"); }
  // A manifest without its signature line: ECDSA signs with a fresh random
  // nonce, so only the signature differs between two runs over the same input.
  static std::string Signed(const std::string& text) {
    std::string_view part;
    ManifestSignature signature;
    EXPECT_TRUE(SplitSignedManifest(text, part, signature));
    return std::string(part);
  }
  // The same without its serial, which every run moves on.
  static std::string SignedWithoutSerial(const std::string& text) {
    std::string part = Signed(text);
    const size_t at = part.find("\nserial\t");
    EXPECT_NE(at, std::string::npos);
    if (at != std::string::npos) part.erase(at + 1, part.find('\n', at + 1) - at);
    return part;
  }
  Manifest Published() {
    Manifest m;
    EXPECT_TRUE(ParseManifest(Signed(ManifestText()), m));
    return m;
  }
  fs::path BodyPath(const std::string& content) {
    Sha256 h;
    h.Update(content.data(), static_cast<uint32_t>(content.size()));
    return options_.out / "arquivos/launcher/files" / (h.FinishHex() + ".dl");
  }
  ExitCode Run() {
    report_ = PublishReport();
    return Publish(options_, report_);
  }
  VerifyReport Check(ExitCode expected) {
    VerifyReport v;
    EXPECT_EQ(Verify(options_.out, key_, false, v), expected);
    return v;
  }
  static bool Mentions(const std::vector<std::string>& lines, const std::string& what) {
    for (const std::string& line : lines) {
      if (line.find(what) != std::string::npos) return true;
    }
    return false;
  }

  fs::path root_;
  ManifestPublicKey key_;
  PublishOptions options_;
  PublishReport report_;
};

TEST_F(PublishTest, PublishedTreeVerifiesAndReadsBackInOrder) {
  options_.keep = {"otc:config.otml", "**/versao.txt"};
  ASSERT_EQ(Run(), kExitOk) << report_.error;
  EXPECT_EQ(report_.files, 8u);
  EXPECT_EQ(report_.bodies, 7u);  // copy.exe shares its body
  EXPECT_EQ(report_.bodies_compressed, 7u);

  Manifest m;
  ASSERT_TRUE(ParseManifest(ManifestText(), m));
  ASSERT_EQ(m.files.size(), 8u);
  const char16_t* expected[] = {u"Morvel Global.exe", u"config.otml", u"data\\things.dat", u"empty.txt",
                                u"Automap\\Mapa Água.map", u"Automap\\versao.txt", u"Tibia.exe", u"copy.exe"};
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(m.files[i].path, expected[i]) << i;
    EXPECT_EQ(m.files[i].client, i < 4 ? ClientKind::OTClient : ClientKind::Classic) << i;
    EXPECT_EQ(m.files[i].download_size, fs::file_size(options_.out / "arquivos/launcher/files" / (m.files[i].sha256 + ".dl")));
    EXPECT_EQ(m.files[i].keep_existing, i == 1 || i == 5) << i;
  }
  EXPECT_EQ(m.files[3].size, 0u);
  EXPECT_EQ(m.files[2].size, 201000u);
  EXPECT_TRUE(m.launcher_sha256.empty());
  EXPECT_LT(m.files[2].download_size, 10000u);  // the compressible file really was compressed

  const VerifyReport v = Check(kExitOk);
  EXPECT_EQ(v.files, 8u);
  EXPECT_EQ(v.bodies, 7u);
  EXPECT_TRUE(v.problems.empty());
}

TEST_F(PublishTest, BodiesAreSingleGzipMembersThatInflateToTheFile) {
  ASSERT_EQ(Run(), kExitOk) << report_.error;
  const std::string content = Read("otc/data/things.dat");
  const std::string body = [&] {
    std::ifstream in(BodyPath(content), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }();
  ASSERT_GE(body.size(), 18u);
  EXPECT_EQ(static_cast<uint8_t>(body[0]), 0x1f);
  EXPECT_EQ(static_cast<uint8_t>(body[1]), 0x8b);
  // Inflate exactly as the launcher does: windowBits 31, gzip only.
  z_stream z{};
  ASSERT_EQ(inflateInit2(&z, 31), Z_OK);
  std::string out(content.size() + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
  z.avail_in = static_cast<uInt>(body.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(inflate(&z, Z_NO_FLUSH), Z_STREAM_END);
  EXPECT_EQ(z.avail_in, 0u);  // nothing after the member
  out.resize(z.total_out);
  inflateEnd(&z);
  EXPECT_EQ(out, content);
}

TEST_F(PublishTest, RepublishingUnchangedFilesCompressesNothing) {
  ASSERT_EQ(Run(), kExitOk) << report_.error;
  const std::string first = ManifestText();
  ASSERT_EQ(Run(), kExitOk) << report_.error;
  EXPECT_EQ(report_.bodies_compressed, 0u);
  EXPECT_EQ(report_.bodies_reused, 7u);
  EXPECT_EQ(SignedWithoutSerial(ManifestText()), SignedWithoutSerial(first));

  Write("otc/config.otml", "volume = 8\n");
  ASSERT_EQ(Run(), kExitOk) << report_.error;
  EXPECT_EQ(report_.bodies_compressed, 1u);
  EXPECT_EQ(report_.bodies_reused, 6u);
  Check(kExitOk);
}

TEST_F(PublishTest, SameInputGivesTheSameBytesInAnotherTree) {
  ASSERT_EQ(Run(), kExitOk);
  const std::string first = ManifestText();
  options_.out = root_ / "www2";
  ASSERT_EQ(Run(), kExitOk);
  EXPECT_EQ(SignedWithoutSerial(Read("www2/arquivos/launcher/manifest.txt")), SignedWithoutSerial(first));
  for (const auto& entry : fs::directory_iterator(root_ / "www/arquivos/launcher/files")) {
    const std::string name = entry.path().filename().string();
    EXPECT_EQ(Read("www/arquivos/launcher/files/" + name), Read("www2/arquivos/launcher/files/" + name)) << name;
  }
}

TEST_F(PublishTest, DamagedBodyOnTheHostIsMadeAgain) {
  ASSERT_EQ(Run(), kExitOk);
  const fs::path body = BodyPath(Read("classic/Tibia.exe"));
  fs::resize_file(body, 10);
  ASSERT_EQ(Run(), kExitOk) << report_.error;
  EXPECT_EQ(report_.bodies_replaced, 1u);
  EXPECT_EQ(report_.bodies_compressed, 1u);
  Check(kExitOk);
}

TEST_F(PublishTest, EveryRefusedFileIsListedAndNothingIsWritten) {
  Write("otc/nul.txt", "x");
  Write("otc/sub/trail.", "x");
  Write("otc/sub/what?.txt", "x");
  Write("classic/Readme.txt", "x");
  Write("classic/README.txt", "y");
  Write("classic/Data", "x");
  Write("classic/data/inner.txt", "x");
  Write("otc/bad\xFFname", "x");
  fs::create_symlink("/etc/hostname", root_ / "otc/link");
  ASSERT_EQ(Run(), kExitProblems);
  EXPECT_TRUE(Mentions(report_.problems, "[otc] nul.txt: the launcher refuses this path"));
  EXPECT_TRUE(Mentions(report_.problems, "[otc] sub/trail.: the launcher refuses this path"));
  EXPECT_TRUE(Mentions(report_.problems, "[otc] sub/what?.txt: the launcher refuses this path: character Windows does not allow"));
  EXPECT_TRUE(Mentions(report_.problems, "[classic] Readme.txt: same name as \"README.txt\""));
  EXPECT_TRUE(Mentions(report_.problems, "[classic] Data: same name as the folder \"data\""));
  EXPECT_TRUE(Mentions(report_.problems, "[otc] bad\\xffname: name is not valid UTF-8"));
  EXPECT_TRUE(Mentions(report_.problems, "[otc] link: symbolic link"));
  EXPECT_EQ(report_.problems.size(), 7u);
  EXPECT_FALSE(fs::exists(options_.out));
}

TEST_F(PublishTest, ExcludedFilesAndFoldersAreLeftOut) {
  Write("otc/.git/config", "x");
  Write("otc/.git/bad:name", "x");
  Write("otc/logs/a.log", "x");
  options_.exclude = {".git", "**/*.log"};
  ASSERT_EQ(Run(), kExitOk) << report_.error;
  EXPECT_EQ(report_.files, 8u);
  EXPECT_EQ(ManifestText().find(".git"), std::string::npos);
  EXPECT_EQ(ManifestText().find("a.log"), std::string::npos);
}

TEST_F(PublishTest, FailedPublishLeavesTheOldManifestInPlace) {
  ASSERT_EQ(Run(), kExitOk);
  const std::string before = ManifestText();
  // New content whose body name is taken by a folder: the body cannot be written.
  const std::string content = "new content\n";
  Write("otc/new.txt", content);
  fs::create_directories(BodyPath(content));
  EXPECT_EQ(Run(), kExitIoError);
  EXPECT_FALSE(report_.error.empty());
  EXPECT_EQ(ManifestText(), before);
  Check(kExitOk);  // the old tree is still whole
  for (const auto& entry : fs::directory_iterator(options_.out / "arquivos/launcher")) {
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
  }
}

TEST_F(PublishTest, LauncherLinesAndFile) {
  Write("launcher.exe", Random(70000, 9));
  options_.launcher_exe = root_ / "launcher.exe";
  options_.launcher_version = 3;
  ASSERT_EQ(Run(), kExitOk) << report_.error;
  EXPECT_TRUE(report_.launcher_copied);
  Manifest m;
  ASSERT_TRUE(ParseManifest(ManifestText(), m));
  EXPECT_EQ(m.launcher_version, 3);
  EXPECT_EQ(m.launcher_size, 70000u);
  EXPECT_EQ(m.launcher_path, Utf8ToWide("/arquivos/launcher/" + LauncherFileName(3, m.launcher_sha256)));
  EXPECT_EQ(Read("www/arquivos/launcher/" + LauncherFileName(3, m.launcher_sha256)), Read("launcher.exe"));
  Check(kExitOk);
  ASSERT_EQ(Run(), kExitOk);
  EXPECT_FALSE(report_.launcher_copied);

  // Publishing without it drops the lines, with a warning.
  options_.launcher_exe.clear();
  options_.launcher_version = 0;
  ASSERT_EQ(Run(), kExitOk);
  EXPECT_TRUE(Mentions(report_.warnings, "announces launcher 3"));
  ASSERT_TRUE(ParseManifest(ManifestText(), m));
  EXPECT_EQ(m.launcher_version, 0);
}

TEST_F(PublishTest, BadOptionsAreUsageErrors) {
  PublishOptions o = options_;
  o.launcher_version = 4;  // without an exe
  EXPECT_EQ(Publish(o, report_), kExitUsage);
  o = options_;
  o.client_dirs[0].clear();
  o.client_dirs[1].clear();
  EXPECT_EQ(Publish(o, report_), kExitUsage);
  o = options_;
  o.out = root_ / "otc/www";  // would publish itself next time
  EXPECT_EQ(Publish(o, report_), kExitUsage);
  o = options_;
  o.keep = {"/abs"};
  EXPECT_EQ(Publish(o, report_), kExitUsage);
  o = options_;
  o.level = 0;
  EXPECT_EQ(Publish(o, report_), kExitUsage);
  EXPECT_FALSE(fs::exists(options_.out));
}

TEST_F(PublishTest, EitherClientMayBeLeftOut) {
  options_.client_dirs[0].clear();
  ASSERT_EQ(Run(), kExitOk);
  Manifest m;
  ASSERT_TRUE(ParseManifest(ManifestText(), m));
  ASSERT_EQ(m.files.size(), 4u);
  for (const FileEntry& e : m.files) EXPECT_EQ(e.client, ClientKind::Classic);
  fs::remove_all(root_ / "classic");
  fs::create_directories(root_ / "classic");
  EXPECT_EQ(Run(), kExitProblems);  // no file at all: players would get an unusable manifest
}

TEST_F(PublishTest, VerifyListsEveryFault) {
  Write("launcher.exe", Random(5000, 4));
  options_.launcher_exe = root_ / "launcher.exe";
  options_.launcher_version = 3;
  ASSERT_EQ(Run(), kExitOk);
  const fs::path flipped = BodyPath(Read("otc/Morvel Global.exe"));  // shared by two entries
  const fs::path truncated = BodyPath(Read("classic/Tibia.exe"));
  const fs::path trailing = BodyPath(Read("otc/config.otml"));
  const fs::path missing = BodyPath(Read("otc/data/things.dat"));
  {
    std::fstream f(flipped, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(1000);
    f.put('\x55');
  }
  fs::resize_file(truncated, fs::file_size(truncated) / 2);
  std::ofstream(trailing, std::ios::binary | std::ios::app) << "junk";
  fs::remove(missing);
  Write("www" + report_.launcher_request_path, "tampered");

  const VerifyReport v = Check(kExitProblems);
  const std::string f = flipped.filename().string(), t = truncated.filename().string(),
                    j = trailing.filename().string(), x = missing.filename().string();
  EXPECT_TRUE(Mentions(v.problems, f)) << f;
  EXPECT_TRUE(Mentions(v.problems, t + ": has")) << t;  // its size no longer matches
  EXPECT_TRUE(Mentions(v.problems, j + ": has")) << j;
  EXPECT_TRUE(Mentions(v.problems, x + ": missing")) << x;
  EXPECT_TRUE(Mentions(v.problems, "does not match the \"self\" line"));
  EXPECT_EQ(v.problems.size(), 5u);
}

TEST_F(PublishTest, VerifyInflatesLikeTheLauncher) {
  ASSERT_EQ(Run(), kExitOk);
  const std::string content = Read("classic/Automap/versao.txt");
  Digest d;
  std::string why;
  EXPECT_TRUE(InflateBody(BodyPath(content), content.size(), d, why));
  EXPECT_EQ(d.size, content.size());
  EXPECT_FALSE(InflateBody(BodyPath(content), content.size() - 1, d, why));  // more than listed
  EXPECT_NE(why.find("more than"), std::string::npos);

  // A zlib (not gzip) stream of the same content is refused, as the launcher refuses it.
  uLongf n = compressBound(static_cast<uLong>(content.size()));
  std::string zlib_body(n, '\0');
  ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(&zlib_body[0]), &n, reinterpret_cast<const Bytef*>(content.data()),
                      static_cast<uLong>(content.size()), 9), Z_OK);
  zlib_body.resize(n);
  Write("zlib.dl", zlib_body);
  EXPECT_FALSE(InflateBody(root_ / "zlib.dl", content.size(), d, why));
  EXPECT_NE(why.find("not a valid gzip stream"), std::string::npos) << why;
}

// What a launcher built with the key accepts: the signature of exactly the
// bytes before it, by that key, as the last line.
TEST_F(PublishTest, EveryManifestIsSignedAndVerifyChecksTheSignature) {
  ASSERT_EQ(Run(), kExitOk);
  const std::string good = ManifestText();
  std::string_view signed_view;
  ManifestSignature signature;
  ASSERT_TRUE(SplitSignedManifest(good, signed_view, signature));
  const std::string signed_part(signed_view);
  EXPECT_TRUE(SignatureMatches(signed_part, signature, key_));
  Check(kExitOk);

  size_t refused = 0;
  for (size_t i = 0; i < good.size(); ++i) {
    std::string flipped = good;
    flipped[i] ^= 1;
    std::string_view part;
    ManifestSignature read;
    refused += !(SplitSignedManifest(flipped, part, read) && SignatureMatches(part, read, key_));
  }
  EXPECT_EQ(refused, good.size()) << "a flipped byte anywhere is refused";

  std::string other_public, error, by_other;
  ASSERT_TRUE(MakeKeyPair(root_ / "other.key", other_public, error)) << error;
  ASSERT_TRUE(SignManifestText(root_ / "other.key", signed_part, by_other, error)) << error;
  const size_t last_line = signed_part.rfind('\n', signed_part.size() - 2) + 1;
  const std::string moved =
      signed_part.substr(0, last_line) + SignatureLine(signature) + signed_part.substr(last_line);
  const struct {
    std::string text;
    const char* fault;
  } cases[] = {
      {by_other, "does not match the key"},
      {moved, "no signature line"},
      {signed_part, "no signature line"},
  };
  for (const auto& c : cases) {
    Write("www/arquivos/launcher/manifest.txt", c.text);
    EXPECT_TRUE(Mentions(Check(kExitProblems).problems, c.fault)) << c.fault;
  }
  Write("www/arquivos/launcher/manifest.txt", good);
  Check(kExitOk);

  PublishOptions unsigned_options = options_;
  unsigned_options.key.clear();
  EXPECT_EQ(Publish(unsigned_options, report_), kExitUsage);
  unsigned_options.key = root_ / "signing.key.pub";
  EXPECT_EQ(Publish(unsigned_options, report_), kExitUsage) << "a public key cannot sign";
  EXPECT_FALSE(MakeKeyPair(options_.key, other_public, error)) << "an existing key is never replaced";
}

TEST_F(PublishTest, VerifyExplainsManifestLines) {
  ASSERT_EQ(Run(), kExitOk);
  std::string text = ManifestText();
  const std::string good = text;
  // The numbers of the lines added below.
  const auto line = [&good](size_t added) {
    return "line " + std::to_string(std::count(good.begin(), good.end(), '\n') + added) + ": ";
  };
  text += "f\totc\tabc\t1\t1\t0\n";  // six fields: ignored by the launcher
  text += "launcher\t3\n";         // newer, but no self line
  text += "p\t" + std::string(64, 'a') + "\t" + std::string(64, 'b') + "\t1\n";                  // four fields
  text += "p\t" + std::string(64, 'a') + "\t" + std::string(64, 'B') + "\t1\t/arquivos/x.dl\n";  // upper case
  Write("www/arquivos/launcher/manifest.txt", text);
  VerifyReport v = Check(kExitProblems);
  EXPECT_TRUE(Mentions(v.problems, line(1) + "\"f\" line with 6 fields"));
  EXPECT_TRUE(Mentions(v.problems, "announces launcher 3"));
  EXPECT_TRUE(Mentions(v.problems, line(3) + "\"p\" line with 4 fields"));
  EXPECT_TRUE(Mentions(v.problems, line(4) + "bad hash or path in the \"p\" line"));

  std::string crlf;
  for (char c : good) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  Write("www/arquivos/launcher/manifest.txt", crlf);
  v = Check(kExitProblems);
  EXPECT_TRUE(Mentions(v.problems, "CR LF"));
  EXPECT_TRUE(Mentions(v.problems, "rejects this manifest"));

  Write("www/arquivos/launcher/manifest.txt", good + "f\totc\t" + std::string(64, 'a') + "\t1\t1\t0\tCON\n");
  v = Check(kExitProblems);
  EXPECT_TRUE(Mentions(v.problems, line(1) + "path piece is a Windows device name"));

  fs::remove(options_.out / "arquivos/launcher/manifest.txt");
  v = Check(kExitProblems);
  EXPECT_TRUE(Mentions(v.problems, "no manifest"));
}

uint64_t Now() { return static_cast<uint64_t>(std::time(nullptr)); }

// The serial is the clock, or one past the previous serial when the clock is
// not ahead of it; it is in the signed part. An expiry only with --valid-days.
TEST_F(PublishTest, SerialOnlyGrowsAndExpiryIsOptIn) {
  const uint64_t before = Now();
  ASSERT_EQ(Run(), kExitOk) << report_.error;
  const Manifest first = Published();
  EXPECT_GE(first.serial, before);
  EXPECT_LE(first.serial, Now());
  EXPECT_EQ(report_.serial, first.serial);
  EXPECT_EQ(first.expires, 0u);
  ASSERT_EQ(Run(), kExitOk);
  EXPECT_GT(Published().serial, first.serial) << "two runs in one second still move on";

  // A previous serial ahead of the clock (set back since, or a tree rebuilt
  // from a copy): one past it. At the maximum nothing can follow.
  const std::string later = ManifestText();
  const struct {
    std::string serial;
    ExitCode code;
    uint64_t next;
  } cases[] = {{"99999999999", kExitOk, 100000000000u}, {"18446744073709551615", kExitIoError, 0}};
  for (const auto& c : cases) {
    const std::string text = kManifestHeaderLine + "serial\t" + c.serial + "\n" +
                             Signed(later).substr(Signed(later).find("\nf\t") + 1);
    Write("www/arquivos/launcher/manifest.txt", text);
    EXPECT_EQ(Run(), c.code) << c.serial;
    if (c.code == kExitOk) {
      EXPECT_EQ(Published().serial, c.next);
    } else {
      EXPECT_EQ(ManifestText(), text) << "the old manifest stays";
    }
  }

  Write("www/arquivos/launcher/manifest.txt", later);
  options_.valid_days = 3;
  const uint64_t start = Now();
  ASSERT_EQ(Run(), kExitOk) << report_.error;
  const Manifest expiring = Published();
  EXPECT_GE(expiring.expires, start + 3 * 86400);
  EXPECT_LE(expiring.expires, Now() + 3 * 86400);
  EXPECT_EQ(report_.expires, expiring.expires);
  Check(kExitOk);
}

// verify tells the serial and refuses a tree whose serial went below an older
// manifest's (a copy restored over a newer one), or whose expiry has passed.
TEST_F(PublishTest, VerifyShowsTheSerialAndRefusesGoingBack) {
  ASSERT_EQ(Run(), kExitOk);
  const std::string older = ManifestText();
  Write("older.txt", older);
  ASSERT_EQ(Run(), kExitOk);
  const std::string newer = ManifestText();
  Write("newer.txt", newer);
  uint64_t older_serial = 0, newer_serial = 0;
  std::string error;
  ASSERT_TRUE(ReadManifestSerial(root_ / "older.txt", older_serial, error)) << error;
  ASSERT_TRUE(ReadManifestSerial(root_ / "newer.txt", newer_serial, error)) << error;
  ASSERT_LT(older_serial, newer_serial);
  EXPECT_FALSE(ReadManifestSerial(root_ / "otc/config.otml", older_serial, error)) << "no manifest";
  EXPECT_FALSE(ReadManifestSerial(root_ / "none.txt", older_serial, error));

  VerifyReport v;
  EXPECT_EQ(Verify(options_.out, key_, false, v, {}, older_serial), kExitOk);
  EXPECT_EQ(v.serial, newer_serial);
  EXPECT_EQ(Verify(options_.out, key_, false, v, {}, newer_serial), kExitOk) << "an equal serial is fine";
  Write("www/arquivos/launcher/manifest.txt", older);
  EXPECT_EQ(Verify(options_.out, key_, false, v, {}, newer_serial), kExitProblems);
  EXPECT_TRUE(Mentions(v.problems, "is lower than " + std::to_string(newer_serial))) << v.problems.size();
  EXPECT_EQ(v.problems.size(), 1u);

  Manifest expired = Published();
  expired.expires = Now() - 3600;
  std::string text;
  ASSERT_TRUE(SignManifestText(options_.key, FormatManifest(expired), text, error)) << error;
  Write("www/arquivos/launcher/manifest.txt", text);
  EXPECT_EQ(Verify(options_.out, key_, false, v), kExitProblems);
  EXPECT_TRUE(Mentions(v.problems, "expired 1 hours ago"));
  EXPECT_EQ(v.expires, expired.expires);
}

TEST(PublishGlob, MatchesLikeTheHelpSays) {
  const struct {
    const char* glob;
    const char* path;
    bool match;
  } cases[] = {
      {"config.otml", "config.otml", true},   {"config.otml", "sub/config.otml", false},
      {"*.cfg", "a.cfg", true},               {"*.cfg", "d/a.cfg", false},
      {"**/*.cfg", "a.cfg", true},            {"**/*.cfg", "d/e/a.cfg", true},
      {"d/**", "d/e/f", true},                {"d/**", "dx/e", false},
      {"d/**/x", "d/x", true},                {"d/**/x", "d/a/b/x", true},
      {"d/**/x", "d/a/bx", false},            {"a?c", "abc", true},
      {"a?c", "a/c", false},                  {"a?c", "a\xC3\xA1" "c", true},
      {"*", "", true},                        {"**", "a/b", true},
      {"a*b*c", "axxbyyc", true},             {"a*b*c", "axxbyy", false},
  };
  for (const auto& c : cases) EXPECT_EQ(GlobMatch(c.glob, c.path), c.match) << c.glob << " ~ " << c.path;
  PathPattern p;
  std::string error;
  ASSERT_TRUE(ParsePattern("classic:Automap/*.map", p, error));
  EXPECT_TRUE(PatternMatches(p, 1, "Automap/a.map"));
  EXPECT_FALSE(PatternMatches(p, 0, "Automap/a.map"));
  EXPECT_FALSE(ParsePattern("otc:", p, error));
  EXPECT_FALSE(ParsePattern("a\\b", p, error));
}

// A file past 4 GiB: sizes and the gzip trailer's 32-bit length wrap. Slow
// (several GB hashed, compressed and inflated), so only with MORVEL_SLOW_TESTS=1.
TEST_F(PublishTest, FilePastFourGiB) {
  if (!std::getenv("MORVEL_SLOW_TESTS")) GTEST_SKIP() << "set MORVEL_SLOW_TESTS=1";
  fs::remove_all(root_ / "classic");
  options_.client_dirs[1].clear();
  const uint64_t size = (uint64_t{1} << 32) + 12345;
  {
    std::ofstream(root_ / "otc/big.bin").put('\0');
    fs::resize_file(root_ / "otc/big.bin", size);  // sparse zeros
    std::fstream f(root_ / "otc/big.bin", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(size - 1));
    f.put('!');
  }
  options_.level = 1;
  ASSERT_EQ(Run(), kExitOk) << report_.error;
  Manifest m;
  ASSERT_TRUE(ParseManifest(ManifestText(), m));
  EXPECT_EQ(m.files[1].path, u"big.bin");
  EXPECT_EQ(m.files[1].size, size);
  Check(kExitOk);
}

}  // namespace

namespace {

// Sprite-like content: 2 MiB of records that gzip cannot shrink.
class PublishPatchTest : public PublishTest {
 protected:
  void SetUp() override {
    PublishTest::SetUp();
    big_ = Random(2 << 20, 21);
    Write("otc/data/sprites.spr", big_);
    Write("classic/Tibia.spr", Random(1 << 20, 22));
  }
  Manifest Published() {
    Manifest m;
    EXPECT_TRUE(ParseManifest(ManifestText(), m));
    return m;
  }
  fs::path PatchFile(const PatchEntry& p) { return options_.out / WideToUtf8(p.path).substr(1); }
  std::string big_;
};

TEST_F(PublishPatchTest, ChangedBigFilesGetPatchesThatRebuildThem) {
  ASSERT_EQ(Run(), kExitOk) << report_.error;
  EXPECT_EQ(report_.patches, 0u);  // nothing earlier to patch from
  std::string v2 = big_;
  v2.replace(100000, 4000, Random(4000, 23));
  v2.insert(1500000, Random(3000, 24));
  Write("otc/data/sprites.spr", v2);
  Write("classic/Tibia.spr", Random(1 << 20, 25));              // rewritten: a patch would be the whole file
  Write("otc/config.otml", "volume = 9\n");                      // under 1 MiB: no patch
  ASSERT_EQ(Run(), kExitOk) << report_.error;
  EXPECT_EQ(report_.patches, 1u);
  EXPECT_EQ(report_.patches_made, 1u);
  EXPECT_EQ(report_.patches_not_worth_it, 1u);

  Manifest m = Published();
  ASSERT_EQ(m.patches.size(), 1u);
  const PatchEntry p = m.patches[0];
  EXPECT_EQ(p.base_sha256, Sha(big_));
  EXPECT_EQ(p.sha256, Sha(v2));
  EXPECT_EQ(WideToUtf8(p.path), "/arquivos/launcher/patches/" + Sha(big_) + "-" + Sha(v2) + ".dl");
  EXPECT_EQ(p.download_size, fs::file_size(PatchFile(p)));
  EXPECT_LT(p.download_size, 12000u);
  Digest inflated;
  std::string why, patch, rebuilt;
  ASSERT_TRUE(InflateBody(PatchFile(p), UINT64_MAX, inflated, why, nullptr, &patch)) << why;
  ASSERT_TRUE(ApplyPatch(big_, patch, v2.size(), rebuilt));
  EXPECT_TRUE(rebuilt == v2);
  const VerifyReport v = Check(kExitOk);
  EXPECT_EQ(v.patches, 1u);

  // An unchanged run keeps the patch for players still on the first version.
  ASSERT_EQ(Run(), kExitOk) << report_.error;
  EXPECT_EQ(report_.patches, 1u);
  EXPECT_EQ(report_.patches_made, 0u);
  EXPECT_EQ(Published().patches.size(), 1u);

  // The next version patches from this one only.
  std::string v3 = v2;
  v3[5] ^= 1;
  Write("otc/data/sprites.spr", v3);
  ASSERT_EQ(Run(), kExitOk) << report_.error;
  m = Published();
  ASSERT_EQ(m.patches.size(), 1u);
  EXPECT_EQ(m.patches[0].base_sha256, Sha(v2));
  EXPECT_EQ(m.patches[0].sha256, Sha(v3));
  EXPECT_EQ(Check(kExitOk).unreferenced_bodies, 3u);  // the first sprites, Tibia.spr and config
}

TEST_F(PublishPatchTest, VerifyAppliesEveryPatchToItsBase) {
  ASSERT_EQ(Run(), kExitOk) << report_.error;
  std::string v2 = big_;
  v2[2000] ^= 1;
  Write("otc/data/sprites.spr", v2);
  ASSERT_EQ(Run(), kExitOk) << report_.error;
  const PatchEntry p = Published().patches.at(0);
  EXPECT_EQ(Check(kExitOk).unreferenced_bodies, 0u);  // the base is named by the patch

  struct Case {
    const char* name;
    std::function<void()> damage;
    const char* problem;
  };
  const std::string good = Read("www" + WideToUtf8(p.path));
  const fs::path base = BodyPath(big_);
  const std::string base_body = Read("www/arquivos/launcher/files/" + base.filename().string());
  const Case cases[] = {
      {"a damaged patch",
       [&] {
         std::string bad = good;
         bad[good.size() / 2] ^= 0x55;
         Write("www" + WideToUtf8(p.path), bad);
       },
       "not a valid patch"},
      {"a base with other content",
       [&] {
         std::string other = big_;
         other[500000] ^= 1;
         Write("www/arquivos/launcher/files/" + base.filename().string(), Gzip(other));
       },
       "does not give the file"},
      {"a patch cut short", [&] { fs::resize_file(PatchFile(p), good.size() - 1); }, "bytes, the manifest says"},
      {"no patch", [&] { fs::remove(PatchFile(p)); }, ": missing"},
      {"no base", [&] { fs::remove(base); }, "cannot be checked"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.damage();
    const VerifyReport v = Check(kExitProblems);
    EXPECT_TRUE(Mentions(v.problems, c.problem)) << (v.problems.empty() ? "" : v.problems[0]);
    Write("www" + WideToUtf8(p.path), good);
    Write("www/arquivos/launcher/files/" + base.filename().string(), base_body);
  }
  Check(kExitOk);
}

// Three versions: config.otml changes in each, sprites.spr in the second (its
// patch from the first stays in the third). Beside them a body no manifest ever
// named. Everything is dated two days back unless a case says otherwise.
class PruneTest : public PublishPatchTest {
 protected:
  void SetUp() override {
    PublishPatchTest::SetUp();
    options_.level = 1;
    options_.packs = PacksInTree();
    for (int v = 1; v <= 3; ++v) {
      Write("otc/config.otml", Config(v));
      if (v == 2) Write("otc/data/sprites.spr", std::string(big_).replace(1000, 10, "0123456789"));
      ASSERT_EQ(Run(), kExitOk) << report_.error;
    }
    Write("www/" + Body("orphan"), Gzip("orphan"));
    fs::copy(options_.out, root_ / "www-saved", fs::copy_options::recursive);
  }
  virtual bool PacksInTree() const { return false; }
  static std::string Config(int v) { return "volume = " + std::to_string(v) + "\n"; }
  static std::string Body(const std::string& content) { return "arquivos/launcher/files/" + Sha(content) + ".dl"; }
  void Date(const std::string& relative, std::chrono::hours ago) {
    fs::last_write_time(options_.out / relative, fs::file_time_type::clock::now() - ago);
  }
  // The tree as SetUp left it, every file two days old.
  void Restore() {
    fs::remove_all(options_.out);
    fs::copy(root_ / "www-saved", options_.out, fs::copy_options::recursive);
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(options_.out)) {
      if (e.is_regular_file()) Date(e.path().lexically_relative(options_.out).string(), std::chrono::hours(48));
    }
  }
  std::set<std::string> Files() {
    std::set<std::string> all;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(options_.out)) {
      if (e.is_regular_file()) all.insert(e.path().lexically_relative(options_.out).string());
    }
    return all;
  }
};

TEST_F(PruneTest, DeletesOnlyWhatNoRecentManifestNamesAndIsOld) {
  using std::chrono::hours;
  const std::string c1 = Body(Config(1)), c2 = Body(Config(2)), orphan = Body("orphan");
  const std::string h1 = "manifest-history/00000001.txt", h2 = "manifest-history/00000002.txt";
  struct Case {
    const char* name;
    unsigned keep;
    hours min_age;
    std::vector<std::string> young;  // dated an hour back
    std::set<std::string> gone;
  };
  const Case cases[] = {
      {"the current manifest only, any age", 1, hours(0), {}, {c1, c2, orphan, h1, h2}},
      {"the current one and the one before", 2, hours(24), {}, {c1, orphan, h1}},
      {"three manifests", 3, hours(24), {}, {orphan}},
      {"a young unnamed body stays", 1, hours(24), {c2, orphan}, {c1, h1, h2}},
      {"a manifest replaced an hour ago still protects its files", 1, hours(24), {h2}, {c1, orphan, h1}},
  };
  for (const bool dry_run : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (dry_run ? ", dry run" : ""));
      Restore();
      for (const std::string& f : c.young) Date(f, hours(1));
      const std::set<std::string> before = Files();
      PruneReport report;
      ASSERT_EQ(Prune(PruneOptions{options_.out, c.keep, c.min_age, dry_run}, report), kExitOk);
      std::set<std::string> listed;
      uint64_t bytes = 0;
      for (const PrunedFile& f : report.removed) {
        listed.insert(f.path);
        bytes += fs::file_size(root_ / "www-saved" / f.path);
      }
      EXPECT_EQ(listed, c.gone);
      EXPECT_EQ(report.bytes, bytes);
      std::set<std::string> left = before;
      if (!dry_run) {
        for (const std::string& f : c.gone) left.erase(f);
      }
      EXPECT_EQ(Files(), left);
      Check(kExitOk);  // every current body, patch and patch base still there
    }
  }
}

// The same three versions published with packs: each config.otml edit makes a
// new pack of the small files around it.
class PrunePacksTest : public PruneTest {
 protected:
  bool PacksInTree() const override { return true; }
  std::set<std::string> Packs() {
    std::set<std::string> packs;
    for (const std::string& f : Files()) {
      if (f.rfind("arquivos/launcher/packs/", 0) == 0) packs.insert(f);
    }
    return packs;
  }
};

TEST_F(PrunePacksTest, PacksOnlyOlderManifestsNamedGoWithThem) {
  Restore();
  Manifest current;
  ASSERT_TRUE(ParseManifest(ManifestText(), current));
  ASSERT_FALSE(current.packs.empty());
  const std::set<std::string> all = Packs();
  ASSERT_GT(all.size(), current.packs.size()) << "the earlier versions' packs lie beside the current ones";
  PruneReport report;
  ASSERT_EQ(Prune(PruneOptions{options_.out, 3, std::chrono::hours(24), false}, report), kExitOk);
  EXPECT_EQ(Packs(), all) << "three manifests name every pack";
  ASSERT_EQ(Prune(PruneOptions{options_.out, 1, std::chrono::hours(24), false}, report), kExitOk);
  std::set<std::string> named;
  for (const PackEntry& pack : current.packs) named.insert(WideToUtf8(pack.path).substr(1));
  EXPECT_EQ(Packs(), named);
  Check(kExitOk);  // every current pack still there and whole
}

TEST_F(PruneTest, RefusesATreeItCannotReadSafely) {
  TreeLock publishing;  // as every publish holds it
  const struct {
    const char* name;
    std::function<void()> spoil;
    const char* problem;
  } cases[] = {
      {"a publish in progress", [&] { Write("www/arquivos/launcher/files/.x.dl.123.tmp", "x"); }, "publish in progress"},
      {"no manifest", [&] { fs::remove(options_.out / "arquivos/launcher/manifest.txt"); }, "no manifest"},
      {"a rejected manifest", [&] { Write("www/arquivos/launcher/manifest.txt", "morvel-launcher\t2\n"); }, "no manifest"},
      {"a copy that is no manifest", [&] { Write("www/manifest-history/00000002.txt", "x"); }, "00000002.txt"},
      {"a publish holding the tree", [&] {
         bool busy;
         std::string error;
         ASSERT_TRUE(publishing.Take(options_.out, TreeLock::Mode::Shared, busy, error)) << error;
       }, "a publish is running"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Restore();
    c.spoil();
    const std::set<std::string> before = Files();
    PruneReport report;
    EXPECT_EQ(Prune(PruneOptions{options_.out, 2, std::chrono::hours(0), false}, report), kExitProblems);
    EXPECT_TRUE(Mentions(report.problems, c.problem)) << (report.problems.empty() ? "" : report.problems[0]);
    EXPECT_TRUE(report.removed.empty());
    EXPECT_EQ(Files(), before);
  }
}

TEST_F(PruneTest, PublishKeepsEachReplacedManifestOnce) {
  // SetUp published three versions: two were replaced.
  EXPECT_EQ(Files().count("manifest-history/00000003.txt"), 0u);
  Manifest first;
  ASSERT_TRUE(ParseManifest(Read("www/manifest-history/00000001.txt"), first));
  bool names_first_config = false;
  for (const FileEntry& e : first.files) names_first_config |= e.sha256 == Sha(Config(1));
  EXPECT_TRUE(names_first_config);
  ASSERT_EQ(Run(), kExitOk) << report_.error;  // nothing changed but the serial: no copy of the same list
  EXPECT_EQ(Files().count("manifest-history/00000003.txt"), 0u);
  const std::string current = ManifestText();
  Write("otc/config.otml", Config(4));
  ASSERT_EQ(Run(), kExitOk) << report_.error;
  EXPECT_EQ(Signed(Read("www/manifest-history/00000003.txt")), Signed(current));
}

}  // namespace

namespace {

// The smallest PE32 image osslsigncode signs: headers and one section holding a ret.
std::string TinyExe() {
  std::string pe(0x400, '\0');
  auto put = [&](size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) pe[at + i] = static_cast<char>(value >> (8 * i));
  };
  pe[0] = 'M', pe[1] = 'Z';
  put(0x3c, 0x40, 4);
  pe.replace(0x40, 4, std::string("PE\0\0", 4));
  const uint32_t coff[][2] = {{0x14c, 2}, {1, 2}, {0, 4}, {0, 4}, {0, 4}, {0xE0, 2}, {0x0102, 2}};
  // The optional header: magic, linker, code sizes, entry, bases, image base,
  // alignments, versions, image and header sizes, checksum, GUI subsystem,
  // stack and heap, loader flags, 16 (empty) data directories.
  const uint32_t optional[][2] = {{0x10b, 2}, {0, 2},      {0x200, 4},   {0, 4},      {0, 4},       {0x1000, 4},
                                  {0x1000, 4}, {0x1000, 4}, {0x400000, 4}, {0x1000, 4}, {0x200, 4},   {4, 2},
                                  {0, 2},      {0, 2},      {0, 2},      {4, 2},      {0, 2},       {0, 4},
                                  {0x2000, 4}, {0x200, 4},  {0, 4},      {2, 2},      {0, 2},       {0x100000, 4},
                                  {0x1000, 4}, {0x100000, 4}, {0x1000, 4}, {0, 4},    {16, 4}};
  size_t at = 0x44;
  for (const auto& [value, bytes] : coff) put(at, value, bytes), at += bytes;
  for (const auto& [value, bytes] : optional) put(at, value, bytes), at += bytes;
  at = 0x44 + 20 + 0xE0;
  pe.replace(at, 5, ".text");
  const uint32_t section[] = {0x200, 0x1000, 0x200, 0x200, 0, 0, 0};
  for (size_t i = 0; i < 7; ++i) put(at + 8 + 4 * i, section[i], 4);
  put(at + 36, 0x60000020, 4);
  pe[0x200] = static_cast<char>(0xC3);
  return pe;
}

class SignedLauncherTest : public PublishTest {
 protected:
  void SetUp() override {
    PublishTest::SetUp();
    const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj '/CN=Morvel test signer' "
                             "-addext keyUsage=critical,digitalSignature -addext extendedKeyUsage=codeSigning -keyout '" +
                             (root_ / "sign.key").string() + "' -out '" + (root_ / "sign.pem").string() + "' 2>/dev/null";
    ASSERT_EQ(std::system(make.c_str()), 0);
    Write("launcher.exe", TinyExe());
    options_.launcher_exe = root_ / "launcher.exe";
    options_.launcher_version = 3;
    options_.launcher_signing = ExeSigning{root_ / "sign.pem", root_ / "sign.key", ""};
  }
  fs::path PublishedExe() {
    Manifest m;
    EXPECT_TRUE(ParseManifest(ManifestText(), m));
    return options_.out / WideToUtf8(m.launcher_path).substr(1);
  }
  bool TempLeft() {
    for (const auto& e : fs::directory_iterator(options_.out / "arquivos/launcher")) {
      if (IsTempName(e.path().filename().string())) return true;
    }
    return false;
  }
};

TEST_F(SignedLauncherTest, TheSignedExeIsWhatIsHashedAndPublished) {
  ASSERT_EQ(CheckExeSignature(options_.launcher_exe, {}).state, ExeSignatureState::Unsigned);
  ASSERT_EQ(Run(), kExitOk) << report_.error;
  EXPECT_TRUE(report_.launcher_signed);
  EXPECT_FALSE(TempLeft());
  const fs::path exe = PublishedExe();
  const std::string published = Read(exe.lexically_relative(root_).string());
  EXPECT_GT(published.size(), TinyExe().size());  // the signature is inside
  Manifest m;
  ASSERT_TRUE(ParseManifest(ManifestText(), m));
  EXPECT_EQ(m.launcher_sha256, Sha(published));
  const ExeSignatureCheck check = CheckExeSignature(exe, root_ / "sign.pem");
  EXPECT_EQ(check.state, ExeSignatureState::Valid);
  EXPECT_NE(check.signer.find("Morvel test signer"), std::string::npos) << check.signer;
  EXPECT_FALSE(check.timestamped);

  VerifyReport v;
  EXPECT_EQ(Verify(options_.out, key_, false, v, root_ / "sign.pem"), kExitOk);
  EXPECT_TRUE(Mentions(v.warnings, "without a timestamp"));
  EXPECT_TRUE(Mentions(Check(kExitProblems).problems, "chains to no trusted CA"));  // not among the system's CAs

  std::string tampered = published;
  tampered[0x200] = static_cast<char>(0x90);
  Write("tampered.exe", tampered);
  EXPECT_EQ(CheckExeSignature(root_ / "tampered.exe", root_ / "sign.pem").state, ExeSignatureState::Tampered);

  options_.launcher_signing = ExeSigning();
  Write("launcher.exe", TinyExe() + "v2");
  ASSERT_EQ(Run(), kExitOk) << report_.error;
  EXPECT_TRUE(Mentions(Check(kExitOk).warnings, "not signed"));
}

TEST_F(SignedLauncherTest, SigningThatCannotWorkPublishesNothing) {
  const struct {
    const char* name;
    std::function<void(PublishOptions&)> set;
    ExitCode code;
    const char* error;
  } cases[] = {
      {"a certificate without its key", [](PublishOptions& o) { o.launcher_signing.key.clear(); }, kExitUsage, "go together"},
      {"signing without a launcher", [](PublishOptions& o) { o.launcher_exe.clear(), o.launcher_version = 0; }, kExitUsage,
       "--launcher EXE"},
      {"a missing key file", [&](PublishOptions& o) { o.launcher_signing.key = root_ / "none.key"; }, kExitUsage, "not a file"},
      {"the certificate as the key", [&](PublishOptions& o) { o.launcher_signing.key = root_ / "sign.pem"; }, kExitIoError,
       "osslsigncode could not sign"},
      {"a time-stamping service that does not answer",
       [](PublishOptions& o) { o.launcher_signing.timestamp_url = "http://127.0.0.1:9/"; }, kExitIoError, "timestamp"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PublishOptions o = options_;
    c.set(o);
    PublishReport report;
    EXPECT_EQ(Publish(o, report), c.code);
    EXPECT_NE(report.error.find(c.error), std::string::npos) << report.error;
    EXPECT_FALSE(fs::exists(options_.out / "arquivos/launcher/manifest.txt"));
    if (fs::exists(options_.out / "arquivos/launcher")) EXPECT_FALSE(TempLeft());
  }
}

}  // namespace

namespace {

// Seventy small files of 30-200 KiB that gzip cannot shrink (about 8 MiB, so
// several packs), and a big one that comes alone.
class PublishPackTest : public PublishTest {
 protected:
  void SetUp() override {
    PublishTest::SetUp();
    for (unsigned i = 0; i < 70; ++i) {
      Write("otc/ui/" + std::to_string(100 + i) + ".png", Random(30000 + (i * 7919) % 170000, 100 + i));
    }
    Write("otc/data/big.spr", Random(1200000, 99));
  }
  Manifest Published() {
    Manifest m;
    EXPECT_TRUE(ParseManifest(ManifestText(), m));
    return m;
  }
  fs::path PackFile(const PackEntry& p) { return options_.out / WideToUtf8(p.path).substr(1); }
  std::set<std::string> PackNames() {
    std::set<std::string> names;
    for (const PackEntry& p : Published().packs) names.insert(p.sha256);
    return names;
  }
};

TEST_F(PublishPackTest, SmallBodiesGoInPacksByteForByte) {
  ASSERT_EQ(Run(), kExitOk) << report_.error;
  const Manifest m = Published();
  ASSERT_GE(m.packs.size(), 2u);
  EXPECT_EQ(report_.packs, m.packs.size());
  EXPECT_EQ(report_.packs_made, m.packs.size());
  std::map<std::pair<int, std::string>, const FileEntry*> files;
  for (const FileEntry& e : m.files) files[{static_cast<int>(e.client), e.sha256}] = &e;
  size_t members = 0;
  for (const PackEntry& p : m.packs) {
    EXPECT_LE(p.size, kPackMaxSize);
    const std::string bytes = Read(PackFile(p).lexically_relative(root_).string());
    ASSERT_EQ(bytes.size(), p.size);
    Sha256 h;
    h.Update(bytes.data(), static_cast<uint32_t>(bytes.size()));
    EXPECT_EQ(h.FinishHex(), p.sha256) << "named by its bytes";
    uint64_t end = 0;
    for (const PackMember& member : p.members) {
      EXPECT_EQ(member.offset, end) << "the plain concatenation of the bodies";
      end += member.length;
      const FileEntry* e = files.at({static_cast<int>(p.client), member.sha256});
      EXPECT_LT(e->download_size, kPackMemberLimit);
      const fs::path body = options_.out / "arquivos/launcher/files" / (member.sha256 + ".dl");
      EXPECT_EQ(bytes.substr(member.offset, member.length), Read(body.lexically_relative(root_).string()));
      ++members;
    }
    EXPECT_EQ(end, p.size);
  }
  // Every small file of one client once, none of the big ones; the other
  // client has its own packs.
  std::set<std::pair<int, std::string>> contents;
  for (const FileEntry& e : m.files) {
    if (e.download_size < kPackMemberLimit) contents.insert({static_cast<int>(e.client), e.sha256});
  }
  EXPECT_GE(members + 2, contents.size()) << "all but a lone body at a client's end";
  EXPECT_EQ(Check(kExitOk).packs, m.packs.size());
}

TEST_F(PublishPackTest, AnEditRepacksOnlyAroundIt) {
  ASSERT_EQ(Run(), kExitOk) << report_.error;
  const std::set<std::string> first = PackNames();
  ASSERT_EQ(Run(), kExitOk) << report_.error;
  EXPECT_EQ(report_.packs_made, 0u) << "an unchanged re-publish reuses every pack";
  EXPECT_EQ(report_.packs_reused, first.size());
  EXPECT_EQ(PackNames(), first);

  Write("otc/ui/120.png", Random(90000, 555));
  ASSERT_EQ(Run(), kExitOk) << report_.error;
  const std::set<std::string> second = PackNames();
  size_t kept = 0;
  for (const std::string& name : second) kept += first.count(name);
  EXPECT_GE(kept + 2, first.size()) << "one edit changes one or two packs";
  EXPECT_LE(report_.packs_made, 2u);
  EXPECT_GE(report_.packs_made, 1u);
  Check(kExitOk);
}

TEST_F(PublishPackTest, VerifyInflatesEveryMember) {
  ASSERT_EQ(Run(), kExitOk) << report_.error;
  const PackEntry pack = Published().packs[0];
  const std::string relative = PackFile(pack).lexically_relative(root_).string();
  std::string bytes = Read(relative);
  const PackMember& second = pack.members[1];
  bytes[second.offset + second.length / 2] ^= 0x55;
  Write(relative, bytes);
  VerifyReport v = Check(kExitProblems);
  EXPECT_TRUE(Mentions(v.problems, "member " + second.sha256));
  EXPECT_TRUE(Mentions(v.problems, "its bytes have SHA-256"));
  EXPECT_FALSE(Mentions(v.problems, "member " + pack.members[0].sha256));

  fs::remove(PackFile(pack));
  EXPECT_TRUE(Mentions(Check(kExitProblems).problems, "pack " + WideToUtf8(pack.path) + ": missing"));
}

TEST_F(PublishPackTest, WithoutPacksNoPackLine) {
  options_.packs = false;
  ASSERT_EQ(Run(), kExitOk) << report_.error;
  EXPECT_TRUE(Published().packs.empty());
  EXPECT_FALSE(fs::exists(options_.out / "arquivos/launcher/packs"));
}

// Content-defined cuts: whatever one member does, the packs before it and
// those after the next cut stay as they were.
TEST(PublishPacks, OneChangeMovesOnlyTheCutsAroundIt) {
  std::mt19937 rng(7);
  std::vector<PackCandidate> bodies;
  for (int i = 0; i < 400; ++i) {
    char sha[65];
    std::snprintf(sha, sizeof sha, "%08x%056x", static_cast<unsigned>(rng()), 0u);
    bodies.push_back(PackCandidate{sha, 1000 + rng() % 900000});
  }
  const auto packs_of = [](const std::vector<PackCandidate>& list) {
    std::set<std::string> packs;
    for (const auto& group : GroupIntoPacks(list)) {
      std::string key;
      uint64_t bytes = 0;
      for (const size_t i : group) {
        key += list[i].sha256 + ",";
        bytes += list[i].body_size;
      }
      EXPECT_LE(bytes, kPackMaxSize);
      EXPECT_GE(group.size(), 2u);
      packs.insert(key);
    }
    return packs;
  };
  const std::set<std::string> before = packs_of(bodies);
  EXPECT_GT(before.size(), 20u);
  for (const size_t at : {0u, 57u, 200u, 399u}) {
    for (int change = 0; change < 3; ++change) {
      std::vector<PackCandidate> after = bodies;
      if (change == 0) after[at].sha256[0] = after[at].sha256[0] == 'f' ? '0' : 'f';  // an edit
      if (change == 1) after.erase(after.begin() + static_cast<long>(at));
      if (change == 2) after.insert(after.begin() + static_cast<long>(at), PackCandidate{std::string(64, '9'), 300000});
      size_t kept = 0;
      for (const std::string& p : packs_of(after)) kept += before.count(p);
      EXPECT_GE(kept + 3, before.size()) << "change " << change << " at " << at;
    }
  }
}

}  // namespace
