# One file per system for each concern, named the same way everywhere:
# qz_system_sources(VAR A dir/B) sets VAR to "APosix.cpp;dir/BPosix.cpp" on
# POSIX and "AWindows.cpp;dir/BWindows.cpp" on Windows.
function(qz_system_sources var)
  if(WIN32)
    set(suffix Windows.cpp)
  else()
    set(suffix Posix.cpp)
  endif()
  list(TRANSFORM ARGN APPEND ${suffix} OUTPUT_VARIABLE files)
  set(${var} ${files} PARENT_SCOPE)
endfunction()
