# The Linux build's install rules and the Debian package CPack makes of them. The launcher is
# copied from /usr/lib/hotfix-launcher into each bundle inside the prefix: it runs only from there,
# so it is not on PATH; the preflight, which checks a bundle from outside, is.
set(HOTFIX_PACKAGE_MAINTAINER "hotfix-launcher maintainers <hotfix-launcher@example.org>"
    CACHE STRING "The Debian package's maintainer: a packager's own name and address")
set(HOTFIX_LIB_DIR lib/hotfix-launcher)
set(HOTFIX_DOC_DIR share/doc/hotfix-launcher)
# Directories get the same mode whatever the umask of the one who packages.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS hotfix-launcher hotfix-preflight DESTINATION ${HOTFIX_LIB_DIR})
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
file(CREATE_LINK ../${HOTFIX_LIB_DIR}/hotfix-preflight ${PROJECT_BINARY_DIR}/bin/hotfix-preflight
     SYMBOLIC)
install(FILES ${PROJECT_BINARY_DIR}/bin/hotfix-preflight DESTINATION bin)

# Man pages with the version and the release date (SOURCE_DATE_EPOCH's day when it is set) in
# their footer, compressed as Debian keeps them (-n: no name or time stamp in the gzip header).
string(TIMESTAMP HOTFIX_RELEASE_DATE "%Y-%m-%d" UTC)
set(manPages "")
foreach(page IN ITEMS hotfix-launcher.8 hotfix-preflight.8)
  configure_file(${PROJECT_SOURCE_DIR}/docs/man/${page} ${PROJECT_BINARY_DIR}/man/${page} @ONLY)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/${page}.gz
                     COMMAND gzip -9 -n -k -f ${PROJECT_BINARY_DIR}/man/${page}
                     DEPENDS ${PROJECT_BINARY_DIR}/man/${page} VERBATIM)
  list(APPEND manPages ${PROJECT_BINARY_DIR}/man/${page}.gz)
endforeach()
add_custom_target(man_pages ALL DEPENDS ${manPages})
install(FILES ${manPages} DESTINATION share/man/man8)

# The documents, the licence as Debian states it, and the changelog made from CHANGELOG.md.
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/changelog.gz
                   COMMAND ${PROJECT_SOURCE_DIR}/packaging/debian-changelog.sh
                           ${PROJECT_SOURCE_DIR}/CHANGELOG.md hotfix-launcher
                           ${HOTFIX_PACKAGE_MAINTAINER} ${PROJECT_BINARY_DIR}/changelog
                   COMMAND gzip -9 -n -f ${PROJECT_BINARY_DIR}/changelog
                   DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md
                           ${PROJECT_SOURCE_DIR}/packaging/debian-changelog.sh VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.gz)
file(GLOB docs ${PROJECT_SOURCE_DIR}/docs/*.md)
install(FILES README.md ${docs} packaging/copyright ${PROJECT_BINARY_DIR}/changelog.gz
        DESTINATION ${HOTFIX_DOC_DIR})
file(GLOB guides ${PROJECT_SOURCE_DIR}/docs/guides/*.md)
install(FILES ${guides} DESTINATION ${HOTFIX_DOC_DIR}/guides)

# The example bundle's settings and server registry as data, and its installer, a program of this
# architecture, under /usr/lib.
set(exampleDir ${HOTFIX_LIB_DIR}/examples/KB5001234)
install(DIRECTORY examples/KB5001234 DESTINATION share/hotfix-launcher/examples)
install(PROGRAMS $<TARGET_FILE:example_installer> DESTINATION ${exampleDir} RENAME KB5001234.exe)
install(FILES packaging/lintian-overrides DESTINATION share/lintian/overrides RENAME hotfix-launcher)

# The programs stripped as Debian strips them, the compiler's .comment note included; CMake strips
# only what install(TARGETS) installs, and keeps that note.
set(programs ${HOTFIX_LIB_DIR}/hotfix-launcher ${HOTFIX_LIB_DIR}/hotfix-preflight
    ${exampleDir}/KB5001234.exe)
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program IN ITEMS ${programs})
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment
                              \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${program}\"
                      COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()")

# Installing and packaging take what is built: a release builds the programs, man pages and
# changelog it ships, not the tests.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hotfix-launcher)
set(CPACK_PACKAGE_VERSION ${HOTFIX_VERSION})
set(CPACK_PACKAGE_VENDOR "hotfix-launcher developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "one-shot patch launcher for hotfix bundles, Linux port")
set(CPACK_PACKAGE_DESCRIPTION
    "The Linux port of a windowless, one-shot patch launcher for Windows\n"
    "servers. Copied into a hotfix bundle inside its prefix, it runs the\n"
    "bundle's installer, checks the registry value that Installer.ini names,\n"
    "and records the patch or the installer's log in its run log.\n"
    "hotfix-preflight tells what a bundle's launcher would do, without\n"
    "changing anything.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${HOTFIX_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# What dpkg-shlibdeps finds for the three programs: the launcher needs only the C library, the
# preflight nettle too (for SHA-256), the example installer the C++ runtime.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libnettle8, libstdc++6 (>= 5)")
# The postinst makes the default prefix's drive C; the postrm keeps the prefix on purge once runs
# have used it.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/postinst
    ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
