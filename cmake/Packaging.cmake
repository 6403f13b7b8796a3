# The Debian package: `cpack -G DEB` in a build tree configured with
# -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr (scripts/package).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrella)
set(CPACK_PACKAGE_VENDOR "The Kestrella developers")
set(CPACK_PACKAGE_CONTACT "The Kestrella developers <kestrella@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "bring back photos from memory cards and card images")
set(CPACK_PACKAGE_DESCRIPTION
    "Kestrella brings back photos, videos and sound files from FAT memory cards, USB sticks and card images: deleted ones, and those on a card whose file system is damaged or was formatted. It follows the card's folders, deleted entries included, or scans every sector for the start of a known file. A recovery only reads the card.\nThe package holds the desktop program (kestrella) and the command-line tool (kestrella-cli).")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://github.com/kestrella/kestrella)
# The libraries come from dpkg-shlibdeps; what the programs run or load by
# name is named here: mkfs.fat for Format, and Qt's window-system plugins,
# without which the window cannot open (libqt6gui6 only recommends them).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "dosfstools, qt6-qpa-plugins")
# Help and the found files' folder are opened through the desktop.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
