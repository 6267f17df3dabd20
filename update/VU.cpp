// The updater object, the check and the worker step.
#include "update/VU.h"

#include <commctrl.h>
#include <objbase.h>

#include "update/WinHandles.h"

namespace VULIBRARY {

static_assert(kResultOk == S_OK && kResultDifferent == S_FALSE && kResultRunning == E_UNEXPECTED &&
                  kResultAbort == E_ABORT && kResultFail == E_FAIL && kResultInvalidArg == E_INVALIDARG &&
                  kResultNotImpl == E_NOTIMPL,
              "updater results are the platform's HRESULT values");

VU::VU(std::wstring productId, std::wstring endpoint)
    : productId(std::move(productId)), endpoint(std::move(endpoint)) {}

int VU::AddFile(const UpdateFile& file) {
  files.push_back(file);
  return S_OK;
}

void VU::BeginStep() {
  if (!inWorker_) status.store(kResultRunning);
}

int VU::Check() {
  BeginStep();
  if (files.empty()) return E_INVALIDARG;
  const std::wstring url = MakeRequestUrl(endpoint, L"hash", productId);
  std::string reply;
  const HRESULT posted = PostForm(url.c_str(), MakeHashQueryFields(files), reply, false);
  if (FAILED(posted)) return posted;
  return ReadHashReply(reply, files, status);
}

int VU::Update(HWND, HICON, const wchar_t*) {
  // The delta and whole-file routes come with the download work; until then
  // an update installs nothing and says so.
  return E_NOTIMPL;
}

int VU::DownloadFull() { return E_NOTIMPL; }

int VU::DownloadDelta() { return E_NOTIMPL; }

void VU::RunStep(int stepMode) {
  // The delta route creates its COM objects on this thread.
  ComApartment com(COINIT_MULTITHREADED);
  inWorker_ = true;
  Result result = E_NOTIMPL;
  if (stepMode == kModeDelta) {
    result = DownloadDelta();
  } else if (stepMode == kModeFull) {
    result = DownloadFull();
  } else {
    if (HWND window = dialog.load()) SendMessageW(window, TDM_SET_PROGRESS_BAR_MARQUEE, TRUE, 0);
    result = Check();
  }
  inWorker_ = false;
  // Stored before the click, so that the dialog's button handler finds the
  // step ended and leaves the result alone. A dialog that does not exist yet
  // sees the result when it is created and closes itself.
  status.store(result);
  if (HWND window = dialog.load()) SendMessageW(window, TDM_CLICK_BUTTON, IDCANCEL, 0);
}

}  // namespace VULIBRARY
