// The delta engine: content-defined chunk signatures of a file, and the
// comparison of two signature streams into a needs list.
//
// A file is cut into chunks where its content says so: a 48-byte rolling hash
// is taken at every position, and a chunk starts where that hash is strictly
// greater than every other hash within 1024 positions before and after it.
// Position 0 always starts a chunk, and a chunk never grows past 65535 bytes
// (it is cut there). Each chunk is signed by its length and a 64-bit strong
// hash (the first 8 bytes of its SHA-1), so the same content gets the same
// signatures wherever it sits in either file. 64 bits make a wrong match rare
// enough: a rebuilt file is checked against its whole SHA-1 before it is
// installed, and a mismatch falls back to the whole file.
//
// Signature stream: a 12-byte header -- "VRDC", version 2, strong hash size
// 8, then little-endian 16-bit window 48, horizon 1024 and maximum chunk
// 65535 -- followed by one 10-byte record per chunk in file order: chunk
// length (16-bit little-endian, 1 to 65535) and its 8 strong hash bytes.
// Version 1 streams (16 hash bytes, 18-byte records, as older servers send
// them) are still read; their hashes are compared by their first 8 bytes.
// Older programs refuse version 2 and fetch the whole file instead.
//
// The comparator matches the chunks of a new version (the "source") against
// those of an old one (the "seed") and lists, in new-version order, where
// each range comes from: RDCNEED_SEED (offset in the old file) or
// RDCNEED_SOURCE (offset in the new file). Neighbouring ranges of the same
// kind that continue each other are merged into one record.
//
// Second level: a large file's signature stream is itself worth sending as a
// delta, since a new version shares most of its chunk records with the old
// one. The second-level stream of a (version 2) signature stream has the
// same header and record layout, but window 0, horizon kSecondLevelHorizon
// and maximum chunk kSecondLevelMaxChunk, and its chunks are cut between
// records only: the first chunk holds the header, and a chunk starts at a
// record whose first 8 hash bytes (as a little-endian number) are strictly
// greater than those of every other record within kSecondLevelHorizon
// records before and after it, or where the chunk would pass
// kSecondLevelMaxRecords records. The comparator reads both levels; a seed
// and a source of different levels are refused.
//
// Both work incrementally on caller buffers and give the same output however
// the input is split. Rebuilding the new file is: for each need, in order,
// copy its range from the old file (SEED) or from the new one (SOURCE).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "update/rdc/DiffIo.h"
#include "update/rdc/RdcCom.h"

namespace DIFF {

constexpr ULONG kReadChunk = 10000;          // input bytes per Process call
constexpr ULONG kGeneratorOutputSize = 10000;  // generator output buffer per call
constexpr ULONG kNeedsPerCall = 1024;        // comparator output records per call
constexpr ULONG kComparatorBufferSize = 3200000;

constexpr unsigned kHashWindow = 48;
constexpr unsigned kHorizon = 1024;
constexpr unsigned kMaxChunk = 65535;
constexpr unsigned kStrongHashSize = 8;
constexpr std::uint8_t kSignatureVersion = 2;
constexpr std::size_t kSignatureHeaderSize = 12;
constexpr std::size_t kSignatureRecordSize = 2 + kStrongHashSize;
constexpr unsigned kVersion1HashSize = 16;
constexpr unsigned kSecondLevelHorizon = 6;
constexpr unsigned kSecondLevelMaxRecords = 64;
constexpr unsigned kSecondLevelMaxChunk = kSignatureHeaderSize + kSecondLevelMaxRecords * kSignatureRecordSize;

// One chunk as a signature stream describes it.
struct ChunkSignature {
  std::uint32_t length = 0;  // 1 .. kMaxChunk
  std::uint8_t hash[kStrongHashSize] = {};
};

// Reads a whole signature stream; false (and nothing stored) when the header
// is not ours, a record is cut short, or a chunk length is 0.
bool ParseSignatureStream(const std::uint8_t* bytes, std::size_t length,
                          std::vector<ChunkSignature>* chunks);

// Turns a file's bytes, fed in pieces, into its signature stream.
class SignatureGenerator {
 public:
  SignatureGenerator();
  ~SignatureGenerator();
  SignatureGenerator(const SignatureGenerator&) = delete;
  SignatureGenerator& operator=(const SignatureGenerator&) = delete;

  // Takes input bytes (input->m_Used grows by what was taken, which may be
  // less than offered while output is waiting: offer the rest again) and
  // fills output (output->m_Used grows by what was written). endOfInput says
  // that the offered bytes are the file's last; *endOfOutput becomes TRUE on
  // the call that has taken all input after endOfInput and written the last
  // signature byte. E_INVALIDARG for null arguments, E_FAIL for a call after
  // the end of output.
  HRESULT Process(BOOL endOfInput, BOOL* endOfOutput, RdcBufferPointer* input,
                  RdcBufferPointer* output);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Compares a source signature stream, fed in pieces, against a seed
// signature stream read whole through a reader.
class SignatureComparator {
 public:
  SignatureComparator();
  ~SignatureComparator();
  SignatureComparator(const SignatureComparator&) = delete;
  SignatureComparator& operator=(const SignatureComparator&) = delete;

  // Reads the seed signatures (in pieces of at most bufferSize bytes) and
  // indexes them. E_INVALIDARG for a null reader or a zero buffer size,
  // E_FAIL when the seed is not a valid signature stream or cannot be read,
  // E_OUTOFMEMORY. Must succeed before Process.
  HRESULT Init(IRdcFileReader* seedSignatures, ULONG bufferSize);

  // Takes source signature bytes (input->m_Used grows; all offered bytes are
  // taken unless the needs array is full) and appends needs to output
  // (output->m_Used grows). *endOfOutput becomes TRUE on the call that has
  // taken all input after endOfInput and written the last need. E_FAIL when
  // the source is not a valid signature stream or the call comes after the
  // end; E_INVALIDARG for null arguments; E_UNEXPECTED before Init.
  HRESULT Process(BOOL endOfInput, BOOL* endOfOutput, RdcBufferPointer* input,
                  RdcNeedPointer* output);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Runs the two procedures over readers, in the program's buffer sizes.
class RdcEngine {
 public:
  // Feeds the reader's bytes to a generator in 10000-byte chunks with a
  // fresh 10000-byte output buffer per call, writing each output to sink.
  // E_INVALIDARG for a null reader or sink; E_FAIL when a read comes back
  // short or the sink refuses; a generator failure is returned as it is.
  HRESULT GenerateSignatures(IRdcFileReader* reader, DIFFWRITER* sink);

  // Compares the source signatures against the seed signatures and writes
  // each need to needsSink as 24 bytes (EncodeNeed), 1024 needs at most per
  // comparator call, with a 3200000-byte comparator buffer. E_INVALIDARG for
  // null arguments; E_FAIL when a read comes back short or the sink refuses;
  // a comparator failure is returned as it is.
  HRESULT CompareSignatures(IRdcFileReader* seedSignatures, IRdcFileReader* sourceSignatures,
                            DIFFWRITER* needsSink);
};

// The signature stream of bytes held in memory: byte for byte what
// RdcEngine::GenerateSignatures writes for the same file.
std::vector<std::uint8_t> MakeSignatureStream(const std::uint8_t* bytes, std::size_t length);

// The same for a file read from its current position to its end. False when
// file is null or a read fails (then *signatures is left empty).
bool MakeSignatureStream(std::FILE* file, std::vector<std::uint8_t>* signatures);

// Appends a version 2 stream header with these chunking parameters.
void AppendSignatureHeader(std::vector<std::uint8_t>& out, unsigned window, unsigned horizon, unsigned maxChunk);

// The second-level stream of a version 2 signature stream held in memory;
// empty when the bytes are not one (a version 1 stream, a damaged one, or a
// second-level stream itself).
std::vector<std::uint8_t> MakeSecondLevelStream(const std::uint8_t* signatures, std::size_t length);

}  // namespace DIFF
