# Installation and packaging. `cmake --install` places the program and, on Linux, its desktop
# entry, AppStream metadata and icons in the hicolor theme; `cpack -G DEB` builds a Debian
# package of the same files.
include(GNUInstallDirs)

set(STIQLET_APP_ID io.github.stiqlet.Stiqlet)

install(TARGETS stiqlet RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The decoding child goes beside the program on Windows, and where programs that only the
# program starts go elsewhere.
if(TARGET stiqlet-jxr AND WIN32)
  install(TARGETS stiqlet-jxr RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
elseif(TARGET stiqlet-jxr)
  install(TARGETS stiqlet-jxr RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/stiqlet)
endif()
# The programs installed, for the checks of the installed tree and the package.
set(programs ${CMAKE_INSTALL_BINDIR}/stiqlet)
if(TARGET stiqlet-jxr AND NOT WIN32)
  list(APPEND programs ${CMAKE_INSTALL_LIBEXECDIR}/stiqlet/stiqlet-jxr)
endif()

if(UNIX AND NOT APPLE)
  set(linux_dir ${PROJECT_SOURCE_DIR}/resources/linux)
  set(art_dir ${PROJECT_SOURCE_DIR}/resources/art)
  install(FILES ${linux_dir}/${STIQLET_APP_ID}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${linux_dir}/${STIQLET_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  foreach(size IN ITEMS 32 48 64 128 256)
    install(FILES ${art_dir}/hicolor/${size}/stiqlet.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  install(FILES ${art_dir}/stiqlet.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${linux_dir}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/stiqlet)

  # Installs into a scratch directory and checks the layout the desktop looks for.
  if(BUILD_TESTING)
    add_test(NAME install_tree
      COMMAND sh ${linux_dir}/check_install.sh ${CMAKE_COMMAND} ${PROJECT_BINARY_DIR}
              ${PROJECT_BINARY_DIR}/install-check ${STIQLET_APP_ID} ${programs})
    set_tests_properties(install_tree PROPERTIES LABELS metadata TIMEOUT 120)
  endif()
endif()

# Debian package.
set(STIQLET_PACKAGE_CONTACT "Stiqlet authors" CACHE STRING
    "Maintainer field of the Debian package")
set(STIQLET_HOMEPAGE "https://github.com/stiqlet/stiqlet")
set(CPACK_PACKAGE_NAME stiqlet)
set(CPACK_PACKAGE_VENDOR "Stiqlet authors")
set(CPACK_PACKAGE_HOMEPAGE_URL ${STIQLET_HOMEPAGE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${STIQLET_PACKAGE_CONTACT})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "image sticky note that keeps one picture on screen")
set(CPACK_PACKAGE_DESCRIPTION "\
Stiqlet shows one picture in a small borderless window that stays above all other
windows. Copy an image in any application and double-click the note to paste it.
The mouse moves and resizes the note, Ctrl+Alt+A shows and hides it from any
application, and several copies can run side by side, each with its own letter.")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries come from the binary; Qt's platform plugin for X11 is loaded at run time, so
# no library lookup finds it. The menus and help text are Japanese. CPack's lookup needs both
# dpkg-shlibdeps and file.
find_program(STIQLET_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(STIQLET_FILE file)
if(STIQLET_DPKG_SHLIBDEPS AND STIQLET_FILE)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
else()
  message(STATUS "dpkg-shlibdeps (dpkg-dev) or file not found: the .deb names only the Qt "
                 "libraries as dependencies")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libqt6widgets6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6core6 (>= 6.4), qt6-qpa-plugins")
  if(TARGET stiqlet-jxr)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libjxr0")
  endif()
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk, qt6-image-formats-plugins")
include(CPack)

# Builds the .deb, unpacks it into a scratch root and checks its control fields and files.
if(UNIX AND NOT APPLE AND BUILD_TESTING)
  find_program(STIQLET_DPKG_DEB dpkg-deb)
  if(STIQLET_DPKG_DEB)
    add_test(NAME deb_package
      COMMAND sh ${PROJECT_SOURCE_DIR}/resources/linux/check_deb.sh ${CMAKE_CPACK_COMMAND}
              ${PROJECT_BINARY_DIR} ${PROJECT_BINARY_DIR}/deb-check ${PROJECT_VERSION}
              ${STIQLET_APP_ID} ${STIQLET_PACKAGE_CONTACT} ${programs})
    set_tests_properties(deb_package PROPERTIES LABELS package TIMEOUT 300)
  else()
    message(STATUS "dpkg-deb not found: the .deb is not checked")
  endif()
endif()
