// The endpoint of the vtl64.exe builds that the self-update test publishes
// and runs: a fixed port on loopback, where the test starts its server. It
// takes the place of the program's own endpoint at link time. The two
// releases differ in the label below and nothing else.
#include "update/UpdateProtocol.h"

#define VANTLE_WIDE_LITERAL(text) L##text
#define VANTLE_WIDE(text) VANTLE_WIDE_LITERAL(text)

namespace VULIBRARY {
const wchar_t* const UpdateServerUrl =
    L"http://127.0.0.1:" VANTLE_WIDE(VANTLE_TEST_UPDATE_PORT) L"/update/u.php";
}  // namespace VULIBRARY

extern const char VantleTestRelease[] = VANTLE_TEST_RELEASE;
