#include "update/rdc/DiffIo.h"

#include <cstring>
#include <new>

namespace DIFF {

bool SameGuid(const GUID& a, const GUID& b) {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         std::memcmp(a.Data4, b.Data4, sizeof(a.Data4)) == 0;
}

HRESULT MemoryDiffWriter::Write(const BYTE* data, ULONG count) {
  if (data == nullptr) return E_INVALIDARG;
  if (count > limit_ - bytes_.size()) return E_OUTOFMEMORY;
  try {
    bytes_.insert(bytes_.end(), data, data + count);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

IRdcFileReader* MemoryDiffWriter::CreateReader() {
  return new (std::nothrow) MemoryRdcFileReader(bytes_.data(), bytes_.size());
}

HRESULT STDMETHODCALLTYPE RdcReaderBase::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (SameGuid(iid, kIidUnknown) || SameGuid(iid, kIidRdcFileReader)) {
    *object = static_cast<IRdcFileReader*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE RdcReaderBase::AddRef() { return static_cast<ULONG>(++refCount_); }

ULONG STDMETHODCALLTYPE RdcReaderBase::Release() {
  if (refCount_ <= 1) {
    // A Release past zero would be a caller's bug; it must not delete twice.
    if (refCount_ == 1) {
      refCount_ = 0;
      delete this;
    }
    return 0;
  }
  return static_cast<ULONG>(--refCount_);
}

MemoryRdcFileReader::MemoryRdcFileReader(const BYTE* data, ULONGLONG length)
    : data_(data), length_(data == nullptr ? 0 : length) {}

HRESULT STDMETHODCALLTYPE MemoryRdcFileReader::GetFileSize(ULONGLONG* fileSize) {
  if (fileSize == nullptr) return E_POINTER;
  *fileSize = length_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE MemoryRdcFileReader::Read(ULONGLONG offsetFileStart, ULONG bytesToRead,
                                                    ULONG* bytesActuallyRead, BYTE* buffer,
                                                    BOOL* eof) {
  position_ = offsetFileStart;
  if (offsetFileStart >= length_) {
    if (bytesActuallyRead != nullptr) *bytesActuallyRead = 0;
    if (eof != nullptr) *eof = TRUE;
    return S_OK;
  }
  const ULONGLONG left = length_ - offsetFileStart;
  const ULONG n = left < bytesToRead ? static_cast<ULONG>(left) : bytesToRead;
  if (n > 0 && buffer == nullptr) return E_POINTER;
  if (n > 0) std::memcpy(buffer, data_ + offsetFileStart, n);
  if (bytesActuallyRead != nullptr) *bytesActuallyRead = n;
  if (eof != nullptr) *eof = left < bytesToRead ? TRUE : FALSE;
  position_ += n;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE MemoryRdcFileReader::GetFilePosition(ULONGLONG* offsetFromStart) {
  if (offsetFromStart == nullptr) return E_POINTER;
  *offsetFromStart = position_;
  return S_OK;
}

namespace {

void PutLittle(BYTE* out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<BYTE>(value >> (8 * i));
}

std::uint64_t GetLittle(const BYTE* in, int bytes) {
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | in[i];
  return value;
}

}  // namespace

void EncodeNeed(const RdcNeed& need, BYTE out[kNeedRecordSize]) {
  PutLittle(out, need.m_BlockType, 4);
  PutLittle(out + 4, 0, 4);
  PutLittle(out + 8, need.m_FileOffset, 8);
  PutLittle(out + 16, need.m_BlockLength, 8);
}

RdcNeed DecodeNeed(const BYTE in[kNeedRecordSize]) {
  RdcNeed need;
  need.m_BlockType = static_cast<RdcNeedType>(GetLittle(in, 4));
  need.m_FileOffset = GetLittle(in + 8, 8);
  need.m_BlockLength = GetLittle(in + 16, 8);
  return need;
}

bool DecodeNeeds(const std::uint8_t* bytes, std::size_t length, std::vector<RdcNeed>* needs) {
  if (needs == nullptr || length % kNeedRecordSize != 0 || (bytes == nullptr && length > 0))
    return false;
  std::vector<RdcNeed> list;
  list.reserve(length / kNeedRecordSize);
  for (std::size_t at = 0; at < length; at += kNeedRecordSize) list.push_back(DecodeNeed(bytes + at));
  *needs = std::move(list);
  return true;
}

}  // namespace DIFF
