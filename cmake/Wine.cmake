# The Windows build's test programs run under Wine, through tests/wine/wine-run.sh, which
# becomes CTest's emulator: add_test(COMMAND <target>) then starts the .exe under Wine.
# Sets STIQLET_WINE_RUN to the configured script, or leaves it empty when Wine is not found.
set(STIQLET_WINE_RUN "")
find_program(STIQLET_WINE NAMES wine wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(NOT STIQLET_WINE)
  message(STATUS "Wine not found: the Windows test programs are built but not run")
  return()
endif()

include(${PROJECT_SOURCE_DIR}/cmake/WindowsRuntime.cmake)
set(dll_dirs "${STIQLET_WINDOWS_DLL_DIRS}")
set(STIQLET_WINE_DLL_DIRS "${dll_dirs}" CACHE INTERNAL "Folders of the DLLs the program loads")
list(TRANSFORM dll_dirs PREPEND "Z:")
list(JOIN dll_dirs "\\;" STIQLET_WINEPATH)
set(STIQLET_WINEPREFIX "${PROJECT_BINARY_DIR}/wineprefix")

set(STIQLET_WINE_RUN "${PROJECT_BINARY_DIR}/wine-run.sh")
configure_file(${PROJECT_SOURCE_DIR}/tests/wine/wine-run.sh.in ${STIQLET_WINE_RUN}
               @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
               GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${STIQLET_WINE_RUN})
message(STATUS "Windows test programs run under ${STIQLET_WINE}")
