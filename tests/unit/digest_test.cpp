// SHA-256 against published vectors; the image digest the same for an image and its signed
// form, the whole file for anything else, and no byte read outside the buffer (ASan).
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "actions/release.h"

using Bytes = std::vector<unsigned char>;
static std::string Digest(Bytes b, bool image) {  // in a buffer of exactly its size
  unsigned char d[DIGEST_SIZE];
  (image ? ImageDigest : Sha256)(b.empty() ? d : b.data(), (unsigned long)b.size(), d);
  char hex[2 * DIGEST_SIZE + 1];
  for (int i = 0; i < DIGEST_SIZE; i++) snprintf(hex + 2 * i, 3, "%02x", d[i]);
  return hex;
}
static void Put(Bytes& b, size_t at, unsigned long v, int n = 4) {
  for (int i = 0; i < n; i++) b[at + i] = (unsigned char)(v >> (8 * i));
}

TEST(DigestTest, Sha256AndImageDigest) {
  for (auto [text, digest] : std::vector<std::pair<std::string, std::string>>{
           {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
           {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
           {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}})
    for (bool image : {false, true}) EXPECT_EQ(Digest(Bytes(text.begin(), text.end()), image), digest);
  for (int plus : {0, 1}) {
    size_t entry = 0x98 + (plus ? 144 : 128);  // the certificate table's directory entry
    Bytes image(1021);
    for (size_t i = 0; i < image.size(); i++) image[i] = (unsigned char)(i * 7 + 3);
    Put(image, 0, 'M' | 'Z' << 8, 2), Put(image, 0x3C, 0x80), Put(image, 0x80, 'P' | 'E' << 8);
    Put(image, 0x94, plus ? 240 : 224, 2), Put(image, 0x98, plus ? 0x20b : 0x10b, 2);
    Put(image, 0x98 + (plus ? 108 : 92), 16), Put(image, entry, 0), Put(image, entry + 4, 0);
    // Signed as signing does it: another checksum, zeros to a multiple of 8, the table after.
    Bytes signedImage = image;
    signedImage[0x98 + 64] ^= 0x5A, signedImage.resize(1064, 0xC3), Put(signedImage, entry, 1024), Put(signedImage, entry + 4, 40);
    std::fill(signedImage.begin() + 1021, signedImage.begin() + 1024, 0);
    EXPECT_EQ(Digest(signedImage, true), Digest(image, true));
    EXPECT_NE(Digest(image, true), Digest(image, false));
    // A byte beside the left-out fields changes the digest; malformed headers and tables, and
    // every cut of the signed form, are hashed whole.
    EXPECT_NE(Digest(Bytes(image.begin(), image.end() - 1), true), Digest(image, true));
    for (auto [at, v, at2, v2] : std::vector<std::array<unsigned long, 4>>{
             {0x98 + 60, 7, 0x98 + 68, 7}, {0x3C, 0xFFFFFFF0, 0, 0}, {0x3C, 1020, 0, 0}, {0x80, 0, 0, 0}, {0x98, 0x30b, 0, 0}, {0x94, 100, 0, 0},
             {0x98 + (plus ? 108ul : 92ul), 4, 0, 0}, {entry, 1000, 0, 0}, {entry, 0xFFFFFFF8, 0, 0},
             {entry + 4, 0, 0, 0}, {entry, 8, entry + 4, 1056}}) {
      Bytes bad = signedImage;
      Put(bad, at, v), at2 ? Put(bad, at2, v2) : void();
      EXPECT_EQ(Digest(bad, true) == Digest(bad, false), v != 7) << at;
      EXPECT_EQ(Digest(bad, true) == Digest(image, true), false) << at;
    }
    for (size_t cut = 0; cut < image.size(); cut += cut < 0x140 ? 1 : 97) {
      EXPECT_EQ(Digest(Bytes(&signedImage[0], &signedImage[cut]), true), Digest(Bytes(&signedImage[0], &signedImage[cut]), false));
      EXPECT_EQ(Digest(Bytes(&image[0], &image[cut]), true) == Digest(Bytes(&image[0], &image[cut]), false), cut < entry + 8) << cut;
    }
  }
}
