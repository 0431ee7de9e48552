# Warning flags for our own targets only; third-party code is compiled with -w.
function(glimmark_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-multichar)
  if(GLIMMARK_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
