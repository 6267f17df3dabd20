// Starts the real vtl64.exe under Wine and closes it as a user would.
#include <gtest/gtest.h>

#include "WinTestUtil.h"

TEST(Startup, MainWindowOpensAndClosingItEndsTheProgramWithCodeZero) {
  wintest::Process vantle("\"" + wintest::HostToWindowsPath(VANTLE_EXE) + "\"");
  ASSERT_TRUE(vantle.started());

  HWND main = wintest::WaitForTopWindow(vantle.id(), 30000);
  ASSERT_NE(nullptr, main) << "no window appeared";
  EXPECT_EQ("Vantle", wintest::WindowText(main));

  // The title bar's close button arrives as this system command.
  PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
  DWORD exitCode = 12345;
  ASSERT_TRUE(vantle.Wait(30000, &exitCode));
  EXPECT_EQ(0u, exitCode);
}
