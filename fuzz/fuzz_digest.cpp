// Any bytes as a package file: the image digest reads only inside them (the sanitizers hold
// that), and a file that is not a well-formed image is hashed whole.
#include <stdlib.h>
#include <string.h>

#include "actions/release.h"
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 20) return -1;
  // A buffer of exactly this size, so that a read past its end is caught.
  unsigned char* bytes = (unsigned char*)malloc(size ? size : 1);
  if (size) memcpy(bytes, data, size);
  unsigned char image[DIGEST_SIZE], whole[DIGEST_SIZE];
  ImageDigest(bytes, (unsigned long)size, image);
  Sha256(bytes, (unsigned long)size, whole);
  bool pe = size >= 64 && bytes[0] == 'M' && bytes[1] == 'Z';
  fuzz::Require(pe || memcmp(image, whole, DIGEST_SIZE) == 0, "a file that is no image not hashed whole");
  free(bytes);
  return 0;
}
