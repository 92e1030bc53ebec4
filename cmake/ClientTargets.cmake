# The targets a client links, under the names the CMake package gives them:
#   OrvanMusicEngine::component  the client headers and the component runtime: create
#                                OrvanMusic by class identity (what applications link)
#   OrvanMusicEngine::runtime    the component runtime library alone
#   OrvanMusicEngine::com        the base library the runtime builds on
# A project that adds this source tree (add_subdirectory, FetchContent) links the same names
# as one that finds the installed tree with find_package. The engine class and the platform
# libraries behind it are private to the project.

include(GNUInstallDirs)

# OrvanMusicEngine::component: the client headers and the component runtime.
if(TARGET orvan_comrt)
  add_library(orvan_component_client INTERFACE)
  target_link_libraries(orvan_component_client INTERFACE orvan_comrt)
  target_include_directories(orvan_component_client INTERFACE
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  # The C++ client header needs C++17 (inline variables).
  target_compile_features(orvan_component_client INTERFACE cxx_std_17)
endif()

# Each client target and its name in the package; Install.cmake exports exactly these.
set(ORVAN_CLIENT_TARGETS)
foreach(pair orvan_com:com orvan_comrt:runtime orvan_component_client:component)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 target)
  list(GET pair 1 name)
  if(TARGET ${target})
    set_target_properties(${target} PROPERTIES EXPORT_NAME ${name})
    add_library(OrvanMusicEngine::${name} ALIAS ${target})
    list(APPEND ORVAN_CLIENT_TARGETS ${target})
  endif()
endforeach()
