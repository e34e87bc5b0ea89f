#include "update/sha256.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using sha256_detail::TransformFn;

struct NamedTransform {
  const char* name;
  TransformFn fn;
};

std::vector<NamedTransform> AvailableTransforms() {
  std::vector<NamedTransform> all = {{"portable", sha256_detail::TransformPortable}};
  if (sha256_detail::CpuHasShaExtensions()) all.push_back({"sha_extensions", sha256_detail::TransformShaExtensions});
  return all;
}

std::string Hash(const std::string& message, TransformFn transform) {
  Sha256 h(transform);
  h.Update(message.data(), static_cast<uint32_t>(message.size()));
  return h.FinishHex();
}

class Sha256Transforms : public ::testing::TestWithParam<NamedTransform> {
 protected:
  std::string Hash(const std::string& message) const { return ::Hash(message, GetParam().fn); }
};

TEST_P(Sha256Transforms, PublishedVectors) {
  EXPECT_EQ(Hash(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Hash("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Hash("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Hash("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrs"
                 "mnopqrstnopqrstu"),
            "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
  EXPECT_EQ(Hash(std::string(1000000, 'a')), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST_P(Sha256Transforms, FinalBlockBoundaries) {
  const std::pair<size_t, const char*> cases[] = {
      {55, "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {56, "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {63, "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
      {64, "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {65, "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
      {119, "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
      {120, "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"},
  };
  for (const auto& [length, digest] : cases) EXPECT_EQ(Hash(std::string(length, 'a')), digest) << length;
}

TEST_P(Sha256Transforms, PiecesGiveTheSameDigestAsOneCall) {
  std::string message(1000, '\0');
  for (size_t i = 0; i < message.size(); ++i) message[i] = static_cast<char>(i * 131 + 7);
  const std::string whole = Hash(message);
  for (size_t piece : {1u, 63u, 64u, 65u}) {
    Sha256 h(GetParam().fn);
    for (size_t at = 0; at < message.size(); at += piece) {
      const size_t n = std::min(piece, message.size() - at);
      h.Update(message.data() + at, static_cast<uint32_t>(n));
    }
    EXPECT_EQ(h.FinishHex(), whole) << "pieces of " << piece;
  }
  Sha256 with_empty_updates(GetParam().fn);
  with_empty_updates.Update(message.data(), 0);
  with_empty_updates.Update(message.data(), 1000);
  with_empty_updates.Update(nullptr, 0);
  EXPECT_EQ(with_empty_updates.FinishHex(), whole);
}

TEST_P(Sha256Transforms, OutputIsLowerCaseHexOf64Characters) {
  for (int n = 0; n < 40; ++n) {
    const std::string digest = Hash(std::string(n, 'x'));
    ASSERT_EQ(digest.size(), 64u);
    EXPECT_EQ(digest.find_first_not_of("0123456789abcdef"), std::string::npos) << digest;
  }
}

INSTANTIATE_TEST_SUITE_P(All, Sha256Transforms, ::testing::ValuesIn(AvailableTransforms()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Sha256, TransformsAgreeOnRandomDataInRandomPieces) {
  const auto transforms = AvailableTransforms();
  if (transforms.size() < 2) GTEST_SKIP() << "this CPU has no SHA extensions";
  std::mt19937 random(20261208);
  std::vector<uint8_t> data(1 << 20);
  for (auto& b : data) b = static_cast<uint8_t>(random());
  for (int round = 0; round < 50; ++round) {
    const size_t length = random() % data.size();
    const size_t offset = random() % (data.size() - length + 1);  // unaligned starts too
    std::vector<std::string> digests;
    for (const auto& t : transforms) {
      std::mt19937 pieces(round);
      Sha256 h(t.fn);
      for (size_t at = 0; at < length;) {
        const size_t n = std::min<size_t>(length - at, pieces() % 300000);
        h.Update(data.data() + offset + at, static_cast<uint32_t>(n));
        at += n;
      }
      digests.push_back(h.FinishHex());
    }
    EXPECT_EQ(digests[0], digests[1]) << "length " << length << " offset " << offset;
  }
}

// 4 GiB + 67 bytes of zeros: the byte count passes its low 32-bit word. The
// expected digest was taken from an independent implementation.
TEST(Sha256, MessageLongerThan4GiB) {
  std::vector<uint8_t> zeros(1 << 20);
  Sha256 h;
  for (int i = 0; i < 4096; ++i) h.Update(zeros.data(), static_cast<uint32_t>(zeros.size()));
  h.Update(zeros.data(), 67);
  EXPECT_EQ(h.FinishHex(), "79794d7c1e940aba31644d858367dc072c21c7e99f6711690f36d667f07bac6b");
}

}  // namespace
