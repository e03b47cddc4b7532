# The Linux package: `cpack` in a release build directory makes vkt5-upgrade_<version>_<arch>.deb
# with the window and the command line in /usr/bin, the command line's manual page, the menu
# entry, icons, copyright and changelog. The Qt and C++ library dependencies are worked out by
# dpkg-shlibdeps (dpkg-dev) from the binaries themselves.

install(TARGETS vkt5-upgrade vkt5-upgrade-cli RUNTIME DESTINATION bin COMPONENT program)
# The command line's manual page, gzipped as Debian keeps them.
set(VKT5_CLI_MANPAGE ${CMAKE_CURRENT_BINARY_DIR}/vkt5-upgrade-cli.1.gz)
execute_process(COMMAND gzip -9nc ${CMAKE_CURRENT_SOURCE_DIR}/resources/vkt5-upgrade-cli.1
                OUTPUT_FILE ${VKT5_CLI_MANPAGE})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS resources/vkt5-upgrade-cli.1)
install(FILES ${VKT5_CLI_MANPAGE} DESTINATION share/man/man1 COMPONENT program)
install(FILES resources/vkt5-upgrade.desktop DESTINATION share/applications COMPONENT program)
# The package's own papers: the copyright, and the changelog gzipped as Debian keeps it.
set(VKT5_DEB_CHANGELOG ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
execute_process(COMMAND gzip -9nc ${CMAKE_CURRENT_SOURCE_DIR}/resources/debian/changelog
                OUTPUT_FILE ${VKT5_DEB_CHANGELOG})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS resources/debian/changelog)
install(FILES resources/debian/copyright ${VKT5_DEB_CHANGELOG}
        DESTINATION share/doc/vkt5-upgrade COMPONENT program)
foreach(size 48 256)
    install(FILES resources/icons/vkt5-upgrade-${size}.png
            DESTINATION share/icons/hicolor/${size}x${size}/apps
            RENAME vkt5-upgrade.png
            COMPONENT program)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vkt5-upgrade)
set(CPACK_PACKAGE_VENDOR "Corvane")
set(CPACK_PACKAGE_CONTACT "Corvane support <support@corvane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware upgrade utility for VKT-5 motion-control units")
set(CPACK_PACKAGE_DESCRIPTION
    "Finds a VKT-5 unit waiting in its boot loader on a serial or USB serial\n\
port, shows the installed firmware version and, when asked to, erases the\n\
unit and programs the firmware image the program carries. A window\n\
(vkt5-upgrade) and a command line (vkt5-upgrade-cli) for benches, scripts\n\
and several units at once.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Only the program's component goes in, whatever else of the build (a test library) installs.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};program;/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
