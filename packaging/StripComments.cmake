# Run by CPack on its staging folder before the package is made: the
# compiler's .comment section is of no use in an installed binary, and
# Debian's own packaging removes it too (CPack's strip leaves it).
file(GLOB_RECURSE candidates LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(file IN LISTS candidates)
  if(IS_SYMLINK "${file}")
    continue()
  endif()
  file(READ "${file}" magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46")
    execute_process(COMMAND objcopy --remove-section=.comment "${file}" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "objcopy could not remove .comment from ${file}")
    endif()
  endif()
endforeach()
