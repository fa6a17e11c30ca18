// SHA-256, and the Authenticode digest of a program or library image: the digest that signing
// computes and signs, so that it stays the same when the file is signed or signed again.
#include <string.h>

#include "release.h"

struct Sha256State {
  unsigned int h[8];
  unsigned char block[64];
  unsigned long long length;  // bytes hashed so far
  unsigned int used;          // bytes waiting in block
};

static const unsigned int K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

static unsigned int Rotate(unsigned int x, int n) { return (x >> n) | (x << (32 - n)); }

static void Compress(Sha256State* s, const unsigned char* p) {
  unsigned int w[64];
  for (int i = 0; i < 16; i++)
    w[i] = (unsigned int)p[4 * i] << 24 | (unsigned int)p[4 * i + 1] << 16 |
           (unsigned int)p[4 * i + 2] << 8 | p[4 * i + 3];
  for (int i = 16; i < 64; i++) {
    unsigned int s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
    unsigned int s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  unsigned int a = s->h[0], b = s->h[1], c = s->h[2], d = s->h[3];
  unsigned int e = s->h[4], f = s->h[5], g = s->h[6], h = s->h[7];
  for (int i = 0; i < 64; i++) {
    unsigned int t1 = h + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) + ((e & f) ^ (~e & g)) +
                      K[i] + w[i];
    unsigned int t2 = (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g, g = f, f = e, e = d + t1, d = c, c = b, b = a, a = t1 + t2;
  }
  s->h[0] += a, s->h[1] += b, s->h[2] += c, s->h[3] += d;
  s->h[4] += e, s->h[5] += f, s->h[6] += g, s->h[7] += h;
}

static void Begin(Sha256State* s) {
  static const unsigned int start[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  memcpy(s->h, start, sizeof start);
  s->length = 0;
  s->used = 0;
}

static void Add(Sha256State* s, const unsigned char* p, unsigned long n) {
  s->length += n;
  while (n > 0) {
    unsigned int take = 64 - s->used;
    if (take > n) take = (unsigned int)n;
    memcpy(s->block + s->used, p, take);
    s->used += take, p += take, n -= take;
    if (s->used == 64) {
      Compress(s, s->block);
      s->used = 0;
    }
  }
}

static void Finish(Sha256State* s, unsigned char* digest) {
  unsigned long long bits = s->length * 8;
  static const unsigned char pad[64] = {0x80};
  Add(s, pad, s->used < 56 ? 56 - s->used : 120 - s->used);
  unsigned char count[8];
  for (int i = 0; i < 8; i++) count[i] = (unsigned char)(bits >> (56 - 8 * i));
  Add(s, count, 8);
  for (int i = 0; i < 8; i++)
    for (int k = 0; k < 4; k++) digest[4 * i + k] = (unsigned char)(s->h[i] >> (24 - 8 * k));
}

void Sha256(const unsigned char* bytes, unsigned long size, unsigned char* digest) {
  Sha256State s;
  Begin(&s);
  Add(&s, bytes, size);
  Finish(&s, digest);
}

static unsigned long Read16(const unsigned char* p) { return p[0] | (unsigned long)p[1] << 8; }
static unsigned long Read32(const unsigned char* p) {
  return Read16(p) | Read16(p + 2) << 16;
}

// Offsets in the optional header, the same for PE32 and PE32+ up to the data directories.
#define OPT_CHECKSUM 64
#define PE32_DIRECTORY_COUNT 92
#define PE32_PLUS_DIRECTORY_COUNT 108
#define PE32_DIRECTORIES 96
#define PE32_PLUS_DIRECTORIES 112
#define CERTIFICATE_DIRECTORY 4

// Finds the checksum, the certificate table's directory entry and where the image's hashed
// bytes end (the certificate table, which must close the file). Returns 0 when the bytes are
// not a well-formed image; every offset is checked against `size` before it is read.
static int FindImageFields(const unsigned char* bytes, unsigned long size, unsigned long* checksum,
                           unsigned long* certEntry, unsigned long* end, int* signedImage) {
  if (size < 64 || bytes[0] != 'M' || bytes[1] != 'Z') return 0;
  unsigned long pe = Read32(bytes + 0x3C);
  if (pe < 64 || pe > size || size - pe < 4 + 20 + 2) return 0;
  if (memcmp(bytes + pe, "PE\0\0", 4) != 0) return 0;
  unsigned long optionalSize = Read16(bytes + pe + 4 + 16);
  unsigned long opt = pe + 24;
  unsigned long magic = Read16(bytes + opt);
  if (magic != 0x10b && magic != 0x20b) return 0;
  int plus = magic == 0x20b;
  unsigned long directories = plus ? PE32_PLUS_DIRECTORIES : PE32_DIRECTORIES;
  unsigned long fields = directories + 8 * (CERTIFICATE_DIRECTORY + 1);
  // The signature, the file header and the optional header up to the certificate entry.
  if (size - pe < 24 + fields) return 0;
  if (optionalSize < fields) return 0;
  unsigned long count = Read32(bytes + opt + (plus ? PE32_PLUS_DIRECTORY_COUNT : PE32_DIRECTORY_COUNT));
  if (count <= CERTIFICATE_DIRECTORY) return 0;
  *checksum = opt + OPT_CHECKSUM;
  *certEntry = opt + directories + 8 * CERTIFICATE_DIRECTORY;
  unsigned long tableAt = Read32(bytes + *certEntry), tableSize = Read32(bytes + *certEntry + 4);
  *signedImage = tableAt != 0 || tableSize != 0;
  *end = size;
  if (!*signedImage) return 1;
  // A table that is not the file's last bytes, or that starts among the headers' fields, is
  // not as signing writes it.
  if (tableAt == 0 || tableSize == 0 || tableAt > size || size - tableAt != tableSize) return 0;
  if (tableAt < *certEntry + 8) return 0;
  *end = tableAt;
  return 1;
}

void ImageDigest(const unsigned char* bytes, unsigned long size, unsigned char* digest) {
  unsigned long checksum, certEntry, end;
  int signedImage;
  if (!FindImageFields(bytes, size, &checksum, &certEntry, &end, &signedImage)) {
    Sha256(bytes, size, digest);
    return;
  }
  Sha256State s;
  Begin(&s);
  Add(&s, bytes, checksum);
  Add(&s, bytes + checksum + 4, certEntry - (checksum + 4));
  Add(&s, bytes + certEntry + 8, end - (certEntry + 8));
  // Signing pads an unsigned image to a multiple of 8 before it appends the table.
  static const unsigned char zeros[8] = {0};
  if (!signedImage && end % 8) Add(&s, zeros, 8 - end % 8);
  Finish(&s, digest);
}
