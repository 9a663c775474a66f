# Unpacks the Windows package into a scratch folder and checks that it can start on its own: one
# folder holding stiqlet.exe, its child programs and Qt's Windows platform plugin, and every
# import of every .exe and .dll in it satisfied inside the folder, or a Windows system DLL. An
# import that the Qt kit or the MinGW runtime provides but the package lacks is a fault; so is
# one found nowhere, when the folder of Wine's own system DLLs is known to tell system DLLs apart.
# Usage:
#   cmake -DCONFIG=<windows-package-config.cmake> -DSCRATCH=<folder> -P CheckWindowsPackage.cmake
cmake_minimum_required(VERSION 3.25)
include(${CONFIG})
include(${CMAKE_CURRENT_LIST_DIR}/PeImports.cmake)

file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf "${ZIP}" WORKING_DIRECTORY "${SCRATCH}"
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cannot unpack ${ZIP}")
endif()

set(faults "")
file(GLOB top LIST_DIRECTORIES true RELATIVE "${SCRATCH}" "${SCRATCH}/*")
if(NOT top STREQUAL PACKAGE_NAME)
  list(APPEND faults "the zip should hold the one folder ${PACKAGE_NAME}, holds: ${top}")
endif()
set(folder "${SCRATCH}/${PACKAGE_NAME}")
set(required platforms/qwindows.dll)
foreach(program IN LISTS PROGRAMS)
  get_filename_component(name "${program}" NAME)
  list(APPEND required "${name}")
endforeach()
foreach(required IN LISTS required)
  if(NOT EXISTS "${folder}/${required}")
    list(APPEND faults "${required} is missing")
  endif()
endforeach()

file(GLOB_RECURSE all LIST_DIRECTORIES false RELATIVE "${folder}" "${folder}/*")
set(binaries "")
foreach(file IN LISTS all)
  string(TOLOWER "${file}" lower)
  if(lower MATCHES "\\.(exe|dll)$")
    list(APPEND binaries "${file}")
  endif()
endforeach()

# Windows looks for a DLL beside the program, then beside the DLL being loaded (plugins are
# loaded by full path), then among its own.
set(program_dir "${folder}")
stiqlet_index_dlls(inside program_dir)
stiqlet_index_dlls(kit DLL_DIRS)
if(SYSTEM_DLL_DIR)
  set(system_dirs "${SYSTEM_DLL_DIR}")
  stiqlet_index_dlls(system system_dirs)
endif()

set(checked 0)
foreach(file IN LISTS binaries)
  get_filename_component(dir "${folder}/${file}" DIRECTORY)
  stiqlet_pe_imports(imports "${OBJDUMP}" "${folder}/${file}")
  foreach(name IN LISTS imports)
    math(EXPR checked "${checked} + 1")
    stiqlet_indexed_dll(path inside "${name}")
    if(path OR EXISTS "${dir}/${name}")
      continue()
    endif()
    stiqlet_indexed_dll(path kit "${name}")
    if(path)
      list(APPEND faults "${file} imports ${name}, which the package lacks (found at ${path})")
      continue()
    endif()
    stiqlet_is_api_set(api_set "${name}")
    if(SYSTEM_DLL_DIR AND NOT api_set)
      stiqlet_indexed_dll(path system "${name}")
      if(NOT path)
        list(APPEND faults "${file} imports ${name}, which is neither in the package nor a "
                           "Windows system DLL")
      endif()
    endif()
  endforeach()
endforeach()

if(faults)
  list(JOIN faults "\n  " text)
  message(FATAL_ERROR "${ZIP}:\n  ${text}")
endif()
list(LENGTH binaries count)
message(STATUS "${ZIP}: ${count} programs and DLLs, ${checked} imports, all satisfied")
