#include "update/UpdateCheckThread.h"

#include <mutex>
#include <system_error>
#include <thread>

#include "update/RunUpdateCheck.h"

namespace VULIBRARY {

struct UpdateCheckThread::State {
  std::wstring endpoint;
  std::mutex mutex;
  bool running = false;
  CheckOutcome outcome;
};

UpdateCheckThread::UpdateCheckThread(std::wstring endpoint) : state_(std::make_shared<State>()) {
  state_->endpoint = std::move(endpoint);
}

bool UpdateCheckThread::Start(HWND window, UINT message) {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->running) return false;
    state_->running = true;
  }
  try {
    std::thread([state = state_, window, message] {
      CheckOutcome outcome = RunUpdateCheckAt(state->endpoint.c_str(), window);
      {
        std::lock_guard<std::mutex> lock(state->mutex);
        state->outcome = std::move(outcome);
        state->running = false;
      }
      PostMessageW(window, message, 0, 0);
    }).detach();
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->running = false;
    return false;
  }
  return true;
}

bool UpdateCheckThread::Running() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->running;
}

CheckOutcome UpdateCheckThread::TakeOutcome() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->outcome;
}

}  // namespace VULIBRARY
