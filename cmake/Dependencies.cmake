# Third-party libraries, all from Debian packages (scripts/install-deps.sh).
find_package(Threads REQUIRED)

# OpenCV: core and video in the product; imgproc, imgcodecs, videoio and dnn in tools.
find_package(OpenCV REQUIRED COMPONENTS core video imgproc imgcodecs videoio)
find_package(OpenCV QUIET COMPONENTS dnn)

# libyuv ships no CMake or pkg-config file on Debian.
find_path(LIBYUV_INCLUDE_DIR libyuv.h REQUIRED)
find_library(LIBYUV_LIBRARY yuv REQUIRED)
add_library(tavro::yuv UNKNOWN IMPORTED)
set_target_properties(tavro::yuv PROPERTIES
  IMPORTED_LOCATION ${LIBYUV_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${LIBYUV_INCLUDE_DIR})
if(WIN32)
  # The cross-built libyuv calls tavro_yuv_malloc and tavro_yuv_free
  # (matting/yuv_scratch_win.cpp) instead of malloc and free.
  set_property(TARGET tavro::yuv APPEND PROPERTY INTERFACE_LINK_LIBRARIES tavro_yuv_scratch)
endif()

# RapidJSON is header-only.
find_path(RAPIDJSON_INCLUDE_DIR rapidjson/document.h REQUIRED)
add_library(tavro::rapidjson INTERFACE IMPORTED)
set_target_properties(tavro::rapidjson PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${RAPIDJSON_INCLUDE_DIR})

if(TAVRO_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
if(TAVRO_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()

# Adds every direct subfolder of the current source folder that has a
# CMakeLists.txt (tests/, bench/ and tools/ keep one folder per subject).
function(tavro_add_child_folders)
  file(GLOB children RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(child ${children})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
