// Text between the files and the windows: the files hold UTF-8, the windows
// take UTF-16 through the wide messages. Every window converts here, at its
// boundary, so that what the user sees is what the file holds and what the
// user types is stored as UTF-8.
#pragma once

#include <cstddef>
#include <string>

// UTF-8 to wide text (UTF-16 on Windows, code points where wchar_t is wider).
// Well-formed sequences are decoded; a byte that is not part of one is read
// as a character of Windows-1252, the code page older files were written in,
// so such text still shows as written (and is stored as UTF-8 once edited).
std::wstring WideFromUtf8(const char* text, std::size_t length);
std::wstring WideFromUtf8(const std::string& text);

// Wide text to UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf8FromWide(const std::wstring& text);
std::string Utf8FromWide(const wchar_t* text);

// The longest prefix of text, at most maxBytes long, that does not end inside
// a UTF-8 sequence.
std::size_t Utf8PrefixLength(const char* text, std::size_t length, std::size_t maxBytes);

// Copies text into buffer (size bytes, size > 0), cut at a character boundary
// when it does not fit, always with a terminating zero; returns the length.
std::size_t CopyToBuffer(const std::string& text, char* buffer, std::size_t size);

// The text a fixed buffer of size bytes holds: up to its first zero, or all
// of it cut at a character boundary when a writer left no zero.
std::string TextInBuffer(const char* buffer, std::size_t size);
