# What `cmake --install` puts where, and the Debian package built from it
# (scripts/package). The prefix is /usr/local unless given; the package uses
# /usr.
include(GNUInstallDirs)

install(TARGETS trevlinctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET Trevlin)
  install(TARGETS Trevlin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# The guardian, found by the app and trevlinctl in ../libexec/trevlin/.
install(TARGETS trevlin-guardian RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/trevlin)

# The privileged helper and its unit, which points at where the helper is
# installed. The unit is installed but not enabled: docs/HELPER.md tells how.
install(TARGETS app.trevlin.helper RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/trevlin)
# The prefix is known only when installing (a package installs into /usr).
install(CODE "
  file(READ \"${CMAKE_SOURCE_DIR}/packaging/systemd/trevlin-helper.service\" unit)
  string(REPLACE \"/usr/libexec/trevlin/app.trevlin.helper\"
         \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}/trevlin/app.trevlin.helper\" unit \"\${unit}\")
  set(unitDir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/system\")
  file(MAKE_DIRECTORY \"\${unitDir}\")
  file(WRITE \"\${unitDir}/trevlin-helper.service\" \"\${unit}\")
  message(STATUS \"Installing: \${unitDir}/trevlin-helper.service\")
")

# The desktop: entry, icon, AppStream data, manual pages.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/app.trevlin.Trevlin.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/app.trevlin.Trevlin.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
configure_file(${CMAKE_SOURCE_DIR}/packaging/app.trevlin.Trevlin.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/packaging/app.trevlin.Trevlin.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/app.trevlin.Trevlin.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/man/Trevlin.1 ${CMAKE_SOURCE_DIR}/packaging/man/trevlinctl.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The Debian package: trevlin_<version>_<arch>.deb, its library
# dependencies computed by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME trevlin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Trevlin developers <dev@trevlin.app>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "See what every app uses of the processor and hold busy apps back")
set(CPACK_PACKAGE_DESCRIPTION "Trevlin measures the processor time of every running app and command-line job
once a second and holds chosen apps back: a core cap, a move to the efficiency
cores, or a pause while in the background. It lives in the tray.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded by Qt at run time in a Wayland session, so no binary names it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-wayland")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
