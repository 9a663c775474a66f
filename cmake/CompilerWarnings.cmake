# -Wall -Wextra everywhere; warnings become errors when STIQLET_WERROR is on (as the test script does).
function(stiqlet_set_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /utf-8 $<$<BOOL:${STIQLET_WERROR}>:/WX>)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra $<$<BOOL:${STIQLET_WERROR}>:-Werror>)
  endif()
endfunction()
