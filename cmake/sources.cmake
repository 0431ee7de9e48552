# Sources are collected per folder so that adding a file needs no CMake edit.
# Platform code lives in *_win32.cpp / *_posix.cpp pairs; CMake picks one side.
#
# GLIMMARK_PLATFORM names that side. Only two exist: a target that is neither
# Windows nor a Linux-like POSIX system would otherwise get the POSIX files and
# fail late, or build a module no host of ours can load, so it stops here.
if(WIN32)
  set(GLIMMARK_PLATFORM win32)
elseif(UNIX AND NOT APPLE)
  set(GLIMMARK_PLATFORM posix)
else()
  message(FATAL_ERROR "Unsupported target system '${CMAKE_SYSTEM_NAME}': Glimmark 2 has a Windows side (*_win32.cpp, "
                      "MinGW presets win64/win32) and a POSIX side built as an ELF shared object (*_posix.cpp, "
                      "presets linux/linux-asan), and no other.")
endif()

# Drops the other platform's files from the list in the variable named `var`.
function(glimmark_platform_filter var)
  set(files ${${var}})
  if(GLIMMARK_PLATFORM STREQUAL "win32")
    list(FILTER files EXCLUDE REGEX "_posix\\.cpp$")
  else()
    list(FILTER files EXCLUDE REGEX "_win32\\.cpp$")
  endif()
  set(${var} ${files} PARENT_SCOPE)
endfunction()

function(glimmark_collect out)
  set(result)
  foreach(dir IN LISTS ARGN)
    file(GLOB files CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/${dir}/*.cpp" "${PROJECT_SOURCE_DIR}/${dir}/*.c")
    list(APPEND result ${files})
  endforeach()
  glimmark_platform_filter(result)
  set(${out} ${result} PARENT_SCOPE)
endfunction()
