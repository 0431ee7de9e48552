# Little CMS 2, GLEW, zlib, libpng, libtiff and GoogleTest.
# Native builds use Debian's -dev packages; the MinGW builds compile static
# libraries from Debian's source packages (fetched by scripts/setup.sh) inside
# the build tree, so a rebuild does not unpack them again.
find_package(Threads REQUIRED)

if(WIN32)
  include(cmake/thirdparty_mingw.cmake)
  add_library(glimmark::lcms2 ALIAS lcms2_static)
  add_library(glimmark::zlib ALIAS zlib_static)
  add_library(glimmark::png ALIAS png_static)
  add_library(glimmark::tiff ALIAS tiff_static)
elseif(GLIMMARK_FUZZ)
  # Fuzzing sees into the parsers behind our checks (the profile parser, the
  # image codecs) only when they carry the same instrumentation: the fuzz
  # build compiles the Debian sources that the Windows builds link.
  include(cmake/thirdparty_mingw.cmake)
  add_library(glimmark::lcms2 ALIAS lcms2_static)
  add_library(glimmark::zlib ALIAS zlib_static)
  add_library(glimmark::png ALIAS png_static)
  add_library(glimmark::tiff ALIAS tiff_static)
else()
  find_package(PkgConfig QUIET)
  find_path(LCMS2_INCLUDE_DIR lcms2.h REQUIRED)
  find_library(LCMS2_LIBRARY lcms2 REQUIRED)
  add_library(lcms2_system INTERFACE)
  target_include_directories(lcms2_system SYSTEM INTERFACE ${LCMS2_INCLUDE_DIR})
  target_link_libraries(lcms2_system INTERFACE ${LCMS2_LIBRARY})
  add_library(glimmark::lcms2 ALIAS lcms2_system)
  # The image codecs of hostkit (and the tests that make damaged files).
  find_package(ZLIB REQUIRED)
  find_package(PNG REQUIRED)
  find_package(TIFF REQUIRED)
  foreach(name zlib png tiff)
    add_library(glimmark_${name} INTERFACE)
    add_library(glimmark::${name} ALIAS glimmark_${name})
  endforeach()
  target_link_libraries(glimmark_zlib INTERFACE ZLIB::ZLIB)
  target_link_libraries(glimmark_png INTERFACE PNG::PNG)
  target_link_libraries(glimmark_tiff INTERFACE TIFF::TIFF)
endif()
if(NOT WIN32)
  # Native OpenGL: the plug-in's portable OpenGL code runs in tests on EGL
  # contexts without a window system.
  set(OpenGL_GL_PREFERENCE GLVND)
  find_package(OpenGL REQUIRED COMPONENTS OpenGL EGL)
endif()

# GLEW: targets link glimmark::glew, and only a build in which one does sets
# it up. Otherwise the Windows builds would unpack and compile GLEW for
# nothing, and native builds would need libglew-dev just to configure. Who
# links what is known only when every directory has been read, so the check
# is deferred to the end of the top-level CMakeLists.txt; link names are
# resolved later, at generation, when the alias exists.
function(_glimmark_glew_users dir out)
  set(users)
  get_property(targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(direct ${target} LINK_LIBRARIES)
    get_target_property(interface ${target} INTERFACE_LINK_LIBRARIES)
    # Also inside generator expressions such as $<LINK_ONLY:glimmark::glew>.
    if("${direct};${interface}" MATCHES "glimmark::glew([;>,]|$)")
      list(APPEND users ${target})
    endif()
  endforeach()
  get_property(subdirs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    _glimmark_glew_users("${sub}" sub_users)
    list(APPEND users ${sub_users})
  endforeach()
  set(${out} ${users} PARENT_SCOPE)
endfunction()

function(_glimmark_provide_glew)
  _glimmark_glew_users("${PROJECT_SOURCE_DIR}" users)
  if(NOT users)
    message(STATUS "GLEW: no target links it; not set up")
    return()
  endif()
  list(JOIN users ", " user_list)
  message(STATUS "GLEW: linked by ${user_list}")
  if(WIN32)
    glimmark_add_glew_mingw()
    add_library(glimmark::glew ALIAS glew_static)
  else()
    find_package(GLEW)
    if(NOT GLEW_FOUND)
      message(FATAL_ERROR "GLEW not found; targets that link it: ${user_list}. Install libglew-dev (scripts/setup.sh does).")
    endif()
    # GLEW::GLEW is an imported target of this directory only; a target of
    # our own is visible to all of them.
    add_library(glimmark_glew INTERFACE)
    target_link_libraries(glimmark_glew INTERFACE GLEW::GLEW)
    add_library(glimmark::glew ALIAS glimmark_glew)
  endif()
endfunction()
cmake_language(DEFER DIRECTORY "${PROJECT_SOURCE_DIR}" CALL _glimmark_provide_glew)

if(GLIMMARK_TESTS)
  if(WIN32)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL)
    foreach(t gtest gtest_main)
      target_compile_options(${t} PRIVATE -w)
    endforeach()
    if(NOT TARGET GTest::gtest)
      add_library(GTest::gtest ALIAS gtest)
      add_library(GTest::gtest_main ALIAS gtest_main)
    endif()
  else()
    find_package(GTest REQUIRED)
  endif()
endif()
