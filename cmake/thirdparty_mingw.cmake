# Static Little CMS 2, zlib, libpng, libtiff and GLEW for the MinGW builds
# (all but GLEW also for the fuzz build), from Debian's source tarballs (orig
# + debian patches), unpacked once into the build tree. GLEW is built only on
# demand (glimmark_add_glew_mingw); the image libraries only for the targets
# that link them (hostkit).
set(THIRDPARTY_SOURCE_DIR "${PROJECT_SOURCE_DIR}/third_party/sources" CACHE PATH
    "folder with the Debian source tarballs of lcms2, zlib, libpng1.6, tiff and glew")

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

# zlib: the inflate and deflate parts libpng and libtiff use (no gz* files).
debian_unpack(zlib ZLIB_SRC)
set(zlib_files adler32 compress crc32 deflate infback inffast inflate inftrees trees uncompr zutil)
list(TRANSFORM zlib_files PREPEND "${ZLIB_SRC}/")
list(TRANSFORM zlib_files APPEND ".c")
add_library(zlib_static STATIC EXCLUDE_FROM_ALL ${zlib_files})
target_compile_options(zlib_static PRIVATE -w)
target_include_directories(zlib_static SYSTEM PUBLIC "${ZLIB_SRC}")

# libpng with its stock configuration (scripts/pnglibconf.h.prebuilt): no
# hardware-specific filter code, which is off by default on x86 anyway.
debian_unpack(libpng1.6 PNG_SRC)
set(png_config "${CMAKE_BINARY_DIR}/_deps/libpng1.6/config")
configure_file("${PNG_SRC}/scripts/pnglibconf.h.prebuilt" "${png_config}/pnglibconf.h" COPYONLY)
set(png_files png pngerror pngget pngmem pngpread pngread pngrio pngrtran pngrutil pngset pngtrans pngwio pngwrite
    pngwtran pngwutil)
list(TRANSFORM png_files PREPEND "${PNG_SRC}/")
list(TRANSFORM png_files APPEND ".c")
add_library(png_static STATIC EXCLUDE_FROM_ALL ${png_files})
target_compile_options(png_static PRIVATE -w)
target_include_directories(png_static SYSTEM PUBLIC "${PNG_SRC}" "${png_config}")
target_link_libraries(png_static PUBLIC zlib_static)

# libtiff with deflate (zlib), LZW and PackBits only: no JPEG, JBIG, LZMA,
# ZSTD, WebP, LERC, CCITT or the old niche codecs. Its two configuration
# headers are written here, reduced to what the compiled files read.
debian_unpack(tiff TIFF_SRC)
set(tiff_config "${CMAKE_BINARY_DIR}/_deps/tiff/config")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(tiff_ssize int64_t)
else()
  set(tiff_ssize int32_t)
endif()
file(CONFIGURE OUTPUT "${tiff_config}/tiffconf.h" @ONLY CONTENT [[
/* Written by cmake/thirdparty_mingw.cmake for the static builds. */
#ifndef _TIFFCONF_
#define _TIFFCONF_
#include <stddef.h>
#include <stdint.h>
#include <inttypes.h>
#define TIFF_INT8_T int8_t
#define TIFF_INT16_T int16_t
#define TIFF_INT32_T int32_t
#define TIFF_INT64_T int64_t
#define TIFF_UINT8_T uint8_t
#define TIFF_UINT16_T uint16_t
#define TIFF_UINT32_T uint32_t
#define TIFF_UINT64_T uint64_t
#define TIFF_SSIZE_T @tiff_ssize@
#define HAVE_IEEEFP 1
#define HOST_FILLORDER FILLORDER_LSB2MSB
#define HOST_BIGENDIAN 0
#define LZW_SUPPORT 1
#define PACKBITS_SUPPORT 1
#define ZIP_SUPPORT 1
#define STRIPCHOP_DEFAULT TIFF_STRIPCHOP
#define SUBIFD_SUPPORT 1
#define DEFAULT_EXTRASAMPLE_AS_ALPHA 1
#define COLORIMETRY_SUPPORT
#define YCBCR_SUPPORT
#define CMYK_SUPPORT
#define ICC_SUPPORT
#define PHOTOSHOP_SUPPORT
#define IPTC_SUPPORT
#endif
]])
# Windows file calls on Windows; the POSIX ones in the (native) fuzz build.
if(WIN32)
  set(tiff_io_h "#define HAVE_IO_H 1")
  set(tiff_fileio "#define USE_WIN32_FILEIO 1")
  set(tiff_platform win32)
else()
  set(tiff_io_h "")
  set(tiff_fileio "")
  set(tiff_platform unix)
endif()
math(EXPR tiff_size_bytes "${CMAKE_SIZEOF_VOID_P}")
math(EXPR tiff_size_bits "${CMAKE_SIZEOF_VOID_P} * 8")
file(CONFIGURE OUTPUT "${tiff_config}/tif_config.h" @ONLY CONTENT [[
/* Written by cmake/thirdparty_mingw.cmake for the static builds. */
#include "tiffconf.h"
#define HAVE_ASSERT_H 1
#define HAVE_FCNTL_H 1
@tiff_io_h@
#define HAVE_STRINGS_H 1
#define HAVE_SYS_TYPES_H 1
#define HAVE_UNISTD_H 1
#define PACKAGE "tiff"
#define PACKAGE_NAME "LibTIFF Software"
#define PACKAGE_VERSION "4.5.0"
#define VERSION "4.5.0"
#define SIZEOF_SIZE_T @tiff_size_bytes@
#define STRIP_SIZE_DEFAULT 8192
#define TIFF_MAX_DIR_COUNT 1048576
@tiff_fileio@
#define TIFF_SIZE_FORMAT PRIu@tiff_size_bits@
#define TIFF_SSIZE_FORMAT PRId@tiff_size_bits@
]])
set(tiff_files aux close codec color compress dir dirinfo dirread dirwrite dumpmode error extension flush getimage
    hash_set lzw open packbits predict print read strip swab tile version warning write zip ${tiff_platform})
list(TRANSFORM tiff_files PREPEND "${TIFF_SRC}/libtiff/tif_")
list(TRANSFORM tiff_files APPEND ".c")
add_library(tiff_static STATIC EXCLUDE_FROM_ALL ${tiff_files})
target_compile_options(tiff_static PRIVATE -w)
target_include_directories(tiff_static SYSTEM PUBLIC "${TIFF_SRC}/libtiff" "${tiff_config}")
target_link_libraries(tiff_static PUBLIC zlib_static)
if(GLIMMARK_FUZZ)
  # Under the fuzzer these libraries are instrumented for coverage and
  # AddressSanitizer; their own arithmetic is not what we are testing.
  foreach(lib zlib_static png_static tiff_static)
    target_compile_options(${lib} PRIVATE -fno-sanitize=undefined)
  endforeach()
endif()

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
