cmake_policy(SET CMP0009 NEW)
# Fails when a CMake file of the project names its folders from
# CMAKE_SOURCE_DIR: included with add_subdirectory from another project,
# that is the other project's folder, and sources and headers go missing.
file(GLOB_RECURSE files RELATIVE "${ROOT}" "${ROOT}/CMakeLists.txt" "${ROOT}/*/CMakeLists.txt" "${ROOT}/*.cmake")
set(found "")
foreach(file IN LISTS files)
  if(file MATCHES "^build")
    continue()
  endif()
  file(STRINGS "${ROOT}/${file}" lines REGEX "\\$\\{CMAKE_SOURCE_DIR\\}")
  if(lines)
    list(APPEND found "${file}")
  endif()
endforeach()
if(found)
  message(FATAL_ERROR "CMAKE_SOURCE_DIR in: ${found}")
endif()
