// The simulated Authenticode signatures: a signature travels in a file's bytes (so a copy
// carries it and a cut copy breaks it), names its signer and whether the signer's root is
// one this machine trusts. The verifications in progress are kept until their close.
#ifndef PLATFORM_SIM_MODEL_SIGNATURES_H
#define PLATFORM_SIM_MODEL_SIGNATURES_H

#include <stdint.h>

#include <deque>
#include <map>
#include <string>

#include "sim_types.h"

namespace sim {

// What one verification hands out through its state handle.
struct TrustState {
  CRYPT_PROVIDER_DATA data{};
  CRYPT_PROVIDER_SGNR signer{};
  CRYPT_PROVIDER_CERT cert{};
  CERT_CONTEXT context{};
  std::string encoded;  // the signer's certificate
};

struct SignaturesModel {
  std::deque<TrustState> states;  // by the handle's id; a closed handle frees nothing here
  // By full path in lower case: the last error a verification of the file leaves instead of its
  // answer. Windows answers TRUST_E_NOSIGNATURE also for a file it could not check, and tells
  // the two apart only by the last error.
  std::map<std::string, DWORD> lastErrors;
};

// Arranging: `body` signed by `signer` (a certificate of that name), its root trusted by this
// machine or not. Changing a byte of the body afterwards breaks the digest.
std::string Signed(const std::string& body, const std::string& signer, bool trustedRoot = true);
// Inspecting: the SHA-256 thumbprint CryptHashCertificate gives for that signer's
// certificate, in lower-case hex; and whether `contents` carry an intact signature by it.
std::string Thumbprint(const std::string& signer);
bool SignedBy(const std::string& contents, const std::string& signer);

// The program image GetModuleFileNameA names when a test has arranged none (SetRunningImage):
// a build of the installer with no file in the model, which counts as unsigned.
extern const char* const kUnarrangedImage;

}  // namespace sim

#endif
