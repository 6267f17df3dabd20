// The updater's one network operation: an HTTP form post over WinINet whose
// reply is collected in memory, with progress for the dialog and a cancel
// check between reads.
#include <windows.h>
#include <commctrl.h>
#include <wininet.h>

#include <cwchar>

#include "update/CheckOutcome.h"
#include "update/VU.h"
#include "update/WinHandles.h"

namespace VULIBRARY {

static_assert(kFlagIgnoreRedirectToHttps == INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS &&
                  kFlagSecure == INTERNET_FLAG_SECURE && kFlagKeepConnection == INTERNET_FLAG_KEEP_CONNECTION,
              "request flags are WinINet's");

namespace {

void SetDecoding(HINTERNET handle, BOOL on) {
  InternetSetOptionW(handle, INTERNET_OPTION_HTTP_DECODING, &on, sizeof on);
}

// The reply's announced length, if the server sent one we can use.
std::optional<std::uint64_t> ReplyLength(HINTERNET request) {
  wchar_t text[64] = L"";
  DWORD size = sizeof text;
  DWORD index = 0;
  if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, &index)) return std::nullopt;
  return ParseContentLength(text);
}

// The reply's HTTP status code; 0 when there is none to read.
unsigned long ReplyStatus(HINTERNET request) {
  DWORD code = 0;
  DWORD size = sizeof code;
  DWORD index = 0;
  if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size, &index)) return 0;
  return code;
}

void SetTimeouts(HINTERNET handle, DWORD milliseconds) {
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
    InternetSetOptionW(handle, option, &milliseconds, sizeof milliseconds);
}

void ShowProgress(HWND dialog, std::uint64_t received, std::uint64_t total) {
  SendMessageW(dialog, TDM_SET_PROGRESS_BAR_POS, ProgressPercent(received, total), 0);
  const std::wstring text = ProgressText(received, total);
  SendMessageW(dialog, TDM_SET_ELEMENT_TEXT, TDE_CONTENT, reinterpret_cast<LPARAM>(text.c_str()));
}

}  // namespace

HRESULT VU::PostForm(const wchar_t* url, const std::vector<FormField>& fields, std::string& reply,
                     bool showProgress, std::uint64_t replyLimit) {
  failure.clear();
  httpStatus = 0;
  if (!url) return E_INVALIDARG;
  std::string body;
  if (!BuildFormBody(fields, &body)) return E_INVALIDARG;

  // The WinINet error of the call that just failed, with what it stopped.
  auto networkFailed = [this](const std::wstring& what) {
    const DWORD error = GetLastError();
    failure = what + L": " + NetworkErrorText(error);
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
  };

  InternetHandle root(InternetOpenW(L"Vantle Update Library", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  if (!root) return networkFailed(L"the network could not be used");
  // Without these an unreachable server holds the check for minutes.
  SetTimeouts(root.get(), timeoutMs);

  // Every part gets a buffer as long as the whole URL, so none can be cut.
  const DWORD length = static_cast<DWORD>(wcslen(url)) + 1;
  std::wstring host(length, L'\0'), user(length, L'\0'), password(length, L'\0'), path(length, L'\0'),
      extra(length, L'\0');
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host.data();
  parts.dwHostNameLength = length;
  parts.lpszUserName = user.data();
  parts.dwUserNameLength = length;
  parts.lpszPassword = password.data();
  parts.dwPasswordLength = length;
  parts.lpszUrlPath = path.data();
  parts.dwUrlPathLength = length;
  parts.lpszExtraInfo = extra.data();
  parts.dwExtraInfoLength = length;
  if (!InternetCrackUrlW(url, 0, 0, &parts)) return networkFailed(L"the update address is not valid");
  host.resize(parts.dwHostNameLength);
  user.resize(parts.dwUserNameLength);
  password.resize(parts.dwPasswordLength);
  path.resize(parts.dwUrlPathLength);
  extra.resize(parts.dwExtraInfoLength);

  InternetHandle connection(InternetConnectW(root.get(), host.c_str(), parts.nPort,
                                             user.empty() ? nullptr : user.c_str(),
                                             password.empty() ? nullptr : password.c_str(),
                                             INTERNET_SERVICE_HTTP, 0, 0));
  const std::wstring unreachable = L"the update server (" + host + L") could not be reached";
  if (!connection) return networkFailed(unreachable);
  SetDecoding(connection.get(), TRUE);
  SetTimeouts(connection.get(), timeoutMs);

  const std::wstring object = path + extra;  // the query string rides along
  const wchar_t* acceptTypes[] = {L"*/*", nullptr};
  InternetHandle request(HttpOpenRequestW(connection.get(), L"POST", object.c_str(), nullptr, nullptr,
                                          acceptTypes, RequestFlagsForUrl(url), 0));
  if (!request) return networkFailed(unreachable);
  SetDecoding(request.get(), TRUE);
  // Not every WinINet hands the session's timeouts down to its requests.
  SetTimeouts(request.get(), timeoutMs);

  HttpAddRequestHeadersW(request.get(), L"Accept-Encoding: */*\r\n", static_cast<DWORD>(-1),
                         HTTP_ADDREQ_FLAG_ADD_IF_NEW);
  if (!body.empty()) {
    HttpAddRequestHeadersW(request.get(), L"Content-Type: application/x-www-form-urlencoded",
                           static_cast<DWORD>(-1), HTTP_ADDREQ_FLAG_ADD);
    wchar_t lengthHeader[64];
    swprintf(lengthHeader, sizeof lengthHeader / sizeof lengthHeader[0], L"Content-Length: %u",
             static_cast<unsigned>(body.size()));
    HttpAddRequestHeadersW(request.get(), lengthHeader, static_cast<DWORD>(-1), HTTP_ADDREQ_FLAG_ADD_IF_NEW);
  }
  if (!HttpSendRequestW(request.get(), nullptr, 0, body.empty() ? nullptr : body.data(),
                        static_cast<DWORD>(body.size()))) {
    return networkFailed(unreachable);
  }
  httpStatus = ReplyStatus(request.get());

  const std::wstring tooLong = L"the update server's reply is longer than any it should send";
  const std::optional<std::uint64_t> total = ReplyLength(request.get());
  // A reply announced beyond what could be wanted is not read at all.
  if (total && *total > replyLimit) {
    failure = tooLong;
    return E_FAIL;
  }
  std::string chunk(kReadChunk, '\0');
  std::uint64_t received = 0;
  bool decoding = true;
  for (;;) {
    const Result now = status.load();
    if (now != kResultRunning) return now;
    DWORD got = 0;
    while (!InternetReadFile(request.get(), chunk.data(), kReadChunk, &got)) {
      // Some servers label replies with an encoding WinINet cannot undo;
      // the raw bytes are what we want then.
      if (!decoding) return networkFailed(L"the update server's reply broke off");
      decoding = false;
      SetDecoding(root.get(), FALSE);
      got = 0;
    }
    if (got == 0) break;
    if (got > replyLimit - received) {
      failure = tooLong;
      return E_FAIL;
    }
    received += got;
    reply.append(chunk.data(), got);
    if (total && showProgress) {
      if (HWND window = dialog.load()) ShowProgress(window, received, *total);
    }
  }
  return S_OK;
}

}  // namespace VULIBRARY
