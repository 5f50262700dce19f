# What `cmake --install` puts beside the programs, and the Debian package CPack builds from it.
# The programs, the desktop entry and the icons are installed where they are built (the top
# CMakeLists.txt and src/app); this file adds the replay file type and the package.
include(GNUInstallDirs)

# The shared-mime-info type of replay files; the package's triggers (or update-mime-database
# for a prefix) fold it into the database file managers read.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/lapquill-mime.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME lapquill.xml)

set(CPACK_PACKAGE_NAME lapquill)
set(CPACK_PACKAGE_VENDOR "Harrowmere")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Compare sim racing laps side by side on a 3D track map")
set(CPACK_PACKAGE_DESCRIPTION
    "Lapquill opens replay analysis files (.raf) with their track meshes and segment files and shows up to six laps together: paths on the map, a statistics table, sections and deltas. lapquill-cli summarises, tabulates, renders, compares and exports the same data from the command line.")
set(CPACK_PACKAGE_CONTACT "Lapquill maintainers <lapquill@harrowmere.invalid>")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
# The shared libraries' packages come from dpkg-shlibdeps; what the programs open by name at
# run time is listed here: the fonts the overlay asks fontconfig for (Arial, Courier New and
# Times New Roman resolve to their Liberation twins) and Qt's platform plugins.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "shared-mime-info, hicolor-icon-theme, desktop-file-utils")
include(CPack)
