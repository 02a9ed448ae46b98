# The Debian binary package of the driver, made with CPack in the build folder:
#
#   cd build && cpack -G DEB      -> build/printer-driver-zt_<version>_<arch>.deb
#
# It holds everything cmake/install.cmake installs (components "driver" and
# "tools"), stripped, with root as owner, plus the Debian copyright file,
# changelog and ztjobview's manual page; the runtime dependencies come from dpkg-shlibdeps. The version is
# the one of the newest entry of packaging/changelog.

set(ZT_PACKAGE_NAME printer-driver-zt)
# Relative: /usr/share/doc/... in the package, under the prefix otherwise.
set(ZT_PACKAGE_DOCDIR share/doc/${ZT_PACKAGE_NAME})

file(STRINGS ${CMAKE_SOURCE_DIR}/packaging/changelog _zt_head LIMIT_COUNT 1)
if(NOT _zt_head MATCHES "^${ZT_PACKAGE_NAME} \\(([0-9][^)]*)\\)")
  message(FATAL_ERROR "packaging/changelog: the first line names no version of ${ZT_PACKAGE_NAME}")
endif()
set(ZT_PACKAGE_VERSION ${CMAKE_MATCH_1})
set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${CMAKE_SOURCE_DIR}/packaging/changelog)

# Debian wants the changelog and manual pages compressed, reproducibly (no
# name or time stamp in the gzip header).
find_program(ZT_GZIP gzip REQUIRED)
set(_zt_gzipped "")
foreach(_zt_doc changelog ztjobview.1)
  set(_zt_out ${CMAKE_BINARY_DIR}/packaging/${_zt_doc}.gz)
  add_custom_command(OUTPUT ${_zt_out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND ${ZT_GZIP} -9 -n -c ${CMAKE_SOURCE_DIR}/packaging/${_zt_doc} > ${_zt_out}
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/${_zt_doc} VERBATIM)
  list(APPEND _zt_gzipped ${_zt_out})
endforeach()
add_custom_target(package_docs ALL DEPENDS ${_zt_gzipped})
set(_zt_doc_perms OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${ZT_PACKAGE_DOCDIR} PERMISSIONS ${_zt_doc_perms} COMPONENT doc)
install(FILES ${CMAKE_BINARY_DIR}/packaging/ztjobview.1.gz
        DESTINATION share/man/man1 PERMISSIONS ${_zt_doc_perms} COMPONENT tools)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${ZT_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${ZT_PACKAGE_VERSION})
set(CPACK_PACKAGE_CONTACT "ZT driver maintainers <ztdriver@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "CUPS driver for the ZT family of colour laser printers")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "CUPS filters that turn CUPS raster into a complete printer job (PJL lines
and HBPL records) for the ZT colour laser printers sold by Pask, Korva, JOV,
ZT and Talma: colour conversion, trapping, edge enhancement, digital filter,
toner saving, duplex and the MIVO page codec, with the PPD of each
manufacturer's model and the job inspector ztjobview.")
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cups")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The install rules name absolute folders (CUPS's); ztjobview goes under /usr.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL driver tools doc)
set(CPACK_DEB_COMPONENT_INSTALL OFF)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
include(CPack)
