#include "update/rdc/RdcEngine.h"

#include <cstring>
#include <new>

namespace DIFF {

namespace {

// The input side shared by both procedures: the next chunk of at most
// kReadChunk bytes from the reader at position. False when the reader fails
// or comes back short.
bool ReadChunk(IRdcFileReader* reader, ULONGLONG position, std::uint8_t* buffer, ULONG* chunk,
               BOOL* endOfInput) {
  ULONGLONG size = 0;
  if (FAILED(reader->GetFileSize(&size)) || position > size) return false;
  const ULONGLONG remaining = size - position;
  *chunk = remaining < kReadChunk ? static_cast<ULONG>(remaining) : kReadChunk;
  *endOfInput = remaining <= kReadChunk ? TRUE : FALSE;
  if (*chunk == 0) return true;
  ULONG got = 0;
  BOOL eof = FALSE;
  if (FAILED(reader->Read(position, *chunk, &got, buffer, &eof))) return false;
  return got >= *chunk;
}

}  // namespace

HRESULT RdcEngine::GenerateSignatures(IRdcFileReader* reader, DIFFWRITER* sink) {
  if (reader == nullptr || sink == nullptr) return E_INVALIDARG;
  SignatureGenerator generator;
  std::uint8_t input[kReadChunk];
  std::uint8_t output[kGeneratorOutputSize];
  ULONGLONG position = 0;
  for (;;) {
    ULONG chunk = 0;
    BOOL endOfInput = FALSE;
    if (!ReadChunk(reader, position, input, &chunk, &endOfInput)) return E_FAIL;
    RdcBufferPointer in{chunk, 0, input};
    RdcBufferPointer out{kGeneratorOutputSize, 0, output};
    BOOL endOfOutput = FALSE;
    const HRESULT hr = generator.Process(endOfInput, &endOfOutput, &in, &out);
    if (FAILED(hr)) return hr;
    position += in.m_Used;
    if (out.m_Used > 0 && FAILED(sink->Write(output, out.m_Used))) return E_FAIL;
    if (endOfOutput) return S_OK;
    // A call that takes and gives nothing would repeat forever.
    if (in.m_Used == 0 && out.m_Used == 0) return E_FAIL;
  }
}

HRESULT RdcEngine::CompareSignatures(IRdcFileReader* seedSignatures, IRdcFileReader* sourceSignatures,
                                     DIFFWRITER* needsSink) {
  if (seedSignatures == nullptr || sourceSignatures == nullptr || needsSink == nullptr)
    return E_INVALIDARG;
  SignatureComparator comparator;
  HRESULT hr = comparator.Init(seedSignatures, kComparatorBufferSize);
  if (FAILED(hr)) return hr;
  std::uint8_t input[kReadChunk];
  std::vector<RdcNeed> needs;
  try {
    needs.resize(kNeedsPerCall);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  ULONGLONG position = 0;
  for (;;) {
    ULONG chunk = 0;
    BOOL endOfInput = FALSE;
    if (!ReadChunk(sourceSignatures, position, input, &chunk, &endOfInput)) return E_FAIL;
    RdcBufferPointer in{chunk, 0, input};
    RdcNeedPointer out{kNeedsPerCall, 0, needs.data()};
    BOOL endOfOutput = FALSE;
    hr = comparator.Process(endOfInput, &endOfOutput, &in, &out);
    if (FAILED(hr)) return hr;
    position += in.m_Used;
    for (ULONG i = 0; i < out.m_Used; ++i) {
      BYTE record[kNeedRecordSize];
      EncodeNeed(needs[i], record);
      if (FAILED(needsSink->Write(record, kNeedRecordSize))) return E_FAIL;
    }
    if (endOfOutput) return S_OK;
    if (in.m_Used == 0 && out.m_Used == 0) return E_FAIL;
  }
}

std::vector<std::uint8_t> MakeSignatureStream(const std::uint8_t* bytes, std::size_t length) {
  MemoryRdcFileReader* reader = new (std::nothrow) MemoryRdcFileReader(bytes, length);
  if (reader == nullptr) return {};
  MemoryDiffWriter sink;
  const HRESULT hr = RdcEngine().GenerateSignatures(reader, &sink);
  reader->Release();
  if (FAILED(hr)) return {};
  return sink.TakeBytes();
}

bool MakeSignatureStream(std::FILE* file, std::vector<std::uint8_t>* signatures) {
  if (signatures == nullptr) return false;
  signatures->clear();
  if (file == nullptr) return false;
  SignatureGenerator generator;
  std::vector<std::uint8_t> result;
  std::uint8_t input[kReadChunk];
  std::uint8_t output[kGeneratorOutputSize];
  std::size_t have = 0;  // bytes in input not yet taken
  bool atEnd = false;
  for (;;) {
    if (!atEnd && have < kReadChunk) {
      have += std::fread(input + have, 1, kReadChunk - have, file);
      if (have < kReadChunk) {
        if (std::ferror(file)) return false;
        atEnd = true;
      }
    }
    RdcBufferPointer in{static_cast<ULONG>(have), 0, input};
    RdcBufferPointer out{kGeneratorOutputSize, 0, output};
    BOOL endOfOutput = FALSE;
    if (FAILED(generator.Process(atEnd ? TRUE : FALSE, &endOfOutput, &in, &out))) return false;
    result.insert(result.end(), output, output + out.m_Used);
    std::memmove(input, input + in.m_Used, have - in.m_Used);
    have -= in.m_Used;
    if (endOfOutput) break;
  }
  *signatures = std::move(result);
  return true;
}

}  // namespace DIFF
