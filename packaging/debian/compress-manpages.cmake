# CPack runs this on the staged tree before it builds the package: Debian
# ships manual pages compressed (gzip -9n, no time stamp or name inside).
file(GLOB_RECURSE _pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.[1-9]")
list(FILTER _pages INCLUDE REGEX "/share/man/man[1-9]/[^/]+\\.[1-9]$")
find_program(_gzip gzip REQUIRED)
foreach(_page IN LISTS _pages)
  execute_process(COMMAND ${_gzip} -9nf "${_page}" RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "gzip ${_page} failed: ${_rc}")
  endif()
endforeach()
