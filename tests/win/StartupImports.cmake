# The system libraries vtl64.exe has loaded before it starts: no window's.
# Any other (the common controls take tens of milliseconds
# under Wine) must be delay-loaded, or the start pays for it before the
# library can be read.
#   cmake -DOBJDUMP=... -DEXE=... -P StartupImports.cmake
cmake_minimum_required(VERSION 3.25)
set(allowed ADVAPI32.dll KERNEL32.dll msvcrt.dll ntdll.dll)
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "DLL Name: [^\n]+" names "${dump}")
list(TRANSFORM names REPLACE "DLL Name: " "")
if(NOT names)
  message(FATAL_ERROR "no imports read from ${EXE}")
endif()
foreach(name IN LISTS names)
  if(NOT name IN_LIST allowed)
    message(FATAL_ERROR "${EXE} loads ${name} before it starts; delay-load it (vantle_delay_load)")
  endif()
endforeach()
message(STATUS "loaded before the start: ${names}")
