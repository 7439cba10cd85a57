# Third-party libraries: Debian packages (scripts/install-deps.sh), and libyuv
# built from Debian's source package.
find_package(Threads REQUIRED)

# OpenCV: core and video in the product; imgproc, imgcodecs, videoio and dnn in tools.
find_package(OpenCV REQUIRED COMPONENTS core video imgproc imgcodecs videoio)
find_package(OpenCV QUIET COMPONENTS dnn)

# libyuv: the module's own, built from Debian's source package as a static
# library with hidden symbols whose malloc and free are renamed to
# tavro_yuv_malloc and tavro_yuv_free (matting/yuv_scratch.cpp), so that no
# libyuv.so of the host is loaded or touched. On Linux it is built here, once,
# into TAVRO_DEPS_DIR (scripts/build-libyuv.sh); the Windows cross build
# brings it in its dependency prefix (scripts/build-windows.sh).
if(WIN32)
  find_path(LIBYUV_INCLUDE_DIR libyuv.h REQUIRED)
  find_library(LIBYUV_LIBRARY yuv REQUIRED)
  add_library(tavro::yuv UNKNOWN IMPORTED)
  set_target_properties(tavro::yuv PROPERTIES
    IMPORTED_LOCATION ${LIBYUV_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${LIBYUV_INCLUDE_DIR})
else()
  set(TAVRO_DEPS_DIR ${PROJECT_SOURCE_DIR}/build-deps CACHE PATH
      "Where third-party libraries built from source are kept")
  set(libyuv_prefix ${TAVRO_DEPS_DIR}/libyuv)
  execute_process(COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/build-libyuv.sh ${libyuv_prefix}
                  RESULT_VARIABLE libyuv_result)
  if(NOT libyuv_result EQUAL 0)
    message(FATAL_ERROR "building libyuv into ${libyuv_prefix} failed")
  endif()
  add_library(tavro::yuv STATIC IMPORTED)
  set_target_properties(tavro::yuv PROPERTIES
    IMPORTED_LOCATION ${libyuv_prefix}/lib/libyuv.a
    INTERFACE_INCLUDE_DIRECTORIES ${libyuv_prefix}/include)
  if(EXISTS ${libyuv_prefix}/.with-jpeg)
    # Its MJPEG decoder (used by tests) calls libjpeg.
    find_package(JPEG REQUIRED)
    set_property(TARGET tavro::yuv APPEND PROPERTY INTERFACE_LINK_LIBRARIES JPEG::JPEG)
  endif()
endif()
set_property(TARGET tavro::yuv APPEND PROPERTY INTERFACE_LINK_LIBRARIES tavro_yuv_scratch)

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
