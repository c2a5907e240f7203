# Run at the start of an install: records which of the folders the install
# writes into (VESSORA_INSTALL_FOLDERS, relative to the prefix, with every
# folder between them and the prefix, the prefix included) do not exist yet,
# in VESSORA_FOLDER_LIST, so that the uninstall removes what the install
# created and nothing that was there before. Folders an earlier install
# recorded stay recorded while they exist.
set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(created)
if(EXISTS "${VESSORA_FOLDER_LIST}")
  file(STRINGS "${VESSORA_FOLDER_LIST}" earlier)
  foreach(folder IN LISTS earlier)
    if(IS_DIRECTORY "$ENV{DESTDIR}${folder}")
      list(APPEND created "${folder}")
    endif()
  endforeach()
endif()
foreach(relative IN LISTS VESSORA_INSTALL_FOLDERS)
  set(folder "${CMAKE_INSTALL_PREFIX}/${relative}")
  while(NOT folder STREQUAL "/" AND NOT folder STREQUAL "")
    if(NOT EXISTS "$ENV{DESTDIR}${folder}")
      list(APPEND created "${folder}")
    endif()
    if(folder STREQUAL CMAKE_INSTALL_PREFIX)
      break()
    endif()
    get_filename_component(folder "${folder}" DIRECTORY)
  endwhile()
endforeach()
list(REMOVE_DUPLICATES created)
list(JOIN created "\n" text)
file(WRITE "${VESSORA_FOLDER_LIST}" "${text}\n")
