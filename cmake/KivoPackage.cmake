# What cmake --install puts in place, and cpack -G DEB packages under /usr:
#   bin/kivo                      the program
#   share/man/man1/kivo.1.gz      its manual page (docs/kivo.1.in with the
#                                 version and its date filled in)
#   share/doc/kivo/copyright      docs/copyright, Debian's machine-readable format
#   share/doc/kivo/changelog.gz   one entry, for this version
#   share/lintian/overrides/kivo  the package only (component "deb"): why it
#                                 is as it is where lintian expects otherwise
# The compressed files are made at build time with gzip -9n: no name and no
# time in the header, so the same sources give the same bytes.
include(GNUInstallDirs)

# The one place the package's maintainer is named (Maintainer field and the
# changelog's signature line): "Name <address>".
set(KIVO_MAINTAINER "Kivo developers <kivo@example.org>" CACHE STRING
    "The Debian package's maintainer, as Name <address>")

find_program(KIVO_GZIP gzip REQUIRED)

# The changelog's date is RFC 2822 ("Mon, 07 Dec 2026 00:00:00 +0000"), made
# from KIVO_VERSION_DATE (YYYY-MM-DD). The weekday: Sakamoto's method, 0 = Sunday.
if(NOT KIVO_VERSION_DATE MATCHES "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$")
  message(FATAL_ERROR "KIVO_VERSION_DATE is '${KIVO_VERSION_DATE}', not YYYY-MM-DD")
endif()
set(kivo_day ${CMAKE_MATCH_3})
math(EXPR kivo_year "${CMAKE_MATCH_1}")
math(EXPR kivo_month "${CMAKE_MATCH_2}")
math(EXPR kivo_mday "${CMAKE_MATCH_3}")
math(EXPR kivo_month_index "${kivo_month} - 1")
set(kivo_month_offsets 0 3 2 5 0 3 5 1 4 6 2 4)
list(GET kivo_month_offsets ${kivo_month_index} kivo_offset)
if(kivo_month LESS 3)
  math(EXPR kivo_year "${kivo_year} - 1")
endif()
math(EXPR kivo_weekday
     "(${kivo_year} + ${kivo_year} / 4 - ${kivo_year} / 100 + ${kivo_year} / 400 + ${kivo_offset} + ${kivo_mday}) % 7")
set(kivo_weekdays Sun Mon Tue Wed Thu Fri Sat)
set(kivo_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(GET kivo_weekdays ${kivo_weekday} kivo_weekday_name)
list(GET kivo_months ${kivo_month_index} kivo_month_name)
string(SUBSTRING "${KIVO_VERSION_DATE}" 0 4 kivo_year_text)
set(KIVO_CHANGELOG_DATE "${kivo_weekday_name}, ${kivo_day} ${kivo_month_name} ${kivo_year_text} 00:00:00 +0000")

configure_file(${PROJECT_SOURCE_DIR}/docs/kivo.1.in ${PROJECT_BINARY_DIR}/kivo.1 @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/cmake/changelog.in ${PROJECT_BINARY_DIR}/changelog @ONLY)
foreach(name kivo.1 changelog)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/${name}.gz
                     COMMAND ${KIVO_GZIP} -9n -f -k ${PROJECT_BINARY_DIR}/${name}
                     DEPENDS ${PROJECT_BINARY_DIR}/${name}
                     VERBATIM)
endforeach()
add_custom_target(kivo_docs ALL DEPENDS ${PROJECT_BINARY_DIR}/kivo.1.gz ${PROJECT_BINARY_DIR}/changelog.gz)

install(TARGETS kivo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_BINARY_DIR}/kivo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/docs/copyright ${PROJECT_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/cmake/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME kivo COMPONENT deb EXCLUDE_FROM_ALL)
install(CODE "execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment
                                      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/kivo\"
                              COMMAND_ERROR_IS_FATAL ANY)"
        COMPONENT deb EXCLUDE_FROM_ALL)

# cpack -G DEB: a Debian package of the same, under /usr.
set(CPACK_PACKAGE_NAME kivo)
set(CPACK_PACKAGE_VERSION ${KIVO_VERSION})
set(CPACK_PACKAGE_CONTACT "${KIVO_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KIVO_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small Direct Connect (NMDC) client for the terminal")
# The long description, under the summary line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Kivo is a small, fast Direct Connect client in a terminal laid out like a
keypad phone: one hub at a time (plain or over TLS), public and private
chat, the hub's user list, passive search, and downloads checked against
their Tiger Tree Hash.")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The program is linked whole (CMakeLists.txt): it needs no shared library,
# so the package depends on none.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Stripped as debhelper strips: the symbols, and the compilers' .comment notes.
set(CPACK_STRIP_FILES ON)
# The package takes the default component and "deb", which cmake --install
# leaves out.
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};kivo;Unspecified;/;${PROJECT_BINARY_DIR};kivo;deb;/")
include(CPack)
