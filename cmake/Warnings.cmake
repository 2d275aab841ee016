# Warnings are errors in every build of every target of ours.
function(orvel_strict_warnings target)
  if(MSVC)
    # C++ only: the version resource goes through rc.exe, which has other options.
    target_compile_options(${target} PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:/W4;/WX;/permissive-;/utf-8>")
  else()
    target_compile_options(${target} PRIVATE
      -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Wshadow
      -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual -Werror)
  endif()
endfunction()
