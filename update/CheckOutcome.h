// What an update check came to, and the words for the user who asked for
// it: a failure carries its reason from where it happened to the message.
#pragma once

#include <cstdint>
#include <string>

#include "update/UpdateProtocol.h"

namespace VULIBRARY {

struct CheckOutcome {
  // The check's result (0: nothing newer; negative: it failed) or, once a
  // newer version was found, the update's (not negative: installed).
  Result result = kResultOk;
  bool updateFound = false;
  // Why it failed, as a sentence without its full stop; empty when the
  // result code is all there is to tell.
  std::wstring reason;

  bool Installed() const { return updateFound && result >= 0; }
};

// What the user is told after a check they asked for: "Vantle is up to
// date.", "Vantle is updated.", or what failed and why.
std::wstring CheckOutcomeMessage(const CheckOutcome& outcome);

// A result in words: the updater's own codes, and Windows errors carried as
// HRESULTs (WinINet's by what they mean, others by number).
std::wstring DescribeResult(Result result);

// The WinINet errors a request meets, in words, with their number.
std::wstring NetworkErrorText(std::uint32_t code);

}  // namespace VULIBRARY
