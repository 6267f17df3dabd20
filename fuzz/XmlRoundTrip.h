// Checks one arbitrary input against the promises of the XML reader and writer.
// Shared by the libFuzzer target and the corpus regression test, so that every
// input the fuzzer ever tripped over is replayed the very same way in both
// build trees.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace xmlcheck {

// Runs the input through ParseText, through a file load (which is what takes
// the UTF-16 and byte-order-mark paths), through Save and a second load and
// Save, plus the element and attribute operations on every node.
// workDir must be an existing folder the check may write into; it leaves one
// file there. Returns a description of every broken promise; empty means the
// input behaved.
std::vector<std::string> CheckInput(const std::uint8_t* data, std::size_t size,
                                    const std::string& workDir);

}  // namespace xmlcheck
