#include "update/CheckOutcome.h"

#include <cwctype>

namespace VULIBRARY {

namespace {

struct NetworkError {
  std::uint32_t code;
  const wchar_t* text;
};

// WinINet's numbers (wininet.h), kept here so that the words can be tested
// where there is no WinINet.
const NetworkError kNetworkErrors[] = {
    {12002, L"the server did not answer in time"},
    {12005, L"the address is not a valid URL"},
    {12006, L"the address names a protocol that cannot be used"},
    {12007, L"the server's name could not be found"},
    {12017, L"the request was cancelled"},
    {12029, L"no connection could be made"},
    {12030, L"the connection was closed before the reply was complete"},
    {12031, L"the connection was reset"},
    {12037, L"the server's certificate has expired or is not valid yet"},
    {12038, L"the server's certificate names another server"},
    {12044, L"the server asks for a client certificate"},
    {12045, L"the server's certificate comes from an authority that is not trusted"},
    {12152, L"the server's answer is not HTTP"},
    {12157, L"no secure connection could be set up"},
    {12169, L"the server's certificate is not valid"},
    {12175, L"the reply could not be decoded"},
};

constexpr std::uint32_t kFacilityWin32 = 7;

std::wstring Sentence(std::wstring text) {
  if (!text.empty()) text[0] = static_cast<wchar_t>(std::towupper(text[0]));
  if (text.empty() || text.back() != L'.') text += L'.';
  return text;
}

std::wstring Hex(std::uint32_t value) {
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring text = L"0x";
  for (int shift = 28; shift >= 0; shift -= 4) text += kDigits[(value >> shift) & 0xF];
  return text;
}

}  // namespace

std::wstring NetworkErrorText(std::uint32_t code) {
  const std::wstring number = L"error " + std::to_wstring(code);
  for (const NetworkError& known : kNetworkErrors)
    if (known.code == code) return std::wstring(known.text) + L" (" + number + L")";
  return L"network " + number;
}

std::wstring DescribeResult(Result result) {
  const std::uint32_t code = static_cast<std::uint32_t>(result);
  switch (result) {
    case kResultAbort:
      return L"it was cancelled";
    case kResultFail:
      return L"the server's reply or a downloaded file was not as expected";
    case kResultInvalidArg:
      return L"there was nothing to check";
    case kResultNotImpl:
      return L"this way of updating is not available here";
    default:
      break;
  }
  if (result < 0 && ((code >> 16) & 0x1FFF) == kFacilityWin32) {
    const std::uint32_t error = code & 0xFFFF;
    if (error >= 12000 && error < 12200) return NetworkErrorText(error);
    return L"Windows error " + std::to_wstring(error);
  }
  return L"error " + Hex(code);
}

std::wstring CheckOutcomeMessage(const CheckOutcome& outcome) {
  if (outcome.Installed()) return L"Vantle is updated.";
  if (outcome.result >= 0) return L"Vantle is up to date.";
  if (outcome.updateFound && outcome.result == kResultAbort)
    return L"The update was cancelled; Vantle stays as it is.";
  const std::wstring why = Sentence(outcome.reason.empty() ? DescribeResult(outcome.result) : outcome.reason);
  return (outcome.updateFound ? L"A newer Vantle was found but could not be installed.\r\n\r\n"
                              : L"Vantle could not check for updates.\r\n\r\n") +
         why;
}

}  // namespace VULIBRARY
