# CPack runs this on the staged tree before it builds the Debian package:
# manual pages compressed (gzip -9n: no time stamp or name inside), and the
# copyright file and changelog every Debian package carries.
find_program(_gzip gzip REQUIRED)
function(_compress file)
  execute_process(COMMAND ${_gzip} -9nf "${file}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "gzip ${file} failed: ${rc}")
  endif()
endfunction()

file(GLOB_RECURSE _pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.[1-9]")
list(FILTER _pages INCLUDE REGEX "/share/man/man[1-9]/[^/]+\\.[1-9]$")
foreach(_page IN LISTS _pages)
  _compress("${_page}")
endforeach()

set(_doc "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/share/doc/${CPACK_PACKAGE_NAME}")
file(MAKE_DIRECTORY "${_doc}")
file(COPY_FILE "${CPACK_QORB_PACKAGING_DIR}/debian/copyright" "${_doc}/copyright")
# One entry for the version being packaged; the date is the build's (or
# SOURCE_DATE_EPOCH's, for reproducible packages).
string(TIMESTAMP _date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE "${_doc}/changelog"
"${CPACK_PACKAGE_NAME} (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium

  * Release ${CPACK_PACKAGE_VERSION}.

 -- ${CPACK_PACKAGE_CONTACT}  ${_date}
")
_compress("${_doc}/changelog")
