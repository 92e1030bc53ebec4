# Embedded resources: a target's type libraries and version information, described in C++
# (platform/com/typelib/typelib_description.h), compiled into its `.orvan.rsrc` section.
#
#   orvan_add_resources(<target> <description sources...>)
#
# The description sources together define describe_resources(). They are built, with the
# writer, into a host program <target>_resources_gen that runs at build time and produces
#   ${CMAKE_CURRENT_BINARY_DIR}/<target>_resources.cpp   compiled into <target>
#   ${CMAKE_CURRENT_BINARY_DIR}/<target>_resources.bin   the raw section, for tests and tools
# The .bin path is stored in the target property ORVAN_RESOURCE_BLOB.

set(ORVAN_RESOURCE_WRITER_SOURCES
  ${PROJECT_SOURCE_DIR}/platform/com/typelib/typelib_writer.cpp
  ${PROJECT_SOURCE_DIR}/platform/com/typelib/resource_writer.cpp
  ${PROJECT_SOURCE_DIR}/platform/com/typelib/description_helpers.cpp
  ${PROJECT_SOURCE_DIR}/platform/com/typelib/generator/resource_generator.cpp)

function(orvan_add_resources target)
  if(NOT ARGN)
    message(FATAL_ERROR "orvan_add_resources(${target}): name the description sources")
  endif()
  set(generator ${target}_resources_gen)
  add_executable(${generator} ${ARGN} ${ORVAN_RESOURCE_WRITER_SOURCES})
  # The generator needs only the GUID and string helpers of the base library, linked
  # statically from its sources so that it runs before any shared library is built.
  target_sources(${generator} PRIVATE ${PROJECT_SOURCE_DIR}/platform/com/guid.cpp)
  orvan_warnings(${generator})
  set(out_cpp ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.cpp)
  set(out_bin ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.bin)
  add_custom_command(OUTPUT ${out_cpp} ${out_bin}
    COMMAND ${generator} ${out_cpp} ${out_bin}
    DEPENDS ${generator}
    COMMENT "Generating the embedded resources of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${out_cpp})
  set_target_properties(${target} PROPERTIES ORVAN_RESOURCE_BLOB ${out_bin})
endfunction()
