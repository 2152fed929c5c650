# Run by CPack once the package's files are staged: adds what Debian asks of every package
# (the copyright file and a compressed changelog) and compresses the manual pages, as policy wants.
# `cmake --install` never runs this, so a plain install holds the programs and pages alone.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

file(GLOB_RECURSE staged_programs "${CPACK_TEMPORARY_DIRECTORY}/*/bin/vigil")
list(LENGTH staged_programs found)
if(NOT found EQUAL 1)
  message(FATAL_ERROR "the staged package has ${found} bin/vigil: ${staged_programs}")
endif()
get_filename_component(usr "${staged_programs}" DIRECTORY)
get_filename_component(usr "${usr}" DIRECTORY)

set(doc "${usr}/share/doc/${CPACK_PACKAGE_NAME}")
file(MAKE_DIRECTORY "${doc}")
file(COPY_FILE "${PERCH_VIGIL_DOC_SOURCE}/copyright" "${doc}/copyright")

set(ENV{SOURCE_DATE_EPOCH} "${PERCH_VIGIL_RELEASE_EPOCH}")
string(TIMESTAMP PERCH_VIGIL_RELEASE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file("${PERCH_VIGIL_DOC_SOURCE}/changelog.in" "${doc}/changelog" @ONLY)

file(GLOB pages "${usr}/share/man/man1/*.1" "${doc}/changelog")
foreach(file ${pages})
  execute_process(COMMAND gzip -9n "${file}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip failed on ${file}")
  endif()
endforeach()

file(GLOB_RECURSE staged "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(file ${staged})
  if(NOT IS_DIRECTORY "${file}" AND NOT file MATCHES "/bin/")
    file(CHMOD "${file}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  endif()
endforeach()
