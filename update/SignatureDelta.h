// A large file's signature stream fetched as a delta of the client's own.
//
// The installed file's signatures, which the client makes anyway, share most
// of their chunk records with the new version's. So for a large file the
// client first asks for the second-level signatures of the new stream
// (signatureName + ".sig"), compares them with the second level of its own
// stream, and then fetches only the changed ranges of the new stream (ranges
// of signatureName), rebuilding the rest from its own. Below
// kSecondLevelMinBytes of signatures the extra request costs more than it
// saves, and the stream is fetched whole, as servers without second-level
// signatures send it anyway.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "update/UpdateProtocol.h"

namespace VULIBRARY {

constexpr std::size_t kSecondLevelMinBytes = 4096;

bool WantsSecondLevel(const UpdateFile& file, std::size_t localSignatureBytes);
std::wstring SecondLevelName(const std::wstring& signatureName);

// The ranges of the new signature stream, given its second-level signatures
// (remoteSecondLevel, as the server sent them), that the client's own stream
// (localSignatures) lacks: a needs list over the new stream, near source
// ranges joined. False when the second-level stream is damaged or not one,
// or describes more than ReadNeeds accepts, or is longer than the second
// level of the largest list a published file can have (a hostile stream of
// millions of tiny records would otherwise cost seconds to compare); the
// caller then fetches the stream whole.
bool SecondLevelNeeds(const std::vector<std::uint8_t>& localSignatures, const std::string& remoteSecondLevel,
                      std::vector<Need>* needs);

// The needs list of a source signature stream against a seed one, both in
// memory, as ReadNeeds checks it for a seed of seedSize bytes. False when
// either stream is refused or the list is.
bool CompareSignatureStreams(const std::uint8_t* seed, std::size_t seedLength, const std::uint8_t* source,
                             std::size_t sourceLength, std::uint64_t seedSize, std::vector<Need>* needs);

// Range requests ask the server to send all the ranges of one file as one
// zip entry, one after another (the query parameter j=1 on the request's
// URL): an entry's headers cost about a hundred bytes per range, and the
// ranges compress together. Servers that predate it ignore the parameter
// and send one entry per range; ReadRangeEntries takes either.
std::wstring JoinedRangesUrl(const std::wstring& url);

// The bytes of each range asked for, given their lengths in field order,
// from a zip reply holding one entry per range or one entry with all of
// them. False when the reply is neither, or an entry is not its length.
bool ReadRangeEntries(const std::string& reply, const std::vector<std::uint64_t>& lengths,
                      std::vector<std::string>* entries);

// Primed ranges (d=1 beside j=1): the client rebuilds the new file in order,
// so when a fetched range comes it already holds the 32 KB of the new file
// before it, copied from its own file or fetched. The server deflates each
// range with those bytes as dictionary, which lets a range refer to the
// bytes the client did not need to fetch. Such an entry is named after the
// file with "?d=1" added and holds whole raw deflate streams one after
// another, none crossing a range; a server that does not prime sends either
// form ReadRangeEntries reads, under the file's own name.
std::wstring PrimedRangesUrl(const std::wstring& url);
constexpr char kPrimedEntrySuffix[] = "?d=1";

// Reads length bytes of the installed file from offset into *out; false when
// it cannot.
using SeedReader = std::function<bool(std::uint64_t offset, std::uint64_t length, std::string* out)>;

// The bytes of each source need of needs (a rebuild of one file, fileName
// being the name the request gave it), from the reply to a primed request,
// in either form. *primed tells which came. False when the reply is neither
// form of those ranges: a primed entry must end every stream exactly at its
// range's end or within it, leave nothing over, and have its CRC and length.
bool ReadPrimedRangeEntries(const std::string& reply, const std::string& fileName, const std::vector<Need>& needs,
                            const SeedReader& seed, std::vector<std::string>* entries, bool* primed = nullptr);

// Block sums of the ranges still lacking (update/BlockSums.h): asked for by
// the name BlockSumsName(file) with the ranges of the needs, on
// BlockSumsUrl(url, block), once the chunk comparison is done and only when
// that leaves at least kMinSumsLiteral bytes to fetch, where the sums and
// their request cost less than what they find. A server that has no sums
// refuses the name; the ranges are then fetched as they are.
constexpr std::uint64_t kMinSumsLiteral = 32 * 1024;
std::wstring BlockSumsName(const std::wstring& name);
std::wstring BlockSumsUrl(const std::wstring& url, std::size_t block);
// The block size for literal bytes still lacking: a power of two from 256 to
// 2048 near a quarter of their square root (measured on releases of real
// binaries: smaller blocks find more but their sums cost more than that
// saves, larger ones find too little).
std::size_t SumsBlockFor(std::uint64_t literal);
// The bytes the sums of a source need of length bytes take.
std::uint64_t SumsLength(std::uint64_t length, std::size_t block);

// needs with each whole block of its source needs that seed holds (at any
// offset, same sums) turned into a seed need; sums[k] are the sums of the
// k-th source need. False when a sums entry is not the length its range
// asks for, or when the result holds more source ranges than a request
// may carry: the caller then keeps needs as they are.
bool MatchBlockSums(const std::vector<Need>& needs, const std::vector<std::string>& sums, std::size_t block,
                    const std::uint8_t* seed, std::size_t seedSize, std::vector<Need>* out);

}  // namespace VULIBRARY
