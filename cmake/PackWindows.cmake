# Builds the portable Windows package: one folder with stiqlet.exe and the child programs it
# starts, the Qt plugins it loads and every DLL that their import tables ask for, found
# recursively in the Qt kit and the MinGW runtime; DLLs found in neither are Windows' own and
# stay out. The folder is then zipped.
# Usage: cmake -DCONFIG=<windows-package-config.cmake> -P PackWindows.cmake
# CONFIG sets PROGRAMS, OBJDUMP, STRIP, DLL_DIRS, PLUGIN_DIR, PLUGINS, PACKAGE_NAME, STAGE_DIR, ZIP.
cmake_minimum_required(VERSION 3.25)
include(${CONFIG})
include(${CMAKE_CURRENT_LIST_DIR}/PeImports.cmake)

set(folder "${STAGE_DIR}/${PACKAGE_NAME}")
file(REMOVE_RECURSE "${folder}" "${ZIP}")
file(MAKE_DIRECTORY "${folder}")

set(queue "")
foreach(program IN LISTS PROGRAMS)
  file(COPY "${program}" DESTINATION "${folder}")
  get_filename_component(name "${program}" NAME)
  list(APPEND queue "${folder}/${name}")
endforeach()
foreach(pattern IN LISTS PLUGINS)
  file(GLOB plugins LIST_DIRECTORIES false "${PLUGIN_DIR}/${pattern}")
  if(NOT plugins)
    message(FATAL_ERROR "no Qt plugin ${PLUGIN_DIR}/${pattern}")
  endif()
  get_filename_component(subdir "${pattern}" DIRECTORY)
  foreach(plugin IN LISTS plugins)
    file(COPY "${plugin}" DESTINATION "${folder}/${subdir}")
    get_filename_component(name "${plugin}" NAME)
    list(APPEND queue "${folder}/${subdir}/${name}")
  endforeach()
endforeach()

# Breadth first over the import tables: each DLL found is copied beside the program once and
# its own imports are read in turn.
stiqlet_index_dlls(found DLL_DIRS)
set(files "${queue}")
set(placed "")
set(system "")
while(queue)
  list(POP_FRONT queue file)
  stiqlet_pe_imports(imports "${OBJDUMP}" "${file}")
  foreach(name IN LISTS imports)
    if(name IN_LIST placed OR name IN_LIST system)
      continue()
    endif()
    stiqlet_indexed_dll(path found "${name}")
    if(path)
      file(COPY "${path}" DESTINATION "${folder}")
      get_filename_component(copied "${path}" NAME)
      list(APPEND placed "${name}")
      list(APPEND queue "${folder}/${copied}")
      list(APPEND files "${folder}/${copied}")
    else()
      list(APPEND system "${name}")
    endif()
  endforeach()
endwhile()

# Users get no debugging information: it is most of the program file's size.
if(STRIP)
  foreach(file IN LISTS files)
    execute_process(COMMAND ${STRIP} --strip-debug "${file}" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "${STRIP} --strip-debug ${file} failed")
    endif()
  endforeach()
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf "${ZIP}" --format=zip "${PACKAGE_NAME}"
                WORKING_DIRECTORY "${STAGE_DIR}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "zipping ${folder} failed")
endif()

list(SORT placed)
list(SORT system)
list(JOIN placed ", " placed_text)
list(JOIN system ", " system_text)
message(STATUS "${ZIP}: DLLs from the kit and MinGW: ${placed_text}")
message(STATUS "Left to Windows: ${system_text}")
