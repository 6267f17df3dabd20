// The self-updater object: watched files, the check against the update
// server, the HTTP form post, and the worker that runs a long step while the
// progress dialog is shown. Windows only; the protocol's portable pieces are
// in UpdateProtocol.h.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "update/MemoryZip.h"
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

// Installing a file that is already written: the new file at newPath must have
// the server's hash and, when the record asks for it, a valid Authenticode
// signature and (IsOwnRelease) come from the running program's publisher
// without being an older version; then the installed file is moved aside
// under kReplacedSuffix and the new one moved in (with the previous version
// put back when that fails). newPath must lie on the installed file's volume:
// the moves are renames, never copies. S_OK or E_FAIL; newPath is left where
// it was on failure. runningProgram is the program whose publisher and
// version count, this process's own unless a caller names another.
HRESULT InstallFile(const UpdateFile& file, const std::wstring& newPath);
HRESULT InstallFile(const UpdateFile& file, const std::wstring& newPath, const std::wstring& runningProgram);

// Whether the file at newPath may take the place of the program at
// runningProgram. A server that can name any hash could otherwise install
// any validly signed program of anybody, or an older one of ours with its
// old faults. So when the running program is signed, the new file must be
// signed by a certificate of the same subject and issuer (the same
// certificate, or its renewal), and its file version (VS_FIXEDFILEINFO) must
// not be lower than the running program's. An unsigned running program (a
// developer's build) takes whatever passes the other tests.
bool IsOwnRelease(const std::wstring& runningProgram, const std::wstring& newPath);

// WinVerifyTrust's verdict on the file's Authenticode signature, without any
// user interface or revocation check: negative when the file is rejected.
LONG VerifyFileSignature(const wchar_t* path);

// Writes entry index of the archive through out; false when the entry is
// missing, damaged, larger than maxBytes, or cannot be written.
bool ExtractEntryTo(MemoryZipArchive& archive, std::uint64_t index, std::uint64_t maxBytes, HANDLE out);

// Installs a new version of file that fill writes (true when it wrote it
// all) into a file created for it beside the installed one, on its volume
// (localPath + kStagedSuffix): flushed to the disk, tested as InstallFile
// tests it, then renamed in with write-through renames. S_OK or E_FAIL;
// nothing is left beside the installed file on failure.
HRESULT InstallNewVersion(const UpdateFile& file, const std::function<bool(HANDLE)>& fill);

// Before an update fetches anything: a whole new version that a cut-off
// install left beside file is installed when it passes InstallFile's tests
// (S_OK), and removed otherwise (E_FAIL); S_FALSE when there is nothing to
// complete. Needs the check's serverHash.
HRESULT CompleteStagedVersion(const UpdateFile& file);

// At start, before the check: undoes or tidies what a cut-off install of
// the file at localPath left (RecoverCutOffInstall in ReplaceFile.h).
void RecoverCutOffInstall(const std::wstring& localPath);

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
  // the post's failure, E_FAIL for a reply not as expected, E_ABORT), whose
  // reason is then in failure.
  int Check();

  // Downloads and installs what the check found out of date: a whole new
  // version left beside a file by a cut-off install first, then the delta
  // route, and the whole-file route after any negative result of it (a
  // cancel included). Each runs under its own progress dialog when the task
  // dialog exists, else on this thread. Returns the last route's result: 0
  // installed, 1 nothing to fetch, negative when nothing more was installed.
  int Update(HWND parent, HICON icon, const wchar_t* mainInstruction);
  // The whole-file route: every out-of-date file in one zip reply.
  int DownloadFull();
  // The delta route: signatures, the needed blocks, and a rebuild from the
  // installed file. E_NOTIMPL where the progress dialog is not available.
  int DownloadDelta();

  // The worker's body: runs the step of the mode, stores its result in
  // status and closes the dialog.
  void RunStep(int stepMode);

  // Runs RunStep on a worker thread while this thread shows the progress
  // dialog; returns the step's result, E_FAIL when the dialog failed, or
  // E_NOTIMPL when there is no task dialog.
  HRESULT RunStepInDialog(HWND parent, HICON icon, const wchar_t* mainInstruction, int stepMode);

  // POSTs the fields, form-encoded, to url and appends the reply body to
  // reply. S_OK when the whole reply was read (whatever the HTTP status,
  // which httpStatus then holds), E_INVALIDARG for a null url or a body over
  // the limits, the WinINet error as an HRESULT when the network failed,
  // E_FAIL for a reply body longer than replyLimit bytes, or status when it
  // stopped being "running" (a cancel). A failure leaves its reason in
  // failure. No step of the exchange waits longer than timeoutMs.
  HRESULT PostForm(const wchar_t* url, const std::vector<FormField>& fields, std::string& reply,
                   bool showProgress, std::uint64_t replyLimit = kNoReplyLimit);
  static constexpr std::uint64_t kNoReplyLimit = ~std::uint64_t(0);

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
  // Why the last post or check failed, as a sentence without its full stop,
  // for the user; empty when it did not fail or there is nothing more to say
  // than its result. Written by the thread that ran it.
  std::wstring failure;
  // The status code of the last reply; 0 before one came.
  unsigned long httpStatus = 0;
  // How long connecting, sending and each read of the reply may take.
  unsigned long timeoutMs = kDefaultTimeoutMs;
  static constexpr unsigned long kDefaultTimeoutMs = 20000;

 private:
  friend HRESULT CALLBACK ProgressDialogCallback(HWND, UINT, WPARAM, LPARAM, LONG_PTR);
  // A step marks itself running, except inside the worker, where the dialog
  // may already have cancelled it and that cancel must not be lost.
  void BeginStep();
  void OnDialogCreated(HWND window);
  void OnDialogButton();

  // The two download routes of Update.
  int UpdateByRoutes(HWND parent, HICON icon, const wchar_t* mainInstruction);

  bool inWorker_ = false;  // touched only by the worker thread
};

}  // namespace VULIBRARY
