# Install rules, the CMake package OrvanMusicEngine, the pkg-config files and the .deb.
#
# Layout under a prefix P (every path relative, so a tree installed at P can be moved):
#   P/lib/liborvan_*.so.1.0.0, libTovel.so.1.0.0  libraries (soname .so.1; .so for linking)
#   P/include/orvan/                              component client headers (tovel.h, ...)
#   P/include/orvan/engine, P/include/orvan/platform   the engine class and the platform
#                                                 headers it includes by source-root path
#   P/bin/tovel-play, orvan-regsvr, orvan-typelib command-line tools
#   P/lib/orvan-music-engine/bin/Seek, Duvane     the window programs, linked from P/bin
#   P/lib/orvan-music-engine/media -> ../../share/orvan-music-engine/media  (Theme.mid)
#   P/lib/cmake/OrvanMusicEngine, P/lib/pkgconfig the CMake package, pkg-config files
#   P/share/doc/orvan-music-engine, P/share/man/man1
# The window programs find their music in "media" beside the folder that holds them. Qt's
# applicationDirPath() reads /proc/self/exe, which the kernel gives with every link
# resolved, so P/bin/Seek runs with P/lib/orvan-music-engine/bin as its folder and finds
# P/lib/orvan-music-engine/media/Theme.mid. Every rule below applies only to targets that
# exist in this build.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ORVAN_PACKAGE_NAME orvan-music-engine)
set(ORVAN_DEB_MAINTAINER "Orvan Music Engine developers <orvan-music-engine@example.org>"
    CACHE STRING "Maintainer of the Debian package and its changelog")
set(ORVAN_INSTALL_PKGLIBDIR lib/${ORVAN_PACKAGE_NAME} CACHE STRING
    "Private folder (relative to the prefix) of the window programs and the media link")
set(ORVAN_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/OrvanMusicEngine)
set(ORVAN_INSTALL_PKGCONFIGDIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
set(ORVAN_INSTALL_MEDIADIR ${CMAKE_INSTALL_DATADIR}/${ORVAN_PACKAGE_NAME}/media)
set(ORVAN_INSTALL_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/${ORVAN_PACKAGE_NAME})
foreach(dir CMAKE_INSTALL_LIBDIR CMAKE_INSTALL_BINDIR CMAKE_INSTALL_INCLUDEDIR
        CMAKE_INSTALL_DATADIR ORVAN_INSTALL_PKGLIBDIR)
  if(IS_ABSOLUTE "${${dir}}")
    message(FATAL_ERROR "${dir} must be relative to the prefix, so that the tree can move")
  endif()
endforeach()

# `from` and `to` are folders relative to the prefix; the result is the path between them.
function(orvan_relative_path out from to)
  file(RELATIVE_PATH rel /prefix/${from} /prefix/${to})
  string(REGEX REPLACE "/$" "" rel "${rel}")
  if(rel STREQUAL "")
    set(rel .)
  endif()
  set(${out} ${rel} PARENT_SCOPE)
endfunction()

orvan_relative_path(ORVAN_BIN_TO_LIB ${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_LIBDIR})
orvan_relative_path(ORVAN_PKGBIN_TO_LIB ${ORVAN_INSTALL_PKGLIBDIR}/bin ${CMAKE_INSTALL_LIBDIR})
orvan_relative_path(ORVAN_BIN_TO_PKGBIN ${CMAKE_INSTALL_BINDIR} ${ORVAN_INSTALL_PKGLIBDIR}/bin)
orvan_relative_path(ORVAN_PKGLIB_TO_MEDIA ${ORVAN_INSTALL_PKGLIBDIR} ${ORVAN_INSTALL_MEDIADIR})
orvan_relative_path(ORVAN_PKGCONFIG_TO_PREFIX ${ORVAN_INSTALL_PKGCONFIGDIR} .)

# --- Libraries ---------------------------------------------------------------------------------
set(ORVAN_PUBLIC_LIBRARIES)
foreach(lib orvan_com orvan_ui orvan_music orvan_engine orvan_comrt)
  if(TARGET ${lib})
    list(APPEND ORVAN_PUBLIC_LIBRARIES ${lib})
  endif()
endforeach()
# The names clients see in the package: OrvanMusicEngine::engine and so on.
set(ORVAN_EXPORT_NAME_orvan_com com)
set(ORVAN_EXPORT_NAME_orvan_ui ui)
set(ORVAN_EXPORT_NAME_orvan_music music)
set(ORVAN_EXPORT_NAME_orvan_engine engine)
set(ORVAN_EXPORT_NAME_orvan_comrt runtime)
foreach(lib IN LISTS ORVAN_PUBLIC_LIBRARIES)
  set_target_properties(${lib} PROPERTIES
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    EXPORT_NAME ${ORVAN_EXPORT_NAME_${lib}}
    INSTALL_RPATH "$ORIGIN")
endforeach()
if(ORVAN_PUBLIC_LIBRARIES)
  install(TARGETS ${ORVAN_PUBLIC_LIBRARIES} EXPORT OrvanMusicEngineTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
      NAMELINK_COMPONENT development)
endif()

# The component is loaded by the path in the registry, which names the versioned file
# itself: the unversioned name is a development link and may be absent at run time.
if(TARGET Tovel)
  set_target_properties(Tovel PROPERTIES
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    INSTALL_RPATH "$ORIGIN")
  install(TARGETS Tovel
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
      NAMELINK_COMPONENT development)
  set(ORVAN_TOVEL_FILE
      ${CMAKE_SHARED_LIBRARY_PREFIX}Tovel${CMAKE_SHARED_LIBRARY_SUFFIX}.${PROJECT_VERSION})
endif()

# --- Headers ---------------------------------------------------------------------------------
# The component client: include/orvan/*.h as <orvan/...>.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/orvan
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development
  FILES_MATCHING PATTERN "*.h")

# The engine class includes platform headers by their path from the source root
# ("platform/music/root.h"). The headers it reaches are installed under include/orvan with
# the same relative paths, and the engine target adds include/orvan to its users' search
# path, so the includes resolve unchanged. The set is found by following the quoted
# includes, so it stays right as the headers change.
function(orvan_header_closure out first)
  set(pending ${first})
  set(found)
  while(pending)
    list(POP_FRONT pending header)
    if(header IN_LIST found)
      continue()
    endif()
    list(APPEND found ${header})
    file(STRINGS ${CMAKE_SOURCE_DIR}/${header} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" included "${line}")
      if(EXISTS ${CMAKE_SOURCE_DIR}/${included})
        list(APPEND pending ${included})
      elseif(NOT EXISTS ${CMAKE_SOURCE_DIR}/include/${included})
        message(FATAL_ERROR "${header} includes \"${included}\", which is not in the tree")
      endif()
    endforeach()
  endwhile()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

if(TARGET orvan_engine)
  orvan_header_closure(ORVAN_ENGINE_HEADERS engine/orvan_music.h)
  foreach(header IN LISTS ORVAN_ENGINE_HEADERS)
    get_filename_component(subdir ${header} DIRECTORY)
    install(FILES ${CMAKE_SOURCE_DIR}/${header}
      DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orvan/${subdir} COMPONENT development)
  endforeach()
  set_property(TARGET orvan_engine APPEND PROPERTY INTERFACE_INCLUDE_DIRECTORIES
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/orvan>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  # The engine's headers are C++20; a client that links the class gets it.
  set_property(TARGET orvan_engine APPEND PROPERTY INTERFACE_COMPILE_FEATURES cxx_std_20)
endif()

# OrvanMusicEngine::component: what a client that creates the class by identity needs, the
# client headers and the component runtime.
if(TARGET orvan_comrt)
  add_library(orvan_component_client INTERFACE)
  target_link_libraries(orvan_component_client INTERFACE orvan_comrt)
  target_include_directories(orvan_component_client INTERFACE
    $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  # The client header needs C++17 (inline variables).
  target_compile_features(orvan_component_client INTERFACE cxx_std_17)
  set_target_properties(orvan_component_client PROPERTIES EXPORT_NAME component)
  install(TARGETS orvan_component_client EXPORT OrvanMusicEngineTargets)
endif()

# --- Programs --------------------------------------------------------------------------------
foreach(tool tovel-play orvan-regsvr orvan-typelib)
  if(TARGET ${tool})
    set_target_properties(${tool} PROPERTIES INSTALL_RPATH "$ORIGIN/${ORVAN_BIN_TO_LIB}")
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  endif()
endforeach()

# The window programs live in the private folder and are linked from bin/. The links are
# made in the build tree and installed as links.
set(ORVAN_LINK_DIR ${CMAKE_BINARY_DIR}/install-links)
file(MAKE_DIRECTORY ${ORVAN_LINK_DIR})
foreach(program Seek Duvane)
  if(TARGET ${program})
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/${ORVAN_PKGBIN_TO_LIB}")
    install(TARGETS ${program}
      RUNTIME DESTINATION ${ORVAN_INSTALL_PKGLIBDIR}/bin COMPONENT runtime)
    file(CREATE_LINK ${ORVAN_BIN_TO_PKGBIN}/${program} ${ORVAN_LINK_DIR}/${program} SYMBOLIC)
    install(FILES ${ORVAN_LINK_DIR}/${program}
      DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  endif()
endforeach()

# --- Data and documentation ------------------------------------------------------------------
if(TARGET theme-mid)
  install(FILES ${CMAKE_BINARY_DIR}/media/Theme.mid
    DESTINATION ${ORVAN_INSTALL_MEDIADIR} COMPONENT runtime)
  file(CREATE_LINK ${ORVAN_PKGLIB_TO_MEDIA} ${ORVAN_LINK_DIR}/media SYMBOLIC)
  install(FILES ${ORVAN_LINK_DIR}/media
    DESTINATION ${ORVAN_INSTALL_PKGLIBDIR} COMPONENT runtime)
endif()

# Manual pages and the Debian changelog are installed compressed, as Debian ships them.
find_program(ORVAN_GZIP gzip REQUIRED)
set(ORVAN_COMPRESSED_DOCS)
function(orvan_gzip_doc source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${ORVAN_GZIP} -9nc ${source} > ${output}
    DEPENDS ${source}
    COMMENT "Compressing ${source}"
    VERBATIM)
  set(ORVAN_COMPRESSED_DOCS ${ORVAN_COMPRESSED_DOCS} ${output} PARENT_SCOPE)
endfunction()

set(ORVAN_DOC_BUILD_DIR ${CMAKE_BINARY_DIR}/packaging)
set(ORVAN_MAN_PAGES)
foreach(program tovel-play orvan-regsvr orvan-typelib Seek Duvane)
  if(TARGET ${program} AND EXISTS ${CMAKE_SOURCE_DIR}/packaging/man/${program}.1)
    orvan_gzip_doc(${CMAKE_SOURCE_DIR}/packaging/man/${program}.1
      ${ORVAN_DOC_BUILD_DIR}/${program}.1.gz)
    list(APPEND ORVAN_MAN_PAGES ${ORVAN_DOC_BUILD_DIR}/${program}.1.gz)
  endif()
endforeach()
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${ORVAN_DOC_BUILD_DIR}/changelog @ONLY)
orvan_gzip_doc(${ORVAN_DOC_BUILD_DIR}/changelog ${ORVAN_DOC_BUILD_DIR}/changelog.gz)
add_custom_target(orvan-docs ALL DEPENDS ${ORVAN_COMPRESSED_DOCS})

if(ORVAN_MAN_PAGES)
  install(FILES ${ORVAN_MAN_PAGES}
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/packaging/copyright
  ${ORVAN_DOC_BUILD_DIR}/changelog.gz
  DESTINATION ${ORVAN_INSTALL_DOCDIR} COMPONENT runtime)

# --- CMake package and pkg-config ------------------------------------------------------------
if(ORVAN_PUBLIC_LIBRARIES)
  install(EXPORT OrvanMusicEngineTargets NAMESPACE OrvanMusicEngine::
    DESTINATION ${ORVAN_INSTALL_CMAKEDIR} COMPONENT development)
  configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/OrvanMusicEngineConfig.cmake.in
    ${CMAKE_BINARY_DIR}/cmake/OrvanMusicEngineConfig.cmake
    INSTALL_DESTINATION ${ORVAN_INSTALL_CMAKEDIR})
  write_basic_package_version_file(${CMAKE_BINARY_DIR}/cmake/OrvanMusicEngineConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_BINARY_DIR}/cmake/OrvanMusicEngineConfig.cmake
    ${CMAKE_BINARY_DIR}/cmake/OrvanMusicEngineConfigVersion.cmake
    DESTINATION ${ORVAN_INSTALL_CMAKEDIR} COMPONENT development)
endif()

# Two pkg-config files for the two ways in: orvan-music-engine for a client that creates
# the class by identity through the component runtime, orvan-music-engine-class for a
# program that links the engine class directly. Both find their prefix from where they are.
set(ORVAN_PC_FILES)
if(TARGET orvan_comrt)
  set(ORVAN_PC_NAME orvan-music-engine)
  set(ORVAN_PC_DESCRIPTION "Orvan Music Engine: create the OrvanMusic component by class identity")
  set(ORVAN_PC_CFLAGS "-I\${includedir}")
  set(ORVAN_PC_LIBS "-L\${libdir} -lorvan_comrt")
  configure_file(${CMAKE_SOURCE_DIR}/cmake/orvan-music-engine.pc.in
    ${CMAKE_BINARY_DIR}/pkgconfig/orvan-music-engine.pc @ONLY)
  list(APPEND ORVAN_PC_FILES ${CMAKE_BINARY_DIR}/pkgconfig/orvan-music-engine.pc)
endif()
if(TARGET orvan_engine)
  set(ORVAN_PC_NAME orvan-music-engine-class)
  set(ORVAN_PC_DESCRIPTION "Orvan Music Engine: the OrvanMusic class, linked directly")
  set(ORVAN_PC_CFLAGS "-I\${includedir} -I\${includedir}/orvan")
  set(ORVAN_PC_LIBS "-L\${libdir} -lorvan_engine -lorvan_music -lorvan_ui -lorvan_com")
  configure_file(${CMAKE_SOURCE_DIR}/cmake/orvan-music-engine.pc.in
    ${CMAKE_BINARY_DIR}/pkgconfig/orvan-music-engine-class.pc @ONLY)
  list(APPEND ORVAN_PC_FILES ${CMAKE_BINARY_DIR}/pkgconfig/orvan-music-engine-class.pc)
endif()
if(ORVAN_PC_FILES)
  install(FILES ${ORVAN_PC_FILES}
    DESTINATION ${ORVAN_INSTALL_PKGCONFIGDIR} COMPONENT development)
endif()

include(PythonPackage)
include(${CMAKE_SOURCE_DIR}/packaging/Debian.cmake)

if(ORVAN_BUILD_TESTS)
  include(${CMAKE_SOURCE_DIR}/tests/install/InstallTests.cmake)
endif()
