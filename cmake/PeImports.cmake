# Reading the import tables of Windows programs and DLLs (PE files) with MinGW's objdump, for the
# scripts that pack and check the Windows package. Windows compares DLL names without regard to
# case, so every name here is compared in lower case.
include_guard(GLOBAL)

# The DLL names that `file` imports, in lower case.
function(stiqlet_pe_imports out objdump file)
  execute_process(COMMAND ${objdump} -p ${file} OUTPUT_VARIABLE dump ERROR_VARIABLE errors
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${objdump} -p ${file} failed: ${errors}")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^DLL Name: " "" name "${line}")
    string(STRIP "${name}" name)
    string(TOLOWER "${name}" name)
    list(APPEND names "${name}")
  endforeach()
  list(REMOVE_DUPLICATES names)
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

# Indexes the .dll files of `dirs` (first folder wins) under `prefix`: afterwards
# ${prefix}_<name in lower case> holds the file's path; name as string(MAKE_C_IDENTIFIER) makes it.
macro(stiqlet_index_dlls prefix dirs)
  foreach(_dir IN LISTS ${dirs})
    file(GLOB _files LIST_DIRECTORIES false "${_dir}/*")
    foreach(_file IN LISTS _files)
      get_filename_component(_name "${_file}" NAME)
      string(TOLOWER "${_name}" _name)
      if(_name MATCHES "\\.dll$")
        string(MAKE_C_IDENTIFIER "${prefix}_${_name}" _key)
        if(NOT DEFINED ${_key})
          set(${_key} "${_file}")
        endif()
      endif()
    endforeach()
  endforeach()
endmacro()

# The path indexed for DLL `name` (lower case) under `prefix`, or empty.
macro(stiqlet_indexed_dll out prefix name)
  string(MAKE_C_IDENTIFIER "${prefix}_${name}" _key)
  if(DEFINED ${_key})
    set(${out} "${${_key}}")
  else()
    set(${out} "")
  endif()
endmacro()

# True for the API set names that Windows resolves inside its loader (no file of that name).
function(stiqlet_is_api_set out name)
  if(name MATCHES "^(api|ext)-ms-win-")
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()
