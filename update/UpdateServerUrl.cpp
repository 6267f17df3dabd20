// The endpoint comes from the build (CMake cache variable
// VANTLE_UPDATE_SERVER_URL), so that a build can name its own server.
#include "update/UpdateProtocol.h"

#ifndef VANTLE_UPDATE_SERVER_URL
#error "VANTLE_UPDATE_SERVER_URL must be defined by the build"
#endif

#define VANTLE_WIDE_LITERAL(text) L##text
#define VANTLE_WIDE(text) VANTLE_WIDE_LITERAL(text)

namespace VULIBRARY {
const wchar_t* const UpdateServerUrl = VANTLE_WIDE(VANTLE_UPDATE_SERVER_URL);
}  // namespace VULIBRARY
