#include "update/SignatureDelta.h"

#include "update/rdc/RdcEngine.h"

namespace VULIBRARY {

bool WantsSecondLevel(const UpdateFile& file, std::size_t localSignatureBytes) {
  return !file.signatureName.empty() && localSignatureBytes >= kSecondLevelMinBytes;
}

std::wstring SecondLevelName(const std::wstring& signatureName) { return signatureName + L".sig"; }

bool CompareSignatureStreams(const std::uint8_t* seed, std::size_t seedLength, const std::uint8_t* source,
                             std::size_t sourceLength, std::uint64_t seedSize, std::vector<Need>* needs) {
  DIFF::MemoryRdcFileReader* seedReader = new DIFF::MemoryRdcFileReader(seed, seedLength);
  DIFF::MemoryRdcFileReader* sourceReader = new DIFF::MemoryRdcFileReader(source, sourceLength);
  // A hostile stream can describe millions of tiny chunks: the list stops
  // growing where no request could fetch it.
  DIFF::MemoryDiffWriter sink(kMaxNeeds * kNeedRecordBytes);
  const HRESULT compared = DIFF::RdcEngine().CompareSignatures(seedReader, sourceReader, &sink);
  seedReader->Release();
  sourceReader->Release();
  return SUCCEEDED(compared) && ReadNeeds(sink.TakeBytes(), seedSize, needs);
}

bool SecondLevelNeeds(const std::vector<std::uint8_t>& localSignatures, const std::string& remoteSecondLevel,
                      std::vector<Need>* needs) {
  const std::vector<std::uint8_t> local = DIFF::MakeSecondLevelStream(localSignatures.data(), localSignatures.size());
  if (local.empty()) return false;
  // Only a second-level stream is compared with one: anything else in the
  // reply is refused here.
  if (!CompareSignatureStreams(local.data(), local.size(), reinterpret_cast<const std::uint8_t*>(remoteSecondLevel.data()),
                               remoteSecondLevel.size(), localSignatures.size(), needs))
    return false;
  JoinNearSourceRanges(*needs);
  return true;
}

}  // namespace VULIBRARY
