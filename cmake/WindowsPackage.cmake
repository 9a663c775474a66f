# The portable Windows package: `cmake --build <dir> --target package_windows` makes
# stiqlet-<version>-windows-x64.zip, one folder with the program and everything it loads, to be
# unpacked anywhere and started from there (see PackWindows.cmake). The test package_windows
# checks the unpacked zip's import tables; it builds the zip first through a fixture.
include(${CMAKE_CURRENT_LIST_DIR}/WindowsRuntime.cmake)

set(STIQLET_WINDOWS_PACKAGE_NAME "stiqlet-${PROJECT_VERSION}-windows-x64")
set(STIQLET_WINDOWS_ZIP "${PROJECT_BINARY_DIR}/${STIQLET_WINDOWS_PACKAGE_NAME}.zip")

# Wine's own system DLLs, to tell a Windows system DLL from one that is missing altogether.
find_path(STIQLET_WINE_SYSTEM_DLL_DIR kernel32.dll
          PATHS /usr/lib/x86_64-linux-gnu/wine /usr/lib64/wine /usr/lib/wine
                /opt/wine-stable/lib/wine
          PATH_SUFFIXES x86_64-windows NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
          DOC "Folder of Wine's 64-bit system DLLs")

# The programs that go into the folder: the note, and the child programs it starts from there.
set(programs stiqlet)
if(TARGET stiqlet-jxr)
  list(APPEND programs stiqlet-jxr)
endif()
list(TRANSFORM programs REPLACE "(.+)" "$<TARGET_FILE:\\1>" OUTPUT_VARIABLE program_files)

set(config "${PROJECT_BINARY_DIR}/windows-package-config.cmake")
file(GENERATE OUTPUT "${config}" CONTENT "\
set(PROGRAMS [[${program_files}]])
set(OBJDUMP [[${CMAKE_OBJDUMP}]])
set(STRIP [[${CMAKE_STRIP}]])
set(DLL_DIRS [[${STIQLET_WINDOWS_DLL_DIRS}]])
set(PLUGIN_DIR [[${STIQLET_WINDOWS_PLUGIN_DIR}]])
set(PLUGINS platforms/qwindows.dll styles/qwindowsvistastyle.dll imageformats/*.dll)
set(PACKAGE_NAME [[${STIQLET_WINDOWS_PACKAGE_NAME}]])
set(STAGE_DIR [[${PROJECT_BINARY_DIR}/package]])
set(ZIP [[${STIQLET_WINDOWS_ZIP}]])
set(SYSTEM_DLL_DIR [[$<$<BOOL:${STIQLET_WINE_SYSTEM_DLL_DIR}>:${STIQLET_WINE_SYSTEM_DLL_DIR}>]])
")

add_custom_command(OUTPUT "${STIQLET_WINDOWS_ZIP}"
  COMMAND ${CMAKE_COMMAND} -DCONFIG=${config} -P ${CMAKE_CURRENT_LIST_DIR}/PackWindows.cmake
  DEPENDS ${programs} "${config}" ${CMAKE_CURRENT_LIST_DIR}/PackWindows.cmake
          ${CMAKE_CURRENT_LIST_DIR}/PeImports.cmake
  COMMENT "Packing ${STIQLET_WINDOWS_PACKAGE_NAME}.zip"
  VERBATIM)
add_custom_target(package_windows DEPENDS "${STIQLET_WINDOWS_ZIP}")

if(BUILD_TESTING)
  add_test(NAME package_windows_zip
           COMMAND ${CMAKE_COMMAND} --build ${PROJECT_BINARY_DIR} --target package_windows)
  set_tests_properties(package_windows_zip PROPERTIES
    FIXTURES_SETUP windows_package LABELS package TIMEOUT 600)
  add_test(NAME package_windows
           COMMAND ${CMAKE_COMMAND} -DCONFIG=${config}
                   -DSCRATCH=${PROJECT_BINARY_DIR}/package-check
                   -P ${CMAKE_CURRENT_LIST_DIR}/CheckWindowsPackage.cmake)
  set_tests_properties(package_windows PROPERTIES
    FIXTURES_REQUIRED windows_package LABELS package TIMEOUT 120)
endif()
