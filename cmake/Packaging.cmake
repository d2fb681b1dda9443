# The install rules and the release files: the Linux tree, the Debian and RPM packages and the
# tarball, or the Windows zip. Included by CMakeLists.txt once the programs are defined.

# Whatever is time-stamped takes the last commit's time. Outside git (an unpacked source archive),
# the top file's time stands in, which is the commit's time in an archive made by git.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(PRESIZER_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git log -1 --format=%ct
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    OUTPUT_VARIABLE PRESIZER_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT PRESIZER_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    file(TIMESTAMP ${PROJECT_SOURCE_DIR}/CMakeLists.txt PRESIZER_SOURCE_DATE_EPOCH "%s" UTC)
  endif()
endif()

# Install and release archives. The Linux tree follows the usual layout (bin, share/man/man1,
# share/doc); the Windows zip holds the program and the README side by side.
include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
if(WIN32)
  # No one opens a manual page on Windows: the zip carries it as plain ASCII text with CR LF,
  # which every Notepad shows. Its only date is the page's own.
  find_program(PRESIZER_GROFF groff REQUIRED)
  set(PRESIZER_REFERENCE ${CMAKE_BINARY_DIR}/PRESIZER.txt)
  add_custom_command(OUTPUT ${PRESIZER_REFERENCE}
    COMMAND sh -c "'${PRESIZER_GROFF}' -man -Tascii -P-cbou docs/presizer.1 | sed 's/.*/&\\r/' > '${PRESIZER_REFERENCE}'"
    DEPENDS docs/presizer.1 WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} VERBATIM)
  add_custom_target(reference ALL DEPENDS ${PRESIZER_REFERENCE})
  install(TARGETS presizer RUNTIME DESTINATION .)
  install(FILES README.md LICENSE ${PRESIZER_REFERENCE} DESTINATION .)
  set(CPACK_PACKAGE_NAME PRESIZER)
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_GENERATOR ZIP)
else()
  set(PRESIZER_MAINTAINER "PRESIZER developers <presizer@presizer.invalid>")
  set(ENV{SOURCE_DATE_EPOCH} ${PRESIZER_SOURCE_DATE_EPOCH})
  string(TIMESTAMP PRESIZER_RELEASE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  configure_file(packaging/deb/changelog.in ${CMAKE_BINARY_DIR}/changelog @ONLY)
  # Compressed the way Debian wants them: gzip -9n keeps neither the name nor the time.
  foreach(page IN ITEMS docs/presizer.1 ${CMAKE_BINARY_DIR}/changelog)
    get_filename_component(name ${page} NAME)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${name}.gz
      COMMAND gzip -9n -c ${page} > ${CMAKE_BINARY_DIR}/${name}.gz
      DEPENDS ${page} WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
    list(APPEND PRESIZER_GZIPPED ${CMAKE_BINARY_DIR}/${name}.gz)
  endforeach()
  add_custom_target(gzipped_docs ALL DEPENDS ${PRESIZER_GZIPPED})
  # Two programs for three release files: the Debian package takes the one linked against libc,
  # the tarball and the RPM package the static one, since an RPM system's libc may be older than
  # ours. The licence goes where each format keeps it: the tarball's top folder, the Debian
  # copyright file (the tarball carries that too), the RPM's licence folder. Installing from the
  # tree gives the Debian package's files.
  install(TARGETS presizer RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT deb)
  if(TARGET presizer_static)
    install(TARGETS presizer_static RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
      COMPONENT static EXCLUDE_FROM_ALL)
  endif()
  install(FILES LICENSE DESTINATION . COMPONENT tarball EXCLUDE_FROM_ALL)
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/licenses/presizer
    COMPONENT rpm EXCLUDE_FROM_ALL)
  install(FILES ${CMAKE_BINARY_DIR}/presizer.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/presizer)
  install(FILES packaging/deb/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/presizer
    COMPONENT copyright)
  set(CPACK_PACKAGE_NAME presizer)
  # Tarballs are named by `uname -m`, packages by `dpkg --print-architecture`.
  set(CPACK_SYSTEM_NAME Linux-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_GENERATOR TGZ DEB RPM)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_RPM_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(deb_architecture_x86_64 amd64)
  set(deb_architecture_aarch64 arm64)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${deb_architecture_${CMAKE_SYSTEM_PROCESSOR}})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${PRESIZER_MAINTAINER})
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "bring one file to a requested size at once")
  set(CPACK_PACKAGE_DESCRIPTION [=[
presizer gives a file, new or existing, the length asked for in one step.
When the file grows, the new space is reserved with fallocate(2) without
any data being written; asked not to, it sets the end of file instead,
leaving a hole. The file's existing bytes are never read or written.]=])
  # The RPM package, named as RPM tools expect (name-version-release.arch.rpm). Requires holds only
  # what rpm adds itself: rpm's scan of the static program finds no library. rpmlint, run with
  # packaging/rpm/rpmlint.toml, reports no error and four warnings:
  # - position-independent-executable-suggested: the program is the tarball's, linked -static.
  # - no-url-tag: the project has no web page.
  # - invalid-license MIT: Debian's rpmlint has no list of licence names, so it knows none. MIT is
  #   the SPDX name that Fedora, RHEL, SUSE and Amazon Linux use.
  # - no-manual-page-for-binary: rpmlint 2.4 looks for the program's name among the manual pages'
  #   sections (man1), not their names; the page is /usr/share/man/man1/presizer.1.gz.
  set(CPACK_RPM_PACKAGE_ARCHITECTURE ${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
  set(CPACK_RPM_PACKAGE_RELEASE 1)
  set(CPACK_RPM_PACKAGE_LICENSE MIT)
  set(CPACK_RPM_PACKAGE_GROUP "Applications/System")
  set(CPACK_RPM_PACKAGE_VENDOR "PRESIZER developers")
  set(CPACK_RPM_PACKAGE_SUMMARY "Bring one file to a requested size at once")
  set(CPACK_RPM_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
  # The package owns its own two folders; these belong to the system.
  set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
    /usr/share/man /usr/share/man/man1 /usr/share/licenses)
  set(CPACK_RPM_USER_FILELIST "%license /usr/share/licenses/presizer/LICENSE")
  string(TIMESTAMP PRESIZER_RPM_DATE "%a %b %d %Y" UTC)
  file(WRITE ${CMAKE_BINARY_DIR}/rpm-changelog
    "* ${PRESIZER_RPM_DATE} ${PRESIZER_MAINTAINER} - ${PROJECT_VERSION}-1\n"
    "- Release ${PROJECT_VERSION}; the changes are in the project's history.\n")
  set(CPACK_RPM_CHANGELOG_FILE ${CMAKE_BINARY_DIR}/rpm-changelog)
  # The packager is a macro, not a CPack setting. Build time and host go into the header: the time
  # comes from SOURCE_DATE_EPOCH like every file's, and the host is fixed, so that two builds of one
  # commit match. rpmbuild neither strips the program again (with the host's tools, wrong for
  # aarch64) nor adds /usr/lib/.build-id links: the package carries the tarball's program as it is.
  set(CPACK_RPM_SPEC_MORE_DEFINE "%define packager ${PRESIZER_MAINTAINER}
%define _buildhost presizer.invalid
%define use_source_date_epoch_as_buildtime 1
%define clamp_mtime_to_source_date_epoch 1
%define __spec_install_post %{nil}
%define _build_id_links none")
endif()
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES ON)
# Read by CPack once per generator: it picks the components of each release file and stamps
# every archive member with the build's time.
set(CPACK_PRESIZER_SOURCE_DATE_EPOCH ${PRESIZER_SOURCE_DATE_EPOCH})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/CPackProjectConfig.cmake)
include(CPack)

