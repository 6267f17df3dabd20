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

}  // namespace VULIBRARY
