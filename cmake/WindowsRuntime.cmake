# Where the DLLs of the Windows program are on the build machine: the Qt kit's bin folder and the
# folders of MinGW's runtime (libstdc++, libgcc_s, libwinpthread). Sets STIQLET_WINDOWS_DLL_DIRS;
# the Windows package takes DLLs from these folders, and Wine finds them there for the tests.
include_guard(GLOBAL)

set(dll_dirs "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS}")
foreach(runtime IN ITEMS libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                  OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(IS_ABSOLUTE "${found}")
    get_filename_component(dir "${found}" DIRECTORY)
    get_filename_component(dir "${dir}" REALPATH)
    list(APPEND dll_dirs "${dir}")
  else()
    message(WARNING "MinGW runtime ${runtime} not found: Windows programs may not start")
  endif()
endforeach()
list(REMOVE_DUPLICATES dll_dirs)
set(STIQLET_WINDOWS_DLL_DIRS "${dll_dirs}" CACHE INTERNAL
    "Folders of the DLLs the Windows program loads")
set(STIQLET_WINDOWS_PLUGIN_DIR "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS}" CACHE INTERNAL
    "Folder of the Qt plugins the Windows program loads")
unset(dll_dirs)
