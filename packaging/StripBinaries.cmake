# Run by CPack on its staging folder before the package is made: strips every
# binary the way Debian's own packaging does, the bundle's included (it is
# installed as a folder, which CPack's own stripping does not reach), and
# removes the compiler's .comment section, of no use in an installed binary.
file(GLOB_RECURSE candidates LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(file IN LISTS candidates)
  if(IS_SYMLINK "${file}")
    continue()
  endif()
  file(READ "${file}" magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46")
    execute_process(COMMAND strip --strip-unneeded --remove-section=.comment --remove-section=.note "${file}"
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "strip failed on ${file}")
    endif()
  endif()
endforeach()
