# Fails when a core folder includes a system's own headers or picks a platform by #if (the build
# chooses the platform, never the preprocessor), or when a folder includes one above it: the
# platform layer includes only itself and src/common, and no folder below the run sequence
# (src/driver) includes it.
cmake_minimum_required(VERSION 3.25)
set(below common settings launch check runlog patchinfo)  # the folders below src/driver
list(TRANSFORM below PREPEND ${SOURCE_DIR}/src/)
list(TRANSFORM below APPEND /*)
file(GLOB_RECURSE belowDriver ${below})
file(GLOB_RECURSE core ${below} ${SOURCE_DIR}/src/driver/* ${SOURCE_DIR}/src/preflight/*)
file(GLOB_RECURSE platform ${SOURCE_DIR}/src/platform/*)
foreach(source IN LISTS core)
  file(STRINGS ${source} hits REGEX "windows\\.h|unistd\\.h|sys/|_WIN32|__linux|#[ \t]*if")
  if(hits)
    message(SEND_ERROR "${source}: ${hits}")
  endif()
endforeach()
foreach(source IN LISTS belowDriver platform)
  file(STRINGS ${source} hits REGEX "^#include \"[a-z_]+/")
  if(source IN_LIST platform)
    list(FILTER hits EXCLUDE REGEX "^#include \"(platform|common)/")
  else()
    list(FILTER hits INCLUDE REGEX "^#include \"driver/")
  endif()
  if(hits)
    message(SEND_ERROR "${source} includes a folder above its own: ${hits}")
  endif()
endforeach()
