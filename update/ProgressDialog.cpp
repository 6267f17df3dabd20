// The progress dialog: a task dialog shown on the calling thread while a
// worker thread runs one updater step.
#include <windows.h>
#include <commctrl.h>

#include <thread>

#include "update/VU.h"
#include "update/WinHandles.h"

namespace VULIBRARY {

namespace {

using TaskDialogIndirectFunction = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);

// TaskDialogIndirect is looked up rather than imported: an import would keep
// the program from starting on a comctl32 without it.
TaskDialogIndirectFunction FindTaskDialog(HMODULE comctl) {
  FARPROC found = GetProcAddress(comctl, "TaskDialogIndirect");
  return reinterpret_cast<TaskDialogIndirectFunction>(reinterpret_cast<void*>(found));
}

// Waits for the worker's end while still answering messages sent to this
// thread: a progress message the worker sent just as the dialog closed would
// otherwise wait for us while we wait for it.
void WaitAnsweringSentMessages(HANDLE finished) {
  for (;;) {
    const DWORD woke = MsgWaitForMultipleObjects(1, &finished, FALSE, INFINITE, QS_SENDMESSAGE);
    if (woke != WAIT_OBJECT_0 + 1) return;
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

}  // namespace

bool IsProgressDialogAvailable() {
  LibraryHandle comctl(LoadLibraryW(L"comctl32.dll"));
  return comctl && FindTaskDialog(comctl.get()) != nullptr;
}

HRESULT CALLBACK ProgressDialogCallback(HWND window, UINT notification, WPARAM, LPARAM,
                                        LONG_PTR referenceData) {
  VU* vu = reinterpret_cast<VU*>(referenceData);
  switch (notification) {
    case TDN_CREATED:
      vu->OnDialogCreated(window);
      break;
    case TDN_BUTTON_CLICKED:
      vu->OnDialogButton();
      break;
    case TDN_DESTROYED:
      vu->dialog.store(nullptr);
      break;
    default:
      break;
  }
  return S_OK;  // so every button closes the dialog
}

void VU::OnDialogCreated(HWND window) {
  dialog.store(window);
  if (mode == kModeCheck) SendMessageW(window, TDM_SET_PROGRESS_BAR_MARQUEE, TRUE, 0);
  // A step that ended before the dialog existed could not close it; the
  // store above and this load pair with the worker's store of its result
  // and load of dialog, so one of the two sides always sends the click.
  if (status.load() != kResultRunning) PostMessageW(window, TDM_CLICK_BUTTON, IDCANCEL, 0);
}

void VU::OnDialogButton() {
  // Only a step still running becomes cancelled; a result the worker has
  // already stored stays.
  Result running = kResultRunning;
  status.compare_exchange_strong(running, kResultAbort);
}

HRESULT VU::RunStepInDialog(HWND parent, HICON icon, const wchar_t* mainInstruction, int stepMode) {
  LibraryHandle comctl(LoadLibraryW(L"comctl32.dll"));
  if (!comctl) return E_NOTIMPL;
  const TaskDialogIndirectFunction taskDialog = FindTaskDialog(comctl.get());
  if (!taskDialog) return E_NOTIMPL;

  status.store(kResultRunning);
  mode = stepMode;
  TASKDIALOGCONFIG config{};
  config.cbSize = sizeof config;
  config.hwndParent = parent;
  config.dwFlags = TDF_USE_HICON_MAIN | TDF_ALLOW_DIALOG_CANCELLATION |
                   (stepMode == kModeCheck ? TDF_SHOW_MARQUEE_PROGRESS_BAR : TDF_SHOW_PROGRESS_BAR);
  config.dwCommonButtons = TDCBF_CANCEL_BUTTON;
  config.pszWindowTitle = L"Update Process";
  config.hMainIcon = icon;
  config.pszMainInstruction = mainInstruction;
  config.pszContent = stepMode == kModeCheck ? L"Checking for updates..." : L"Downloading updates...";
  config.pfCallback = ProgressDialogCallback;
  config.lpCallbackData = reinterpret_cast<LONG_PTR>(this);

  KernelHandle finished(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!finished) return E_FAIL;
  HANDLE finishedEvent = finished.get();
  std::thread worker([this, stepMode, finishedEvent] {
    RunStep(stepMode);
    SetEvent(finishedEvent);
  });

  int button = 0, radioButton = 0;
  BOOL verified = FALSE;
  const HRESULT shown = taskDialog(&config, &button, &radioButton, &verified);
  dialog.store(nullptr);
  WaitAnsweringSentMessages(finishedEvent);
  worker.join();
  return FAILED(shown) ? E_FAIL : status.load();
}

}  // namespace VULIBRARY
