# Warnings, sanitizers and output folders shared by every target of the project.

set(ORVAN_SANITIZE "" CACHE STRING "Sanitizers: address (ASan+UBSan), thread (TSan) or empty")
# Off for someone who builds the project the usual way with another compiler than ours, where
# a new warning should not stop the build; the project's scripts and CI turn it on.
option(ORVAN_WERROR "Treat warnings as errors" OFF)

set(ORVAN_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual -Wnull-dereference)
if(ORVAN_WERROR)
  list(APPEND ORVAN_WARNINGS -Werror)
endif()

# A project that embeds this one decides which warnings its build shows.
option(ORVAN_ENABLE_WARNINGS "Build the project's own targets with its warning set"
  ${PROJECT_IS_TOP_LEVEL})

# Applies the project's warning set to one target (third-party code never gets it).
function(orvan_warnings target)
  if(ORVAN_ENABLE_WARNINGS)
    target_compile_options(${target} PRIVATE ${ORVAN_WARNINGS})
  endif()
endfunction()

if(ORVAN_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(ORVAN_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT ORVAN_SANITIZE STREQUAL "")
  message(FATAL_ERROR "ORVAN_SANITIZE must be 'address', 'thread' or empty")
endif()

# Code that calls interface pointers a client made: an object written in C or Python has a
# function table and nothing of C++'s type information before it, which the undefined-
# behaviour sanitizer's vptr check would take for a broken object on every call.
function(orvan_calls_foreign_interfaces target)
  if(ORVAN_SANITIZE STREQUAL "address")
    target_compile_options(${target} PRIVATE -fno-sanitize=vptr)
  endif()
endfunction()

# Programs go to bin/, libraries to lib/, and the demo music to media/ beside bin/. Embedded,
# the targets go where the embedding project puts its own.
if(PROJECT_IS_TOP_LEVEL)
  set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
  set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib)
  set(CMAKE_ARCHIVE_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib)
  set(CMAKE_BUILD_RPATH ${PROJECT_BINARY_DIR}/lib)
endif()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
