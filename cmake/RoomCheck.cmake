# Rooms depend one way. Each room's static library declares the rooms below
# it that it links; tavro_room_check(<library>) links the whole library, with
# only what it declares, into a throwaway shared object that may leave no
# symbol undefined. A room that calls into a room it does not declare (an
# include that points the wrong way) then fails the build, even where a
# program that links every room would have hidden it.
option(TAVRO_ROOM_CHECK "Link each room's library alone to catch wrong-way dependencies" ON)

function(tavro_room_check room)
  # Sanitizer runtimes and the Windows linker resolve symbols differently;
  # the plain Linux build is the one that checks.
  if(NOT TAVRO_ROOM_CHECK OR WIN32 OR TAVRO_SANITIZE OR TAVRO_TSAN)
    return()
  endif()
  set(check ${room}_room_check)
  add_library(${check} SHARED ${PROJECT_SOURCE_DIR}/cmake/room_check.cpp)
  target_link_libraries(${check} PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${room}>")
  target_link_options(${check} PRIVATE -Wl,--no-undefined)
  set_target_properties(${check} PROPERTIES LIBRARY_OUTPUT_DIRECTORY
                        ${CMAKE_BINARY_DIR}/room_checks)
endfunction()
