// Text conversion for the whole program: UTF-8 in the files and inside the
// program, UTF-16 (wchar_t) at the Windows calls. One converter per
// direction and one rule for bad input, so that a name reads the same in the
// list, the editor, a file dialog and a hash of the file it names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// UTF-8 to wide text (UTF-16 on Windows, code points where wchar_t is wider).
// Well-formed sequences are decoded; a byte that is not part of one is read
// as a character of Windows-1252, the code page older files were written in,
// so such text still shows as written (and is stored as UTF-8 once edited).
std::wstring WideFromUtf8(const char* text, std::size_t length);
std::wstring WideFromUtf8(const std::string& text);
std::wstring WideFromUtf8(const char* text);
// The same into out, whose room is kept: a loop over many texts allocates
// only when one is longer than any before.
void WideFromUtf8(const char* text, std::size_t length, std::wstring& out);

// Wide text to UTF-8. Surrogate pairs are joined; a lone surrogate, or a
// value past U+10FFFF where wchar_t is wider, becomes U+FFFD.
std::string Utf8FromWide(const std::wstring& text);
std::string Utf8FromWide(const wchar_t* text);

// Writes the UTF-8 form of code point cp (at most U+10FFFF) at out, which
// has room for four bytes; returns the number of bytes written.
std::size_t PutUtf8(std::uint32_t cp, char* out);

// The longest prefix of text, at most maxBytes long, that does not end inside
// a UTF-8 sequence.
std::size_t Utf8PrefixLength(const char* text, std::size_t length, std::size_t maxBytes);

// Copies text into buffer (size bytes, size > 0), cut at a character boundary
// when it does not fit, always with a terminating zero; returns the length.
std::size_t CopyToBuffer(const std::string& text, char* buffer, std::size_t size);

// The text a fixed buffer of size bytes holds: up to its first zero, or all
// of it cut at a character boundary when a writer left no zero.
std::string TextInBuffer(const char* buffer, std::size_t size);
