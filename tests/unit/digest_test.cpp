// SHA-256 against the published test vectors, and the image digest: the same for an image and
// its signed form, the whole file for anything that is not an image, and never a byte read
// outside the buffer (the sanitizers watch every cut below).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "actions/release.h"

static std::string Hex(const unsigned char* d) {
  std::string out;
  for (int i = 0; i < DIGEST_SIZE; i++) out += "0123456789abcdef"[d[i] >> 4], out += "0123456789abcdef"[d[i] & 15];
  return out;
}
static std::string Digest(const std::vector<unsigned char>& b, bool image) {
  unsigned char d[DIGEST_SIZE];
  // A copy of exactly this size: a read past it is a heap overflow.
  unsigned char* copy = new unsigned char[b.size() + 1];
  std::copy(b.begin(), b.end(), copy);
  image ? ImageDigest(copy, (unsigned long)b.size(), d) : Sha256(copy, (unsigned long)b.size(), d);
  delete[] copy;
  return Hex(d);
}
static std::vector<unsigned char> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

TEST(DigestTest, Sha256Vectors) {
  struct Row {
    std::string message;
    const char* digest;
  } rows[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Digest(Bytes(row.message), false), row.digest) << row.message.size();
    // Not an image: hashed whole.
    EXPECT_EQ(Digest(Bytes(row.message), true), row.digest) << row.message.size();
  }
}

// A PE32 or PE32+ image of `size` bytes (headers and a body of varied bytes), unsigned.
static std::vector<unsigned char> Image(bool plus, size_t size) {
  std::vector<unsigned char> b(size);
  for (size_t i = 0; i < size; i++) b[i] = (unsigned char)(i * 7 + 3);
  auto put = [&](size_t at, unsigned long v, int n) {
    for (int i = 0; i < n; i++) b[at + i] = (unsigned char)(v >> (8 * i));
  };
  put(0, 'M' | 'Z' << 8, 2), put(0x3C, 0x80, 4), put(0x80, 'P' | 'E' << 8, 4);
  put(0x80 + 20, plus ? 240 : 224, 2), put(0x98, plus ? 0x20b : 0x10b, 2);
  put(0x98 + (plus ? 108 : 92), 16, 4), put(0x98 + (plus ? 144 : 128), 0, 8);
  return b;
}
// Signed as signing does it: another checksum, zeros to a multiple of 8, the table appended
// and named in its directory entry.
static std::vector<unsigned char> Signed(std::vector<unsigned char> b, bool plus, size_t table) {
  size_t entry = 0x98 + (plus ? 144 : 128);
  b[0x98 + 64] ^= 0x5A;
  b.resize((b.size() + 7) / 8 * 8, 0);
  unsigned long at = (unsigned long)b.size();
  for (int i = 0; i < 4; i++) b[entry + i] = (unsigned char)(at >> (8 * i)), b[entry + 4 + i] = (unsigned char)(table >> (8 * i));
  b.resize(b.size() + table, 0xC3);
  return b;
}

TEST(DigestTest, ImageDigestAsSigningComputesIt) {
  for (bool plus : {false, true}) {
    for (size_t size : {1021, 1024}) {
      std::vector<unsigned char> image = Image(plus, size);
      std::string digest = Digest(image, true);
      EXPECT_NE(digest, Digest(image, false));
      // The checksum and the certificate entry and table left out, the padding counted.
      std::vector<unsigned char> hashed(image.begin(), image.end());
      size_t entry = 0x98 + (plus ? 144 : 128);
      hashed.erase(hashed.begin() + entry, hashed.begin() + entry + 8);
      hashed.erase(hashed.begin() + 0x98 + 64, hashed.begin() + 0x98 + 68);
      hashed.resize(hashed.size() + (8 - size % 8) % 8, 0);
      EXPECT_EQ(digest, Digest(hashed, false)) << plus << size;
      std::vector<unsigned char> signedImage = Signed(image, plus, 1000), again = Signed(image, plus, 24);
      EXPECT_EQ(Digest(signedImage, true), digest) << plus << size;
      EXPECT_EQ(Digest(again, true), digest);
      // A changed byte of the body, or of the headers beside the left-out fields, is seen.
      for (size_t at : {size_t(0x98 + 60), size_t(0x98 + 68), size_t(600)}) {
        std::vector<unsigned char> changed = signedImage;
        changed[at] ^= 1;
        EXPECT_NE(Digest(changed, true), digest) << at;
      }
    }
    // Malformed: each is hashed whole, and no cut reads outside the bytes.
    std::vector<unsigned char> signedImage = Signed(Image(plus, 1024), plus, 64);
    size_t entry = 0x98 + (plus ? 144 : 128);
    auto with = [&](size_t at, unsigned long v, size_t at2 = 0, unsigned long v2 = 0) {
      std::vector<unsigned char> b = signedImage;
      for (int i = 0; i < 4; i++) b[at + i] = (unsigned char)(v >> (8 * i));
      for (int i = 0; at2 && i < 4; i++) b[at2 + i] = (unsigned char)(v2 >> (8 * i));
      return b;
    };
    for (const std::vector<unsigned char>& bad :
         {with(0x3C, 0xFFFFFFF0), with(0x3C, 1020), with(0x80, 0), with(0x98, 0x30b),
          with(0x80 + 20, 100), with(0x98 + (plus ? 108 : 92), 4), with(entry, 1000),
          with(entry, 0xFFFFFFF8), with(entry + 4, 0xFFFFFFFF), with(entry, 8), with(entry + 4, 0),
          with(entry, 8, entry + 4, (unsigned long)signedImage.size() - 8)})
      EXPECT_EQ(Digest(bad, true), Digest(bad, false));
    // Every cut of the signed form has lost its table's end: hashed whole. The unsigned form
    // is an image from the certificate entry's end on.
    std::vector<unsigned char> unsignedImage = Image(plus, 1024);
    for (size_t cut = 0; cut < signedImage.size(); cut += cut < 0x140 ? 1 : 97) {
      std::vector<unsigned char> part(signedImage.begin(), signedImage.begin() + cut);
      EXPECT_EQ(Digest(part, true), Digest(part, false)) << cut;
      part.assign(unsignedImage.begin(), unsignedImage.begin() + std::min(cut, size_t(1024)));
      EXPECT_EQ(Digest(part, true) == Digest(part, false), part.size() < entry + 8) << cut;
    }
  }
}
