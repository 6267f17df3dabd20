// Wide text as UTF-8: request bodies and, on systems whose file names are
// bytes, file paths.
#pragma once

#include <string>

namespace VULIBRARY {

// UTF-16 (Windows) or UTF-32 (elsewhere, as wchar_t holds) to UTF-8. Surrogate
// pairs are joined; lone surrogates and values past U+10FFFF become U+FFFD.
std::string ToUtf8(const std::wstring& text);

}  // namespace VULIBRARY
