# The decoder libraries that libvbmp3 loads with dlopen when a file of their kind is first
# opened: only their headers are used at build time.  Sets
#   VBMP3_DECODER_INCLUDE_DIRS  the header folders
#   VBMP3_DECODER_DEFINITIONS   VBMP3_SONAME_<NAME>="libX.so.N", the name each is loaded by
# Included by the library's CMakeLists.txt and by the fuzz targets' project.

# Adds the package's headers and the SONAME of its library `library` (as in lib<library>.so).
function(vbmp3_runtime_library name package library)
  pkg_check_modules(VBMP3_${name} REQUIRED ${package})
  set(file "")
  foreach(lib IN LISTS VBMP3_${name}_LINK_LIBRARIES)
    get_filename_component(base "${lib}" NAME)
    if(base MATCHES "^lib${library}\\.so")
      set(file "${lib}")
    endif()
  endforeach()
  if(NOT file OR NOT CMAKE_OBJDUMP)
    message(FATAL_ERROR "cannot find lib${library}.so of ${package} (or objdump) to read its SONAME")
  endif()
  execute_process(COMMAND ${CMAKE_OBJDUMP} -p "${file}" OUTPUT_VARIABLE dump ERROR_QUIET)
  if(NOT dump MATCHES "SONAME +([^ \n]+)")
    message(FATAL_ERROR "${file} has no SONAME")
  endif()
  set(VBMP3_DECODER_INCLUDE_DIRS ${VBMP3_DECODER_INCLUDE_DIRS} ${VBMP3_${name}_INCLUDE_DIRS} PARENT_SCOPE)
  set(VBMP3_DECODER_DEFINITIONS ${VBMP3_DECODER_DEFINITIONS} "VBMP3_SONAME_${name}=\"${CMAKE_MATCH_1}\"" PARENT_SCOPE)
endfunction()

set(VBMP3_DECODER_INCLUDE_DIRS "")
set(VBMP3_DECODER_DEFINITIONS "")
vbmp3_runtime_library(FLAC flac FLAC)
vbmp3_runtime_library(VORBISFILE vorbisfile vorbisfile)
vbmp3_runtime_library(OPUSFILE opusfile opusfile)
vbmp3_runtime_library(WAVPACK wavpack wavpack)
vbmp3_runtime_library(AVFORMAT libavformat avformat)
vbmp3_runtime_library(AVCODEC libavcodec avcodec)
vbmp3_runtime_library(AVUTIL libavutil avutil)
list(REMOVE_DUPLICATES VBMP3_DECODER_INCLUDE_DIRS)
