// The updater object, the check and the worker step.
#include "update/VU.h"

#include <new>
#include <stdexcept>

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
  failure.clear();
  if (files.empty()) return E_INVALIDARG;
  const std::wstring url = MakeRequestUrl(endpoint, L"hash", productId);
  std::string reply;
  const HRESULT posted = PostForm(url.c_str(), MakeHashQueryFields(files), reply, false, kMaxHashReplyBytes);
  if (FAILED(posted)) return posted;
  std::wstring why;
  const Result result = ReadHashReply(reply, files, status, LocalFileHash, &why);
  if (result == E_FAIL) {
    // An error page says more by its status than by its (non-)content.
    failure = httpStatus != 200 ? L"the update server answered with HTTP status " + std::to_wstring(httpStatus) +
                                      L" instead of a list of versions"
                                : L"the update server's reply could not be read: " + why;
  }
  return result;
}

namespace {

// A reply can ask for more memory than there is; that ends the step with a
// failure, never the program (an exception leaving a worker thread would).
template <class Step>
Result Guarded(Step step) {
  try {
    return step();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::length_error&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace

int VU::Update(HWND parent, HICON icon, const wchar_t* mainInstruction) {
  // What a cut-off install left whole beside a file needs no download.
  bool completed = false;
  for (UpdateFile& file : files) {
    if (CompleteStagedVersion(file) != S_OK) continue;
    file.localHash = file.serverHash;
    completed = true;
  }
  const int result = UpdateByRoutes(parent, icon, mainInstruction);
  return completed && result == S_FALSE ? S_OK : result;
}

int VU::UpdateByRoutes(HWND parent, HICON icon, const wchar_t* mainInstruction) {
  const int delta = IsProgressDialogAvailable() ? RunStepInDialog(parent, icon, mainInstruction, kModeDelta)
                                                : Guarded([this] { return DownloadDelta(); });
  if (delta >= 0) return delta;
  // Whatever went wrong with the delta (a cancel too), the whole files are
  // the way that always works.
  return IsProgressDialogAvailable() ? RunStepInDialog(parent, icon, mainInstruction, kModeFull)
                                     : Guarded([this] { return DownloadFull(); });
}

int VU::DownloadFull() {
  BeginStep();
  if (files.empty()) return E_INVALIDARG;
  const std::vector<FormField> fields = MakeFileRequestFields(files);
  if (fields.empty()) return S_FALSE;

  std::string reply;
  const std::wstring url = MakeRequestUrl(endpoint, L"zip", productId);
  const HRESULT posted =
      PostForm(url.c_str(), fields, reply, true, ZipReplyLimit(fields.size(), fields.size() * kMaxUpdateFileBytes));
  if (FAILED(posted)) return posted;

  MemoryZipArchive archive(reply);
  if (!archive.IsOpen() || archive.EntryCount() != fields.size()) return E_FAIL;
  for (std::size_t k = 0; k < fields.size(); ++k) {
    const auto extract = [&archive, k](HANDLE out) { return ExtractEntryTo(archive, k, kMaxUpdateFileBytes, out); };
    if (FAILED(InstallNewVersion(files[static_cast<std::size_t>(fields[k].fileIndex)], extract))) return E_FAIL;
  }
  return S_OK;
}

void VU::RunStep(int stepMode) {
  // The delta route creates its COM objects on this thread.
  ComApartment com(COINIT_MULTITHREADED);
  inWorker_ = true;
  Result result = E_NOTIMPL;
  if (stepMode == kModeDelta) {
    result = Guarded([this] { return DownloadDelta(); });
  } else if (stepMode == kModeFull) {
    result = Guarded([this] { return DownloadFull(); });
  } else {
    if (HWND window = dialog.load()) SendMessageW(window, TDM_SET_PROGRESS_BAR_MARQUEE, TRUE, 0);
    result = Guarded([this] { return Check(); });
  }
  inWorker_ = false;
  // Stored before the click, so that the dialog's button handler finds the
  // step ended and leaves the result alone. A dialog that does not exist yet
  // sees the result when it is created and closes itself.
  status.store(result);
  if (HWND window = dialog.load()) SendMessageW(window, TDM_CLICK_BUTTON, IDCANCEL, 0);
}

}  // namespace VULIBRARY
