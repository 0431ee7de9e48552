# Static Little CMS 2 and GLEW for the MinGW builds (Little CMS also for the
# fuzz build), from Debian's source tarballs (orig + debian patches),
# unpacked once into the build tree.
# Little CMS is always built; GLEW only on demand (glimmark_add_glew_mingw).
set(THIRDPARTY_SOURCE_DIR "${PROJECT_SOURCE_DIR}/third_party/sources" CACHE PATH
    "folder with the Debian source tarballs of lcms2 and glew")

function(debian_unpack name out)
  file(GLOB orig "${THIRDPARTY_SOURCE_DIR}/${name}_*.orig.tar.*")
  file(GLOB deb  "${THIRDPARTY_SOURCE_DIR}/${name}_*.debian.tar.*")
  if(NOT orig OR NOT deb)
    message(FATAL_ERROR "${name}: Debian source tarballs not found in ${THIRDPARTY_SOURCE_DIR}; run scripts/setup.sh")
  endif()
  list(GET orig -1 orig)
  list(GET deb -1 deb)
  set(dest "${CMAKE_BINARY_DIR}/_deps/${name}")
  if(NOT EXISTS "${dest}/stamp" OR "${orig}" IS_NEWER_THAN "${dest}/stamp")
    file(REMOVE_RECURSE "${dest}")
    file(ARCHIVE_EXTRACT INPUT "${orig}" DESTINATION "${dest}/x")
    file(GLOB top LIST_DIRECTORIES true "${dest}/x/*")
    file(RENAME "${top}" "${dest}/src")
    file(ARCHIVE_EXTRACT INPUT "${deb}" DESTINATION "${dest}/src")
    find_program(PATCH patch REQUIRED)
    if(EXISTS "${dest}/src/debian/patches/series")
      file(STRINGS "${dest}/src/debian/patches/series" series REGEX "^[^#]")
      foreach(p IN LISTS series)
        string(STRIP "${p}" p)
        if(p STREQUAL "")
          continue()
        endif()
        execute_process(COMMAND "${PATCH}" -p1 -N -s -i "debian/patches/${p}"
                        WORKING_DIRECTORY "${dest}/src" RESULT_VARIABLE rc)
        if(rc)
          message(FATAL_ERROR "${name}: patch ${p} failed")
        endif()
      endforeach()
    endif()
    file(TOUCH "${dest}/stamp")
  endif()
  set(${out} "${dest}/src" PARENT_SCOPE)
endfunction()

debian_unpack(lcms2 LCMS2_SRC)
file(GLOB LCMS2_C "${LCMS2_SRC}/src/*.c")
add_library(lcms2_static STATIC ${LCMS2_C})
target_compile_options(lcms2_static PRIVATE -w)
target_include_directories(lcms2_static SYSTEM PUBLIC "${LCMS2_SRC}/include")

# GLEW is unpacked and compiled only for a build in which some target links
# it; cmake/dependencies.cmake calls this once it knows.
function(glimmark_add_glew_mingw)
  debian_unpack(glew GLEW_SRC)
  add_library(glew_static STATIC EXCLUDE_FROM_ALL "${GLEW_SRC}/src/glew.c")
  target_compile_options(glew_static PRIVATE -w)
  target_include_directories(glew_static SYSTEM PUBLIC "${GLEW_SRC}/include")
  target_compile_definitions(glew_static PUBLIC GLEW_STATIC GLEW_NO_GLU)
  target_link_libraries(glew_static PUBLIC opengl32)
endfunction()
