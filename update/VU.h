// The self-updater object: watched files, the check against the update
// server, the HTTP form post, and the worker that runs a long step while the
// progress dialog is shown. Windows only; the protocol's portable pieces are
// in UpdateProtocol.h.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "update/UpdateProtocol.h"

namespace VULIBRARY {

// Step modes of RunStep / RunStepInDialog.
constexpr int kModeCheck = 0;
constexpr int kModeFull = 1;
constexpr int kModeDelta = 2;

// Whether comctl32 has the task dialog (it is looked up, not imported, so
// that the program still starts where it is missing).
bool IsProgressDialogAvailable();

// The progress dialog's callback; its reference data is the VU.
HRESULT CALLBACK ProgressDialogCallback(HWND window, UINT notification, WPARAM wParam,
                                        LPARAM lParam, LONG_PTR referenceData);

class VU {
 public:
  // endpoint: the update URL without query; the build's UpdateServerUrl
  // unless a caller (a test, a private server) names another.
  explicit VU(std::wstring productId, std::wstring endpoint = UpdateServerUrl);
  VU(const VU&) = delete;
  VU& operator=(const VU&) = delete;

  // Appends a copy of the record; its position (1-based) is its number in
  // every request. Returns 0.
  int AddFile(const UpdateFile& file);

  // The hash query: 1 when a watched file differs from the server's version,
  // 0 when all are current, or a negative result (E_INVALIDARG without files,
  // the post's failure, E_FAIL for a reply not as expected, E_ABORT).
  int Check();

  // Downloads and installs what the check found out of date. The download
  // routes are not built yet: E_NOTIMPL, and nothing is changed.
  int Update(HWND parent, HICON icon, const wchar_t* mainInstruction);
  int DownloadFull();
  int DownloadDelta();

  // The worker's body: runs the step of the mode, stores its result in
  // status and closes the dialog.
  void RunStep(int stepMode);

  // Runs RunStep on a worker thread while this thread shows the progress
  // dialog; returns the step's result, E_FAIL when the dialog failed, or
  // E_NOTIMPL when there is no task dialog.
  HRESULT RunStepInDialog(HWND parent, HICON icon, const wchar_t* mainInstruction, int stepMode);

  // POSTs the fields, form-encoded, to url and appends the reply body to
  // reply. S_OK when the whole reply was read (whatever the HTTP status),
  // E_INVALIDARG for a null url or a body over the limits, E_FAIL for a
  // network failure, or status when it stopped being "running" (a cancel).
  HRESULT PostForm(const wchar_t* url, const std::vector<FormField>& fields, std::string& reply,
                   bool showProgress);

  std::wstring productId;
  std::wstring endpoint;
  std::vector<UpdateFile> files;
  // The progress dialog while it exists (written by the dialog's thread,
  // read by the worker).
  std::atomic<HWND> dialog{nullptr};
  // Shared by the worker and the dialog: E_UNEXPECTED while a step runs,
  // E_ABORT after a cancel, then the step's result. It starts as "running"
  // so that a post made outside any step is not mistaken for a stopped one.
  std::atomic<Result> status{kResultRunning};
  int mode = kModeCheck;

 private:
  friend HRESULT CALLBACK ProgressDialogCallback(HWND, UINT, WPARAM, LPARAM, LONG_PTR);
  // A step marks itself running, except inside the worker, where the dialog
  // may already have cancelled it and that cancel must not be lost.
  void BeginStep();
  void OnDialogCreated(HWND window);
  void OnDialogButton();

  bool inWorker_ = false;  // touched only by the worker thread
};

}  // namespace VULIBRARY
