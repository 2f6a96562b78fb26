# One place for compiler warnings; every target of ours calls corvella_warnings().
function(corvella_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wconversion -Wsign-conversion -Wshadow
                         -Wnon-virtual-dtor -Woverloaded-virtual)
  if(CORVELLA_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
