// Simulated signature checks: WinVerifyTrust reads the signature a file's bytes carry (see
// model_signatures.h) and answers as Wine 8 and Windows do (0, 0x800B0100 unsigned,
// 0x80096010 digest broken, 0x800B0109 a root this machine does not trust, a Win32 error when
// the file cannot be read); its state handle gives the signer's certificate until the close.
// CryptHashCertificate gives the certificate's thumbprint, GetModuleFileNameA the running
// program's path. Every call records its arguments and can be told to fail; the target of
// WinVerifyTrust is the file's path, also when it reads the file through WINTRUST_FILE_INFO's
// hFile (recorded last).
#include <string.h>

#include "machine.h"
#include "sim_win32.h"

using namespace sim;

namespace {

const char kMark[] = "\n#signed-by:";
const GUID kGenericVerify = WINTRUST_ACTION_GENERIC_VERIFY_V2;

uint64_t Fnv(const std::string& text, uint64_t seed) {
  uint64_t h = 1469598103934665603ULL ^ seed;
  for (unsigned char c : text) h = (h ^ c) * 1099511628211ULL;
  return h;
}

std::string Digest(const std::string& body, const std::string& signer) {
  return Hex(Fnv(body + '|' + signer, 0));
}

std::string CertificateOf(const std::string& signer) { return "certificate CN=" + signer; }

// The signature `contents` carry: 0 none, 1 intact, 2 digest broken; its signer and root.
int ReadSignature(const std::string& contents, std::string* signer, bool* trusted) {
  size_t at = contents.rfind(kMark);
  if (at == std::string::npos) return 0;
  std::string tail = contents.substr(at + sizeof kMark - 1);
  size_t bar1 = tail.find('|'), bar2 = tail.find('|', bar1 + 1);
  if (bar1 == std::string::npos || bar2 == std::string::npos) return 2;
  *signer = tail.substr(0, bar1);
  *trusted = tail.compare(bar1 + 1, bar2 - bar1 - 1, "T") == 0;
  return tail.substr(bar2 + 1) == Digest(contents.substr(0, at), *signer) ? 1 : 2;
}

std::string Narrow(LPCWSTR wide) {
  std::u16string text;
  for (; wide && *wide; wide++) text += (char16_t)*wide;
  bool lacking = false;
  return ToCodePage(text, M().ansiCodePage, true, &lacking);
}

LONG Answer(LONG status) {
  M().lastError = (DWORD)status;
  return status;
}

// The result of verifying the file at `path`, or the file `file` holds open when it is given
// (its path then only names it); fills the state with its signer when there is one.
LONG Verify(const std::string& path, HANDLE file, TrustState* state) {
  const FileEntry* entry = nullptr;
  if (file) {
    // The open file is read, whatever its path names by then: no sharing or access check
    // beyond the handle's own.
    HandleEntry* h = FindHandle(file, HandleKind::File);
    if (!h) return Answer(ERROR_INVALID_HANDLE);
    if (!(h->access & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA)))
      return Answer(ERROR_ACCESS_DENIED);
    entry = FileOf(*h);
    if (!entry)
      return Answer(M().modulePath.empty() && EqualNoCase(h->name, kUnarrangedImage)
                        ? TRUST_E_NOSIGNATURE : ERROR_INVALID_HANDLE);
  } else {
    std::string full = FullPath(path);
    auto it = M().files.entries.find(Lower(full));
    if (it == M().files.entries.end() || it->second.isDirectory) {
      if (M().modulePath.empty() && EqualNoCase(full, kUnarrangedImage))
        return Answer(TRUST_E_NOSIGNATURE);
      return Answer(ERROR_FILE_NOT_FOUND);
    }
    if (it->second.accessDenied) return Answer(ERROR_ACCESS_DENIED);
    if (it->second.hold == Hold::NoSharing) return Answer(ERROR_SHARING_VIOLATION);
    entry = &it->second;
  }
  std::string signer;
  bool trusted = false;
  int found = ReadSignature(entry->contents, &signer, &trusted);
  if (found == 0) return Answer(TRUST_E_NOSIGNATURE);
  if (found == 2) return Answer(TRUST_E_BAD_DIGEST);  // Wine names no signer then
  state->encoded = CertificateOf(signer);
  state->context.pbCertEncoded = (BYTE*)&state->encoded[0];
  state->context.cbCertEncoded = (DWORD)state->encoded.size();
  state->cert.pCert = &state->context;
  state->signer.csCertChain = 1;
  state->signer.pasCertChain = &state->cert;
  state->data.csSigners = 1;
  state->data.pasSigners = &state->signer;
  return trusted ? Answer(0) : Answer(CERT_E_UNTRUSTEDROOT);
}

TrustState* StateOf(HANDLE h) {
  HandleEntry* e = FindHandle(h, HandleKind::TrustState);
  return e ? &M().signatures.states[(size_t)e->id] : nullptr;
}

FARPROC Proc(LONG (*f)(HWND, GUID*, LPVOID)) { return reinterpret_cast<FARPROC>(f); }
FARPROC Proc(CRYPT_PROVIDER_DATA* (*f)(HANDLE)) { return reinterpret_cast<FARPROC>(f); }
FARPROC Proc(CRYPT_PROVIDER_SGNR* (*f)(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD)) {
  return reinterpret_cast<FARPROC>(f);
}
FARPROC Proc(BOOL (*f)(HCRYPTPROV_LEGACY, ALG_ID, DWORD, const BYTE*, DWORD, BYTE*, DWORD*)) {
  return reinterpret_cast<FARPROC>(f);
}

void Thumb(const std::string& encoded, BYTE out[32]) {
  for (int i = 0; i < 4; i++) {
    uint64_t h = Fnv(encoded, (uint64_t)i + 1);
    for (int b = 0; b < 8; b++) out[i * 8 + b] = (BYTE)(h >> (8 * b));
  }
}

}  // namespace

namespace sim {

const char* const kUnarrangedImage = "D:\\pkg\\SETUP.EXE";

void InitSignatures() {
  LibrariesModel& l = M().libraries;
  l.system["wintrust.dll"]["WinVerifyTrust"] = Proc(WinVerifyTrust);
  l.system["wintrust.dll"]["WTHelperProvDataFromStateData"] = Proc(WTHelperProvDataFromStateData);
  l.system["wintrust.dll"]["WTHelperGetProvSignerFromChain"] =
      Proc(WTHelperGetProvSignerFromChain);
  l.system["crypt32.dll"]["CryptHashCertificate"] = Proc(CryptHashCertificate);
}

std::string Signed(const std::string& body, const std::string& signer, bool trustedRoot) {
  return body + kMark + signer + (trustedRoot ? "|T|" : "|U|") + Digest(body, signer);
}

std::string Thumbprint(const std::string& signer) {
  BYTE thumb[32];
  Thumb(CertificateOf(signer), thumb);
  std::string hex;
  for (BYTE b : thumb) hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
  return hex;
}

bool SignedBy(const std::string& contents, const std::string& signer) {
  std::string found;
  bool trusted = false;
  return ReadSignature(contents, &found, &trusted) == 1 && found == signer;
}

}  // namespace sim

DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  SIM_CALL({Ptr((const void*)hModule), Dec(nSize)});
  if (call.Faulted()) return 0;
  if (hModule || !lpFilename || nSize == 0) return Fail(ERROR_INVALID_PARAMETER);
  std::string path = M().modulePath.empty() ? kUnarrangedImage : M().modulePath;
  if (path.size() >= nSize) {  // cut, and terminated, as Windows Vista and later do
    memcpy(lpFilename, path.data(), nSize - 1);
    lpFilename[nSize - 1] = '\0';
    return Fail(ERROR_INSUFFICIENT_BUFFER, nSize);
  }
  memcpy(lpFilename, path.c_str(), path.size() + 1);
  return (DWORD)path.size();
}

LONG WinVerifyTrust(HWND hwnd, GUID* pgActionID, LPVOID pWVTData) {
  WINTRUST_DATA* data = (WINTRUST_DATA*)pWVTData;
  std::string path = data && data->pFile ? Narrow(data->pFile->pcwszFilePath) : "NULL";
  SIM_CALL({path, Ptr(hwnd), data ? Hex(data->dwStateAction) : "NULL",
            data ? Hex(data->dwUIChoice) : "", data ? Hex(data->fdwRevocationChecks) : "",
            data ? Hex(data->dwProvFlags) : "",
            data && data->pFile ? Ptr(data->pFile->hFile) : "NULL"});
  if (!data || data->cbStruct != sizeof *data || !pgActionID)
    return Answer(ERROR_INVALID_PARAMETER);
  if (data->dwStateAction == WTD_STATEACTION_CLOSE) {
    // As with every release call: a reported failure still leaves the state released.
    if (FindHandle(data->hWVTStateData, HandleKind::TrustState))
      ReleaseAnyHandle(data->hWVTStateData);
    data->hWVTStateData = NULL;
    return call.Faulted(path) ? (LONG)M().lastError : 0;
  }
  if (memcmp(pgActionID, &kGenericVerify, sizeof kGenericVerify) != 0)
    return Answer(TRUST_E_PROVIDER_UNKNOWN);
  if (data->dwUnionChoice != WTD_CHOICE_FILE || !data->pFile) return Answer(ERROR_INVALID_PARAMETER);
  // The state is there whatever the answer, as under Wine: only the close releases it.
  TrustState state;
  DWORD error = 0;
  LONG status = call.FaultCode(path, &error) ? Answer((LONG)error)
                                                           : Verify(path, data->pFile->hFile, &state);
  if (data->dwStateAction == WTD_STATEACTION_VERIFY) {
    M().signatures.states.push_back(state);
    TrustState& kept = M().signatures.states.back();  // the pointers into it, made again
    if (kept.data.csSigners) {
      kept.context.pbCertEncoded = (BYTE*)&kept.encoded[0];
      kept.cert.pCert = &kept.context;
      kept.signer.pasCertChain = &kept.cert;
      kept.data.pasSigners = &kept.signer;
    }
    data->hWVTStateData = NewHandle(HandleKind::TrustState,
                                    (int64_t)M().signatures.states.size() - 1, path);
  }
  auto lastError = M().signatures.lastErrors.find(Lower(FullPath(path)));
  M().lastError = lastError != M().signatures.lastErrors.end() ? lastError->second : (DWORD)status;
  return status;
}

CRYPT_PROVIDER_DATA* WTHelperProvDataFromStateData(HANDLE hStateData) {
  SIM_CALL({Ptr(hStateData)});
  if (call.Faulted()) return nullptr;
  TrustState* state = StateOf(hStateData);
  return state ? &state->data : nullptr;
}

CRYPT_PROVIDER_SGNR* WTHelperGetProvSignerFromChain(CRYPT_PROVIDER_DATA* pProvData,
                                                    DWORD idxSigner, BOOL fCounterSigner,
                                                    DWORD idxCounterSigner) {
  SIM_CALL({Ptr(pProvData), Dec(idxSigner), Dec(fCounterSigner), Dec(idxCounterSigner)});
  if (call.Faulted()) return nullptr;
  if (!pProvData || fCounterSigner || idxSigner >= pProvData->csSigners) return nullptr;
  return &pProvData->pasSigners[idxSigner];
}

BOOL CryptHashCertificate(HCRYPTPROV_LEGACY hCryptProv, ALG_ID Algid, DWORD dwFlags,
                          const BYTE* pbEncoded, DWORD cbEncoded, BYTE* pbComputedHash,
                          DWORD* pcbComputedHash) {
  SIM_CALL({Hex(hCryptProv), Hex(Algid), Hex(dwFlags), Ptr(pbEncoded), Dec(cbEncoded)});
  if (call.Faulted()) return FALSE;
  if (Algid != CALG_SHA_256 || !pbEncoded || !pcbComputedHash) return Fail(ERROR_INVALID_PARAMETER);
  if (!pbComputedHash || *pcbComputedHash < 32) {
    bool asked = pbComputedHash == nullptr;
    *pcbComputedHash = 32;
    if (asked) return TRUE;
    return Fail(ERROR_MORE_DATA);
  }
  Thumb(std::string((const char*)pbEncoded, cbEncoded), pbComputedHash);
  *pcbComputedHash = 32;
  return TRUE;
}
