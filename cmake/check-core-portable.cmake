# Fails when a core folder includes a system's own headers or picks a platform by #if: the build
cmake_minimum_required(VERSION 3.25)
# chooses the platform, never the preprocessor.
file(GLOB_RECURSE sources ${SOURCE_DIR}/src/common/* ${SOURCE_DIR}/src/driver/* ${SOURCE_DIR}/src/settings/*
     ${SOURCE_DIR}/src/launch/* ${SOURCE_DIR}/src/check/* ${SOURCE_DIR}/src/runlog/*
     ${SOURCE_DIR}/src/patchinfo/* ${SOURCE_DIR}/src/preflight/*)
foreach(source IN LISTS sources)
  file(STRINGS ${source} hits REGEX "windows\\.h|unistd\\.h|sys/|_WIN32|__linux|#[ \t]*if")
  if(hits)
    message(SEND_ERROR "${source}: ${hits}")
  endif()
endforeach()
