# linograf_add_library(<name> [WITH_SUBFOLDERS] SOURCES <files...> [PUBLIC_LIBS <targets...>]
#                       [PRIVATE_LIBS <targets...>])
#
# One folder, one static library. Code includes headers by their path from the repository root
# ("workbook/model/sheet.h"), but a library does not get the root as an include folder: it gets a
# folder of its own in the build tree that holds links to the headers of its own source folder
# alone (not those of subfolders, which are libraries of their own, unless WITH_SUBFOLDERS says that
# they belong to this one). A library therefore sees its
# own headers and those of the libraries it links, and an include that goes the wrong way between
# layers fails to compile instead of quietly working.
function(linograf_add_library name)
  cmake_parse_arguments(L "WITH_SUBFOLDERS" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  file(RELATIVE_PATH folder "${PROJECT_SOURCE_DIR}" "${CMAKE_CURRENT_SOURCE_DIR}")
  set(root "${PROJECT_BINARY_DIR}/include/${name}")
  file(REMOVE_RECURSE "${root}")
  file(MAKE_DIRECTORY "${root}/${folder}")
  if(L_WITH_SUBFOLDERS)
    file(GLOB_RECURSE headers LIST_DIRECTORIES false CONFIGURE_DEPENDS RELATIVE "${CMAKE_CURRENT_SOURCE_DIR}"
         "${CMAKE_CURRENT_SOURCE_DIR}/*.h")
  else()
    file(GLOB headers LIST_DIRECTORIES false CONFIGURE_DEPENDS RELATIVE "${CMAKE_CURRENT_SOURCE_DIR}"
         "${CMAKE_CURRENT_SOURCE_DIR}/*.h")
  endif()
  foreach(header IN LISTS headers)
    get_filename_component(header_folder "${root}/${folder}/${header}" DIRECTORY)
    file(MAKE_DIRECTORY "${header_folder}")
    file(CREATE_LINK "${CMAKE_CURRENT_SOURCE_DIR}/${header}" "${root}/${folder}/${header}" SYMBOLIC)
  endforeach()
  add_library(${name} STATIC ${L_SOURCES})
  target_include_directories(${name} PUBLIC "${root}")
  target_link_libraries(${name} PUBLIC ${L_PUBLIC_LIBS} PRIVATE ${L_PRIVATE_LIBS})
endfunction()
