# Fails unless PROGRAM is a Windows program of SUBSYSTEM (gui: the launcher, which reads the time
# for its records; console: the preflight) that imports kernel32, advapi32 and msvcrt only, takes
# any time from msvcrt's 64-bit time functions (the 32-bit ones stop at 19 January 2038), and
# imports nothing newer than Windows 7 by name.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} could not read ${PROGRAM}")
endif()
if(SUBSYSTEM STREQUAL "console")
  set(subsystemNumber 3)
else()
  set(subsystemNumber 2)
endif()
if(NOT dump MATCHES "Subsystem[ \t]+0000000${subsystemNumber}")
  message(FATAL_ERROR "${PROGRAM} is not a ${SUBSYSTEM}-subsystem program")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
set(allowed kernel32.dll advapi32.dll msvcrt.dll)
foreach(line IN LISTS imports)
  string(REPLACE "DLL Name: " "" dll "${line}")
  string(TOLOWER "${dll}" dll)
  if(NOT dll IN_LIST allowed)
    message(FATAL_ERROR "${PROGRAM} imports ${dll}, which is not a system DLL")
  endif()
  message(STATUS "imports ${dll}")
endforeach()

# The names each DLL's import table lists: its "DLL Name:" line is followed by one line per name,
# which ends in the name, up to the next blank line.
string(REGEX MATCH "DLL Name: msvcrt.dll\n[^\n]*\n(([^\n]+\n)*)" msvcrt "${dump}")
string(REGEX MATCHALL "[^ \t\n]+\n" msvcrtNames "${CMAKE_MATCH_1}")
string(REPLACE "\n" "" msvcrtNames "${msvcrtNames}")
set(timeNames _time64 _localtime64)
if(SUBSYSTEM STREQUAL "console")
  set(timeNames "")
endif()
foreach(name IN ITEMS ${timeNames})
  if(NOT name IN_LIST msvcrtNames)
    message(FATAL_ERROR "${PROGRAM} does not import ${name} from msvcrt.dll")
  endif()
endforeach()
foreach(name IN ITEMS time localtime _time32 _localtime32)
  if(name IN_LIST msvcrtNames)
    message(FATAL_ERROR "${PROGRAM} imports ${name} from msvcrt.dll, which stops in 2038")
  endif()
endforeach()

# Both must start on Windows 7 without update KB2533623, where kernel32.dll lacks these: they look
# up what they need of them at run time.
string(REGEX MATCH "[ \t](SetDefaultDllDirectories|AddDllDirectory|RemoveDllDirectory)\n" newer "${dump}")
if(newer)
  message(FATAL_ERROR "${PROGRAM} imports ${CMAKE_MATCH_1}, which Windows 7 may lack")
endif()
