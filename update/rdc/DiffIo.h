// Sinks and readers that connect the delta engine to the program's buffers.
//
//   DIFF::MemoryDiffWriter sig;                       // collects a signature stream
//   DIFF::RdcEngine().GenerateSignatures(fileReader, &sig);
//   IRdcFileReader* seed = sig.CreateReader();        // reads sig's bytes, no copy
//   ...
//   seed->Release();                                  // before sig goes away
//
// Readers are made with one reference, owned by whoever made them. They are
// used by one thread: their counts are plain integers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "update/rdc/RdcCom.h"

namespace DIFF {

// Abstract sink for the bytes a procedure produces (signatures, needs).
class DIFFWRITER {
 public:
  virtual ~DIFFWRITER() = default;
  // Appends count bytes. Null data is E_INVALIDARG (even for count 0).
  virtual HRESULT Write(const BYTE* data, ULONG count) = 0;
  // A new reader over everything written so far, with one reference owned by
  // the caller; null when it cannot be made.
  virtual IRdcFileReader* CreateReader() = 0;
  // Completes the output for sinks that hold some back; nothing calls it yet.
  virtual HRESULT Finish() = 0;
};

// A sink whose data is one growable byte buffer, empty when made, and never
// longer than its limit.
class MemoryDiffWriter : public DIFFWRITER {
 public:
  explicit MemoryDiffWriter(std::size_t limit = SIZE_MAX) : limit_(limit) {}
  // E_OUTOFMEMORY when it cannot grow or would pass its limit (then nothing
  // of data is kept).
  HRESULT Write(const BYTE* data, ULONG count) override;
  // Reads the buffer in place: this writer must outlive the reader and must
  // not be written to while the reader is in use.
  IRdcFileReader* CreateReader() override;
  HRESULT Finish() override { return E_NOTIMPL; }

  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
  std::vector<std::uint8_t> TakeBytes() { return std::move(bytes_); }

 private:
  std::size_t limit_;
  std::vector<std::uint8_t> bytes_;
};

// The IUnknown half of every reader: QueryInterface answers IUnknown and
// IRdcFileReader (storing the object and adding a reference), anything else
// with E_NOINTERFACE and a null object; a null out pointer is E_POINTER.
// Release deletes the object when the last reference goes. Derived readers
// supply the three IRdcFileReader operations.
class RdcReaderBase : public IRdcFileReader {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

 protected:
  RdcReaderBase() = default;
  virtual ~RdcReaderBase() = default;
  RdcReaderBase(const RdcReaderBase&) = delete;
  RdcReaderBase& operator=(const RdcReaderBase&) = delete;

 private:
  LONG refCount_ = 1;
};

// A reader over a memory range that it does not own.
class MemoryRdcFileReader : public RdcReaderBase {
 public:
  // Null data is taken as an empty range. Made with one reference.
  MemoryRdcFileReader(const BYTE* data, ULONGLONG length);

  HRESULT STDMETHODCALLTYPE GetFileSize(ULONGLONG* fileSize) override;
  // Copies min(bytesToRead, length - offset) bytes (none at or past the end)
  // and moves the position past them; *eof is TRUE when the request reached
  // past the end. bytesActuallyRead and eof are filled when not null; a null
  // buffer with something to copy is E_POINTER.
  HRESULT STDMETHODCALLTYPE Read(ULONGLONG offsetFileStart, ULONG bytesToRead,
                                 ULONG* bytesActuallyRead, BYTE* buffer, BOOL* eof) override;
  HRESULT STDMETHODCALLTYPE GetFilePosition(ULONGLONG* offsetFromStart) override;

 private:
  const BYTE* data_;
  ULONGLONG length_;
  ULONGLONG position_ = 0;
};

// Needs lists as bytes: 24 bytes per record (see RdcNeed).
constexpr std::size_t kNeedRecordSize = 24;
void EncodeNeed(const RdcNeed& need, BYTE out[kNeedRecordSize]);
RdcNeed DecodeNeed(const BYTE in[kNeedRecordSize]);
// The records of a whole list; false (and nothing stored) when the length is
// not a multiple of 24. Types are passed through as stored.
bool DecodeNeeds(const std::uint8_t* bytes, std::size_t length, std::vector<RdcNeed>* needs);

}  // namespace DIFF
