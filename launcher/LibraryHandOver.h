// One window per library: the name under which the process that shows a
// library makes itself known, and the folder a later "-import" hands to it.
#pragma once

#include <cstddef>
#include <string>

// What a WM_COPYDATA message carries in its dwData when it hands over a
// folder to import ("VTLI").
constexpr unsigned long kHandOverImport = 0x56544C49ul;

// The exit code of "-import" when an open window took the folder over.
constexpr int kImportHandedOver = 3;

// The name of the object that marks a library as held, made from the
// library's identity (the same for every path that reaches its file), in the
// caller's session: "Local\Vantle.Library." and sixteen hexadecimal digits.
std::string LibraryObjectName(const std::string& identity);

// The folder of a hand-over: UTF-8 text without a terminating zero. False
// for nothing, for text longer than any path the program takes, and for text
// holding a zero.
bool ReadHandedFolder(const char* data, std::size_t size, std::string& folder);
