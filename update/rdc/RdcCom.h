// The COM vocabulary of the delta engine, the same on Windows and elsewhere.
//
// On Windows the engine's readers are real COM objects: HRESULT, GUID,
// IUnknown and the status codes come from the system headers, so a reader
// made here can be handed to any code that expects an IUnknown. Elsewhere
// (the update server, the native tests) small stand-ins with the same names,
// sizes and values take their place.
//
// The reader interface, the need record and the buffer descriptors are
// declared here in both trees, with the names, layout and interface
// identifier that the system's differential compression library uses (its
// own header is not usable with this tool chain).
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <unknwn.h>
#else

typedef std::int32_t HRESULT;
typedef std::int32_t LONG;
typedef std::uint32_t ULONG;
typedef unsigned long long ULONGLONG;
typedef unsigned char BYTE;
typedef int BOOL;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#ifndef STDMETHODCALLTYPE
#define STDMETHODCALLTYPE
#endif
#ifndef SUCCEEDED
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#endif
#ifndef FAILED
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
#endif

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};
typedef GUID IID;
typedef const GUID& REFIID;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);

// The root of every reader: identity and reference counting.
struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;

 protected:
  ~IUnknown() = default;  // objects go away through Release, never delete
};

#endif  // !_WIN32

static_assert(sizeof(HRESULT) == 4 && sizeof(ULONG) == 4 && sizeof(ULONGLONG) == 8,
              "the reader interface relies on these widths");
static_assert(sizeof(GUID) == 16, "GUID is 16 bytes");

// Random-access reading of a file-like byte range.
struct IRdcFileReader : public IUnknown {
  // The range's length in bytes.
  virtual HRESULT STDMETHODCALLTYPE GetFileSize(ULONGLONG* fileSize) = 0;
  // Up to bytesToRead bytes at offsetFileStart into buffer; *eof is TRUE when
  // the request reached past the end. Reading at or past the end gives 0
  // bytes and end of file, and is not an error.
  virtual HRESULT STDMETHODCALLTYPE Read(ULONGLONG offsetFileStart, ULONG bytesToRead,
                                         ULONG* bytesActuallyRead, BYTE* buffer, BOOL* eof) = 0;
  // Where the last read left off.
  virtual HRESULT STDMETHODCALLTYPE GetFilePosition(ULONGLONG* offsetFromStart) = 0;
};

// What one range of a new version is rebuilt from.
enum RdcNeedType : std::uint32_t {
  RDCNEED_SOURCE = 0,  // bytes of the new version itself (fetched from the server)
  RDCNEED_TARGET = 1,  // not produced by this engine; skipped by readers of a needs list
  RDCNEED_SEED = 2,    // bytes of the old version (the installed file)
};

// One entry of a needs list. Offsets count in the file the type names.
// Stored and sent as 24 bytes: type (4, little-endian), 4 zero bytes,
// offset (8), length (8) -- the in-memory layout on both platforms.
struct RdcNeed {
  RdcNeedType m_BlockType;
  ULONGLONG m_FileOffset;
  ULONGLONG m_BlockLength;
};
static_assert(sizeof(RdcNeed) == 24, "a need record is 24 bytes");

// A caller's byte buffer: m_Size bytes at m_Data of which m_Used are taken
// (input) or filled (output) by a Process call.
struct RdcBufferPointer {
  ULONG m_Size;
  ULONG m_Used;
  BYTE* m_Data;
};

// A caller's array of m_Size need records, m_Used of them filled.
struct RdcNeedPointer {
  ULONG m_Size;
  ULONG m_Used;
  RdcNeed* m_Data;
};

namespace DIFF {

// {00000000-0000-0000-C000-000000000046}
inline constexpr GUID kIidUnknown = {0x00000000, 0x0000, 0x0000,
                                     {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {96236A74-9DBC-11DA-9E3F-0011114AE311}
inline constexpr GUID kIidRdcFileReader = {0x96236A74, 0x9DBC, 0x11DA,
                                           {0x9E, 0x3F, 0x00, 0x11, 0x11, 0x4A, 0xE3, 0x11}};

// Field-by-field comparison (no padding in a GUID, but no operator needed).
bool SameGuid(const GUID& a, const GUID& b);

}  // namespace DIFF
