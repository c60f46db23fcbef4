# The Debian package: `make package` (cpack in the build folder) writes
# tokasearch_<version>-1_<arch>.deb.  Its Qt and C++ library dependencies
# are computed by dpkg-shlibdeps from the binaries, never written here.

# Files that only a Debian package carries: the machine-readable copyright
# and the packaging changelog.  They are a component of their own that a
# plain `cmake --install` leaves out; the package asks for it below.
set(TOKA_DEB_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/tokasearch)
set(TOKA_DEB_CHANGELOG ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz)
add_custom_command(OUTPUT ${TOKA_DEB_CHANGELOG}
                   COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/debian
                   COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/data/debian/changelog > ${TOKA_DEB_CHANGELOG}
                   DEPENDS ${CMAKE_SOURCE_DIR}/data/debian/changelog
                   VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${TOKA_DEB_CHANGELOG})
install(FILES ${CMAKE_SOURCE_DIR}/data/debian/copyright ${TOKA_DEB_CHANGELOG}
        DESTINATION ${TOKA_DEB_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tokasearch)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The TOKA Search developers")
set(CPACK_PACKAGE_CONTACT "The TOKA Search developers <tokasearch@users.noreply.github.com>")
set(CPACK_PACKAGE_HOMEPAGE_URL https://github.com/tokasearch/tokasearch)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find files whose names you only roughly remember")
# No semicolons in it: CMake would take them for list separators.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "TOKA Search walks a directory tree, or every fixed disk, live and rates\n"
       "each file name by its similarity to a search text: fuzzy (every name that\n"
       "contains the text scores 100 %) or similar (longer names cost). The best\n"
       "200 are shown in a table that refreshes while the walk goes on. Marked\n"
       "files can be copied, moved, moved to the trash, deleted or previewed.\n"
       "\n"
       "The package also holds tokafind, the same search in a terminal, and\n"
       "wmf2png, the viewer's metafile player on the command line.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The whole project, then the Debian-only files.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};ALL;/"
                                 "${CMAKE_BINARY_DIR};${PROJECT_NAME};debian;/")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Outside a desktop session that answers on D-Bus, Qt opens a file with its
# default application (double-click, "Open Containing Folder") through xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
# tokasearch --all-pictures: the image-format plugins that Qt loads at run
# time (dpkg-shlibdeps cannot see them): TIFF, WebP, TGA, ICNS, MNG, WBMP
# and SVG.  Without them the viewer shows those files as text, as designed,
# so they are recommended, not required.
string(APPEND CPACK_DEBIAN_PACKAGE_RECOMMENDS ", qt6-image-formats-plugins, libqt6svg6")

include(CPack)
