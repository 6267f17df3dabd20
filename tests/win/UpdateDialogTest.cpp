// The progress dialog under Wine: a real task dialog on this thread while a
// worker runs the check, cancelled with its Cancel button or closed by the
// worker when the step ends.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <commctrl.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "UpdateTestServers.h"
#include "update/VU.h"

using namespace VULIBRARY;
using updatetest::HttpReply;
using updatetest::ScriptedServer;

namespace {

// The progress dialog of this process, if one is shown.
HWND FindProgressDialog() {
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, nullptr, L"Update Process")) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == GetCurrentProcessId() && IsWindowVisible(window)) return window;
  }
  return nullptr;
}

HWND WaitForProgressDialog(DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  while (GetTickCount64() < end) {
    if (HWND window = FindProgressDialog()) return window;
    Sleep(20);
  }
  return nullptr;
}

bool WaitUntilGone(HWND window, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  while (IsWindow(window)) {
    if (GetTickCount64() >= end) return false;
    Sleep(20);
  }
  return true;
}

struct ChildSearch {
  const wchar_t* className;
  const wchar_t* text;  // null: any
  HWND found;
};

BOOL CALLBACK MatchChild(HWND child, LPARAM param) {
  auto* search = reinterpret_cast<ChildSearch*>(param);
  wchar_t className[64] = L"", text[256] = L"";
  GetClassNameW(child, className, 64);
  GetWindowTextW(child, text, 256);
  if (_wcsicmp(className, search->className) == 0 && (!search->text || wcscmp(text, search->text) == 0)) {
    search->found = child;
    return FALSE;
  }
  return TRUE;
}

HWND FindChild(HWND window, const wchar_t* className, const wchar_t* text) {
  ChildSearch search{className, text, nullptr};
  EnumChildWindows(window, MatchChild, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// A user's click on the dialog's Cancel button.
bool PressCancel(HWND dialog) {
  HWND button = FindChild(dialog, L"Button", L"Cancel");
  if (!button) return false;
  PostMessageW(button, BM_CLICK, 0, 0);
  return true;
}

// For a look at the dialog: VANTLE_TEST_PAUSE_MS holds it open that long.
void PauseForOnlooker() {
  if (const char* pause = std::getenv("VANTLE_TEST_PAUSE_MS")) Sleep(static_cast<DWORD>(std::atoi(pause)));
}

HICON InformationIcon() { return LoadIconA(nullptr, IDI_INFORMATION); }

std::string UpToDateReply() {
  return HttpReply("<?xml version=\"1.0\"?><u><f1>" + updatetest::Sha1Text("program") + "</f1></u>");
}

}  // namespace

TEST(ProgressDialog, TheTaskDialogIsAvailable) { EXPECT_TRUE(IsProgressDialogAvailable()); }

TEST(ProgressDialog, PressingCancelClosesTheDialogAtOnceAndTheStepEndsWithAbort) {
  updatetest::Installed installed;
  const std::wstring program = installed.Write("vtl64.exe", "program");
  // Within the bound of a hash reply, so that it is read until the stall.
  const std::string reply = HttpReply(std::string(500000, 'z'));
  ScriptedServer server(reply, reply.size() - 500000 + 5000);  // stalls after 5,000 bytes
  ASSERT_TRUE(server.listening());
  VU updater(L"5E1C9A02-7B3D-4F61-9A8E-2C47D0B3F915", server.Url());
  updater.AddFile(UpdateFile(program, L"vtl64.exe", true));

  std::atomic<bool> shown{false}, pressed{false}, closedWhileStalled{false};
  std::string texts;
  std::thread user([&] {
    HWND dialog = WaitForProgressDialog(20000);
    if (dialog) {
      shown = true;
      texts = wintest::ChildTexts(dialog);
      server.WaitUntilHeld(20000);
      PauseForOnlooker();
      pressed = PressCancel(dialog);
      // The worker is still waiting for the server; the dialog must not.
      closedWhileStalled = WaitUntilGone(dialog, 10000);
    }
    server.Release();
  });
  const HRESULT result = updater.RunStepInDialog(nullptr, InformationIcon(), L"Updating Vantle", kModeCheck);
  user.join();

  EXPECT_TRUE(shown);
  EXPECT_TRUE(pressed);
  EXPECT_TRUE(closedWhileStalled);
  EXPECT_EQ(E_ABORT, result);
  EXPECT_EQ(E_ABORT, updater.status.load());
  EXPECT_EQ(nullptr, updater.dialog.load());
  EXPECT_NE(std::string::npos, texts.find("Updating Vantle")) << texts;
  EXPECT_NE(std::string::npos, texts.find("Checking for updates...")) << texts;
  EXPECT_EQ("", updater.files[0].serverHash);
}

TEST(ProgressDialog, AStepThatEndsWhileTheDialogIsShownClosesItAndKeepsItsResult) {
  updatetest::Installed installed;
  const std::wstring program = installed.Write("vtl64.exe", "program");
  const std::string reply = UpToDateReply();
  ScriptedServer server(reply, 0);  // answers once released
  ASSERT_TRUE(server.listening());
  VU updater(L"5E1C9A02-7B3D-4F61-9A8E-2C47D0B3F915", server.Url());
  updater.AddFile(UpdateFile(program, L"vtl64.exe", true));

  std::atomic<bool> shown{false}, closed{false};
  std::thread watcher([&] {
    HWND dialog = WaitForProgressDialog(20000);
    shown = dialog != nullptr;
    server.Release();
    closed = dialog && WaitUntilGone(dialog, 20000);
    if (dialog && !closed) PressCancel(dialog);  // so that a fault fails instead of hanging
  });
  const HRESULT result = updater.RunStepInDialog(nullptr, InformationIcon(), L"Updating Vantle", kModeCheck);
  watcher.join();

  EXPECT_TRUE(shown);
  EXPECT_TRUE(closed);
  EXPECT_EQ(S_OK, result);
  EXPECT_FALSE(updater.files[0].serverHash.empty());
}

TEST(ProgressDialog, AStepThatEndsBeforeTheDialogExistsStillClosesIt) {
  // Without files the check ends at once, long before the dialog is made.
  VU updater(L"5E1C9A02-7B3D-4F61-9A8E-2C47D0B3F915", L"http://127.0.0.1:1/update/u.php");
  std::atomic<bool> done{false}, rescued{false};
  std::thread watchdog([&] {
    const ULONGLONG end = GetTickCount64() + 20000;
    while (!done && GetTickCount64() < end) Sleep(20);
    if (!done) {
      HWND dialog = FindProgressDialog();
      rescued = dialog && PressCancel(dialog);
    }
  });
  const HRESULT result = updater.RunStepInDialog(nullptr, InformationIcon(), L"Updating Vantle", kModeCheck);
  done = true;
  watchdog.join();
  EXPECT_FALSE(rescued) << "the dialog stayed open after its step had ended";
  EXPECT_EQ(E_INVALIDARG, result);
  EXPECT_EQ(nullptr, FindProgressDialog());
}

TEST(ProgressDialog, ADownloadShowsItsPercentAndKilobytesInTheDialog) {
  updatetest::Installed installed;
  const std::wstring program = installed.Write("vtl64.exe", "program");
  const std::string check = UpToDateReply();
  ScriptedServer checkServer(check, 0);  // keeps the dialog up until released
  const std::string download = HttpReply(std::string(10000000, 'd'));
  ScriptedServer downloadServer(download, download.size() - 10000000 + 5000000, true);
  ASSERT_TRUE(checkServer.listening());
  ASSERT_TRUE(downloadServer.listening());
  VU updater(L"5E1C9A02-7B3D-4F61-9A8E-2C47D0B3F915", checkServer.Url());
  updater.AddFile(UpdateFile(program, L"vtl64.exe", true));

  std::atomic<bool> shown{false};
  std::atomic<int> position{-1};
  std::wstring content;
  std::thread user([&] {
    HWND dialog = WaitForProgressDialog(20000);
    shown = dialog != nullptr;
    if (dialog) {
      // A download's dialog has a plain bar rather than the check's marquee.
      SendMessageW(dialog, TDM_SET_MARQUEE_PROGRESS_BAR, FALSE, 0);
      std::string downloaded;
      std::thread download([&] {
        updater.PostForm(downloadServer.Url().c_str(), {{L"f1", L"vtl64.exe", 0}}, downloaded, true);
      });
      downloadServer.WaitUntilHeld(20000);
      const wchar_t kExpected[] = L"Downloading updates ... 4882/9765 KB";
      const ULONGLONG end = GetTickCount64() + 10000;
      while (GetTickCount64() < end && !FindChild(dialog, L"Static", kExpected) &&
             !FindChild(dialog, L"Edit", kExpected)) {
        Sleep(20);
      }
      HWND text = FindChild(dialog, L"Static", kExpected);
      if (!text) text = FindChild(dialog, L"Edit", kExpected);
      if (text) content = kExpected;
      if (HWND bar = FindChild(dialog, PROGRESS_CLASSW, nullptr)) {
        position = static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0));
      }
      PauseForOnlooker();
      downloadServer.Release();
      download.join();
    }
    checkServer.Release();
  });
  const HRESULT result = updater.RunStepInDialog(nullptr, InformationIcon(), L"Updating Vantle", kModeCheck);
  user.join();

  EXPECT_TRUE(shown);
  EXPECT_EQ(L"Downloading updates ... 4882/9765 KB", content);
  EXPECT_EQ(50, position.load());
  EXPECT_EQ(S_OK, result);
}
