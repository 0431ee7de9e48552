# The built-in grayscale profile (resource 243, IDR_LINEAR_COLOR_PROFILE).
#
# Little CMS writes it at configure time: a small generator is compiled with
# the machine's own C++ compiler against the system Little CMS and run. It
# cannot be a target of this build, because the Windows presets are cross
# builds whose programs do not run here. Its output lands in the build tree:
#   generated/color/gray_profile.icc       the profile (RCDATA 243 on Windows)
#   generated/color/gray_profile_data.cpp  the same bytes as an array
# The array is compiled into glimmark_core. On Windows a one-line resource
# script is compiled on its own and handed to everything that links
# glimmark_core (the module and the test programs); the linker merges it with
# the module's other resources.
set(_gray_generator_source "${PROJECT_SOURCE_DIR}/src/color/generator/gray_profile_generator.cpp")
set(_gray_dir "${CMAKE_BINARY_DIR}/generated/color")
set(_gray_icc "${_gray_dir}/gray_profile.icc")
set(_gray_array "${_gray_dir}/gray_profile_data.cpp")
set(_gray_generator "${CMAKE_BINARY_DIR}/_deps/gray_profile_generator/gray_profile_generator")

# Searched on the build machine also in cross builds (their toolchain files
# keep program searches off the target root).
find_program(GLIMMARK_NATIVE_CXX NAMES c++ g++ clang++ REQUIRED
             DOC "the build machine's C++ compiler, for the profile generator")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_gray_generator_source}")

if(NOT EXISTS "${_gray_icc}" OR NOT EXISTS "${_gray_array}" OR
   "${_gray_generator_source}" IS_NEWER_THAN "${_gray_array}")
  file(MAKE_DIRECTORY "${_gray_dir}" "${CMAKE_BINARY_DIR}/_deps/gray_profile_generator")
  execute_process(
    COMMAND "${GLIMMARK_NATIVE_CXX}" -std=c++17 -O1 -Wall -Wextra "${_gray_generator_source}"
            -o "${_gray_generator}" -llcms2
    RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _out)
  if(_rc)
    message(FATAL_ERROR "Could not compile the grayscale profile generator with ${GLIMMARK_NATIVE_CXX} "
                        "(the system Little CMS development files are needed, liblcms2-dev):\n${_out}")
  endif()
  execute_process(COMMAND "${_gray_generator}" "${_gray_icc}" "${_gray_array}"
                  RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _out)
  if(_rc)
    file(REMOVE "${_gray_icc}" "${_gray_array}")
    message(FATAL_ERROR "The grayscale profile generator failed:\n${_out}")
  endif()
endif()

target_sources(glimmark_core PRIVATE "${_gray_array}")

if(WIN32)
  set(_gray_rc "${_gray_dir}/gray_profile.rc")
  file(CONFIGURE OUTPUT "${_gray_rc}" CONTENT
       "// Generated: the built-in grayscale profile, IDR_LINEAR_COLOR_PROFILE.\nLANGUAGE 9, 1\n243 RCDATA \"@_gray_icc@\"\n"
       @ONLY)
  add_library(glimmark_profile_resource OBJECT "${_gray_rc}")
  set_source_files_properties("${_gray_rc}" PROPERTIES OBJECT_DEPENDS "${_gray_icc}")
  target_sources(glimmark_core INTERFACE $<TARGET_OBJECTS:glimmark_profile_resource>)
endif()
