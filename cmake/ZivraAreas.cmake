# zivra_add_areas([EXCEPT <folder>...]): adds every sub-folder of the current
# folder that holds a CMakeLists.txt, but the ones named after EXCEPT. Only the
# top-most one of a folder tree is added here; nested ones are added by their
# parent. A folder added later is picked up by the next build.
function(zivra_add_areas)
  cmake_parse_arguments(ARG "" "" "EXCEPT" ${ARGN})
  file(GLOB_RECURSE areas CONFIGURE_DEPENDS LIST_DIRECTORIES false
       RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
  list(SORT areas)
  foreach(area IN LISTS areas)
    get_filename_component(dir ${area} DIRECTORY)
    get_filename_component(parent ${dir} DIRECTORY)
    if(dir IN_LIST ARG_EXCEPT)
      continue()
    endif()
    if(parent STREQUAL "" OR NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${parent}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()
