// Who signed a program and which version it is: what decides whether a new
// file may replace the running program (IsOwnRelease).
#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "update/VU.h"

namespace VULIBRARY {
namespace {

struct CertificateFree {
  void operator()(PCCERT_CONTEXT certificate) const { CertFreeCertificateContext(certificate); }
};
using Certificate = std::unique_ptr<const CERT_CONTEXT, CertificateFree>;

// The certificate that made a file's embedded Authenticode signature; null
// when the file carries none that can be read.
Certificate SignerCertificate(const std::wstring& path) {
  HCERTSTORE store = nullptr;
  HCRYPTMSG message = nullptr;
  DWORD encoding = 0, contentType = 0, formatType = 0;
  if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                        CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, &contentType, &formatType, &store, &message,
                        nullptr)) {
    return nullptr;
  }
  Certificate signer;
  DWORD size = 0;
  if (CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) && size >= sizeof(CMSG_SIGNER_INFO)) {
    std::vector<BYTE> buffer(size);
    if (CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, 0, buffer.data(), &size)) {
      const auto* info = reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data());
      CERT_INFO wanted{};
      wanted.Issuer = info->Issuer;
      wanted.SerialNumber = info->SerialNumber;
      signer.reset(CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                              CERT_FIND_SUBJECT_CERT, &wanted, nullptr));
    }
  }
  CryptMsgClose(message);
  // The certificate keeps what it needs of the store.
  CertCloseStore(store, 0);
  return signer;
}

bool SamePublisher(const CERT_CONTEXT& a, const CERT_CONTEXT& b) {
  const DWORD encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
  return CertCompareCertificateName(encoding, &a.pCertInfo->Subject, &b.pCertInfo->Subject) &&
         CertCompareCertificateName(encoding, &a.pCertInfo->Issuer, &b.pCertInfo->Issuer);
}

// The file version of VS_FIXEDFILEINFO, most significant part first.
std::optional<std::uint64_t> FileVersion(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return std::nullopt;
  std::vector<BYTE> data(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return std::nullopt;
  void* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\", &fixed, &length) || length < sizeof(VS_FIXEDFILEINFO)) return std::nullopt;
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
  if (info->dwSignature != VS_FFI_SIGNATURE) return std::nullopt;
  return (std::uint64_t(info->dwFileVersionMS) << 32) | info->dwFileVersionLS;
}

}  // namespace

bool IsOwnRelease(const std::wstring& runningProgram, const std::wstring& newPath) {
  const Certificate running = SignerCertificate(runningProgram);
  if (!running) return true;
  const Certificate candidate = SignerCertificate(newPath);
  if (!candidate || !SamePublisher(*running, *candidate)) return false;
  const std::optional<std::uint64_t> runningVersion = FileVersion(runningProgram);
  if (!runningVersion) return true;  // nothing to compare with
  const std::optional<std::uint64_t> newVersion = FileVersion(newPath);
  return newVersion && *newVersion >= *runningVersion;
}

}  // namespace VULIBRARY
