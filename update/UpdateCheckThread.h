// The update check beside a window: it runs on a thread of its own, one at a
// time, and tells the window by a posted message when it has ended, so that
// an unreachable server never holds up the window.
//
// Lifecycle: idle -> Start() -> running (a second Start() is refused) ->
// the check ends, its outcome is stored and the message posted -> idle. The
// window collects the outcome with TakeOutcome() when the message arrives.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "update/CheckOutcome.h"

namespace VULIBRARY {

class UpdateCheckThread {
 public:
  // endpoint: the update URL; the build's own unless a caller names another.
  explicit UpdateCheckThread(std::wstring endpoint = UpdateServerUrl);

  // Starts a check that posts message (wParam and lParam 0) to window when it
  // ends. The window also gets WM_CLOSE after an installed update. False,
  // and nothing started, while a check runs or when no thread can be made.
  bool Start(HWND window, UINT message);
  bool Running() const;
  // The outcome of the check that ended last (up to date before any).
  CheckOutcome TakeOutcome();

 private:
  // Shared with the thread, which is never waited for: at the end of the
  // program it may still be waiting on the network.
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace VULIBRARY
