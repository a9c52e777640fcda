# Fails unless PROGRAM carries the version resource of release VERSION (x.y.z): the fixed file
# information with FILEVERSION and PRODUCTVERSION x.y.z.0, and the product name and version strings
# as Explorer and inventory tools read them.
cmake_minimum_required(VERSION 3.25)
file(READ ${PROGRAM} image HEX)

# Hex of a 32-bit little-endian word.
function(word_hex high low out)
  math(EXPR value "(${high} << 16) | ${low}" OUTPUT_FORMAT HEXADECIMAL)
  string(REGEX REPLACE "^0x" "" value "${value}")
  string(LENGTH "${value}" length)
  math(EXPR pad "8 - ${length}")
  string(REPEAT "0" ${pad} zeros)
  set(value "${zeros}${value}")
  string(REGEX REPLACE "(..)(..)(..)(..)" "\\4\\3\\2\\1" value "${value}")
  set(${out} ${value} PARENT_SCOPE)
endfunction()

# VS_FIXEDFILEINFO: signature, structure version, then file and product version, each as the
# words major.minor and patch.0.
string(REPLACE "." ";" parts "${VERSION}")
list(GET parts 0 major)
list(GET parts 1 minor)
list(GET parts 2 patch)
word_hex(${major} ${minor} versionMS)
word_hex(${patch} 0 versionLS)
set(fixed "bd04effe00000100${versionMS}${versionLS}${versionMS}${versionLS}")
if(NOT image MATCHES "${fixed}")
  message(FATAL_ERROR "${PROGRAM} has no fixed file information for version ${VERSION}.0")
endif()

# Each string pair as the resource stores it: the key and its value in UTF-16LE, with no room
# between them for anything but the terminator and alignment.
get_filename_component(name ${PROGRAM} NAME)
foreach(pair IN ITEMS "ProductName=hotfix-launcher" "ProductVersion=${VERSION}"
                      "FileVersion=${VERSION}" "OriginalFilename=${name}")
  string(REPLACE "=" ";" pair "${pair}")
  set(hexes "")
  foreach(text IN LISTS pair)
    string(HEX "${text}" hex)
    string(REGEX REPLACE "(..)" "\\100" hex "${hex}")
    list(APPEND hexes ${hex})
  endforeach()
  list(GET hexes 0 key)
  list(GET hexes 1 value)
  if(NOT image MATCHES "${key}(0000)+${value}0000")
    list(GET pair 0 keyText)
    list(GET pair 1 valueText)
    message(FATAL_ERROR "${PROGRAM} lacks the version string ${keyText} \"${valueText}\"")
  endif()
  message(STATUS "${pair}")
endforeach()
