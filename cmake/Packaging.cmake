# Installation under the prefix and the Debian package that CPack builds from it
# (`cpack -G DEB` in the build folder). The desktop entry, icons and AppStream metadata are
# installed by data/.
include(GNUInstallDirs)

if(TARGET quillsift)
  install(TARGETS quillsift RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# The same copy from a script or cron, without a window.
if(TARGET quillsift-copy)
  install(TARGETS quillsift-copy RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillsift)
set(CPACK_PACKAGE_VENDOR Orvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Orvane <quillsift@orvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "copy the files of a folder that match wildcard filters")
# Lines kept under 80 columns, as a Debian control file wants them.
# The network use is stated where the package manager shows it, before installation.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Quill Sift copies files from a source folder into a destination folder,"
  "choosing them with a list of wildcard filters. Each run is shown in its own"
  "window and can be appended to a log file. Source and destination folders are"
  "picked from two lists of known folders kept between runs. The command"
  "quillsift-copy runs the same copy from a script or cron, without a window."
  "The user interface is in French."
  "."
  "Network use: at every start the program sends one HTTPS request to the"
  "publisher's statistics server (Piwik) that carries only the product's site"
  "number (idsite=14), to count starts; no setting turns it off. Each opening"
  "of the About box downloads the publisher's update file (quillsift.INF) to"
  "show news and whether a newer version exists. Nothing else is sent.")
# The installed program carries no debug information; the exported symbols that name the
# bug report's functions and the version-resource section stay.
set(CPACK_STRIP_FILES ON)

# quillsift_<version>_<architecture>.deb
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${QS_PUBLISHER_URL}")
# Depends: the libraries the program links, as dpkg-shlibdeps (dpkg-dev) names them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own texts in French, the icon theme the buttons fall back on, the certificates the
# HTTPS requests check against, and Qt's Wayland platform, without which a Wayland session
# falls back to X11.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "qt6-translations-l10n, adwaita-icon-theme, ca-certificates, qt6-wayland")

# The changelog a native package carries, written from the AppStream releases.
set(QS_DEBIAN_CHANGELOG ${CMAKE_BINARY_DIR}/debian/changelog.gz)
add_custom_command(
  OUTPUT ${QS_DEBIAN_CHANGELOG}
  COMMAND ${CMAKE_COMMAND} -DMETAINFO=${PROJECT_SOURCE_DIR}/data/quillsift.metainfo.xml
          -DPACKAGE=${CPACK_PACKAGE_NAME} -DVERSION=${PROJECT_VERSION}
          "-DMAINTAINER=${CPACK_DEBIAN_PACKAGE_MAINTAINER}" -DOUTPUT=${QS_DEBIAN_CHANGELOG}
          -P ${PROJECT_SOURCE_DIR}/cmake/DebianChangelog.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/data/quillsift.metainfo.xml
          ${PROJECT_SOURCE_DIR}/cmake/DebianChangelog.cmake
  COMMENT "Debian changelog from the AppStream releases"
  VERBATIM)
add_custom_target(qs_debian_changelog ALL DEPENDS ${QS_DEBIAN_CHANGELOG})
install(FILES ${QS_DEBIAN_CHANGELOG} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillsift)

# `package_source`: the tracked tree without build folders.
set(CPACK_SOURCE_GENERATOR TXZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/")

include(CPack)
