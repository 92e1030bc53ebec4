# Install rules, the CMake package OrvanMusicEngine, the pkg-config files and the .deb.
#
# Layout under a prefix P (every path relative, so a tree installed at P can be moved):
#   P/lib/liborvan_com.so*, liborvan_comrt.so*    the client libraries (.so.1.0.0, soname
#                                                 .so.1, and .so for linking)
#   P/lib/liborvan_{ui,music,engine}.so.1*        private: the libraries behind the component
#                                                 and tovel-play, no link to build against
#   P/lib/libTovel.so.1.0.0                       the component
#   P/include/orvan/                              the component's client headers
#   P/bin/tovel-play, orvan-regsvr, orvan-typelib command-line tools
#   P/lib/orvan-music-engine/bin/Seek, Duvane     the window programs, linked from P/bin
#   P/lib/orvan-music-engine/media -> ../../share/orvan-music-engine/media  (Theme.mid)
#   P/lib/cmake/OrvanMusicEngine, P/lib/pkgconfig the CMake package, the pkg-config file
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

# Installed targets are linked with their install run path (every entry relative to $ORIGIN),
# plus the build tree's folder of libraries where that differs, so the same file runs in both
# trees. Linking with the build path and rewriting it at install would leave a trailing empty
# entry in every build-tree file (CMake pads the path for its in-place rewrite), and the
# loader reads an empty entry as the current directory.
function(orvan_origin_rpath target install_rpath)
  set(rpath "${install_rpath}")
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    get_target_property(out_dir ${target} RUNTIME_OUTPUT_DIRECTORY)
  else()
    get_target_property(out_dir ${target} LIBRARY_OUTPUT_DIRECTORY)
  endif()
  if(out_dir AND CMAKE_LIBRARY_OUTPUT_DIRECTORY)
    file(RELATIVE_PATH build_rel "${out_dir}" "${CMAKE_LIBRARY_OUTPUT_DIRECTORY}")
    string(REGEX REPLACE "/$" "" build_rel "${build_rel}")
    set(build_rpath "$ORIGIN")
    if(NOT build_rel STREQUAL "")
      set(build_rpath "$ORIGIN/${build_rel}")
    endif()
    if(NOT build_rpath IN_LIST rpath)
      list(APPEND rpath "${build_rpath}")
    endif()
    set_target_properties(${target} PROPERTIES BUILD_WITH_INSTALL_RPATH ON)
  endif()
  # Where the build puts a target somewhere else (embedded without output folders), the
  # build keeps CMake's own run path and the install rewrites it.
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "${rpath}")
endfunction()

# --- Libraries ---------------------------------------------------------------------------------
# The client targets (cmake/ClientTargets.cmake) are exported; the libraries behind the
# component are installed for it and for tovel-play to run, without a link to build against.
set(ORVAN_PRIVATE_LIBRARIES)
foreach(lib orvan_ui orvan_music orvan_engine)
  if(TARGET ${lib})
    list(APPEND ORVAN_PRIVATE_LIBRARIES ${lib})
  endif()
endforeach()
set(ORVAN_CLIENT_LIBRARIES)
foreach(lib IN LISTS ORVAN_CLIENT_TARGETS)
  get_target_property(type ${lib} TYPE)
  if(NOT type STREQUAL "INTERFACE_LIBRARY")
    list(APPEND ORVAN_CLIENT_LIBRARIES ${lib})
  endif()
endforeach()
foreach(lib IN LISTS ORVAN_CLIENT_LIBRARIES ORVAN_PRIVATE_LIBRARIES)
  orvan_origin_rpath(${lib} "$ORIGIN")
endforeach()
if(ORVAN_CLIENT_TARGETS)
  install(TARGETS ${ORVAN_CLIENT_TARGETS} EXPORT OrvanMusicEngineTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
      NAMELINK_COMPONENT development)
endif()
if(ORVAN_PRIVATE_LIBRARIES)
  install(TARGETS ${ORVAN_PRIVATE_LIBRARIES}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_SKIP)
endif()

# The component is loaded by the path in the registry, which names the versioned file
# itself: the unversioned name is a development link and may be absent at run time.
if(TARGET Tovel)
  orvan_origin_rpath(Tovel "$ORIGIN")
  install(TARGETS Tovel
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
      NAMELINK_COMPONENT development)
  set(ORVAN_TOVEL_FILE
      ${CMAKE_SHARED_LIBRARY_PREFIX}Tovel${CMAKE_SHARED_LIBRARY_SUFFIX}.${PROJECT_VERSION})
endif()

# --- Headers ---------------------------------------------------------------------------------
# The component client: every header in include/orvan as <orvan/...>, and those the build
# generates into the build tree's include/orvan. Nothing of the engine or the platform.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/orvan ${PROJECT_BINARY_DIR}/include/orvan
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development
  OPTIONAL FILES_MATCHING PATTERN "*.h")

# --- Programs --------------------------------------------------------------------------------
foreach(tool tovel-play orvan-regsvr orvan-typelib)
  if(TARGET ${tool})
    orvan_origin_rpath(${tool} "$ORIGIN/${ORVAN_BIN_TO_LIB}")
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  endif()
endforeach()

# The window programs live in the private folder and are linked from bin/. The links are
# made in the build tree and installed as links.
set(ORVAN_LINK_DIR ${PROJECT_BINARY_DIR}/install-links)
file(MAKE_DIRECTORY ${ORVAN_LINK_DIR})
foreach(program Seek Duvane)
  if(TARGET ${program})
    orvan_origin_rpath(${program} "$ORIGIN/${ORVAN_PKGBIN_TO_LIB}")
    install(TARGETS ${program}
      RUNTIME DESTINATION ${ORVAN_INSTALL_PKGLIBDIR}/bin COMPONENT runtime)
    file(CREATE_LINK ${ORVAN_BIN_TO_PKGBIN}/${program} ${ORVAN_LINK_DIR}/${program} SYMBOLIC)
    install(FILES ${ORVAN_LINK_DIR}/${program}
      DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  endif()
endforeach()

# --- Data and documentation ------------------------------------------------------------------
if(TARGET theme-mid)
  install(FILES ${PROJECT_BINARY_DIR}/media/Theme.mid
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

set(ORVAN_DOC_BUILD_DIR ${PROJECT_BINARY_DIR}/packaging)
set(ORVAN_MAN_PAGES)
foreach(program tovel-play orvan-regsvr orvan-typelib Seek Duvane)
  if(TARGET ${program} AND EXISTS ${PROJECT_SOURCE_DIR}/packaging/man/${program}.1)
    orvan_gzip_doc(${PROJECT_SOURCE_DIR}/packaging/man/${program}.1
      ${ORVAN_DOC_BUILD_DIR}/${program}.1.gz)
    list(APPEND ORVAN_MAN_PAGES ${ORVAN_DOC_BUILD_DIR}/${program}.1.gz)
  endif()
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${ORVAN_DOC_BUILD_DIR}/changelog @ONLY)
orvan_gzip_doc(${ORVAN_DOC_BUILD_DIR}/changelog ${ORVAN_DOC_BUILD_DIR}/changelog.gz)
add_custom_target(orvan-docs ALL DEPENDS ${ORVAN_COMPRESSED_DOCS})

if(ORVAN_MAN_PAGES)
  install(FILES ${ORVAN_MAN_PAGES}
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/packaging/copyright
  ${ORVAN_DOC_BUILD_DIR}/changelog.gz
  DESTINATION ${ORVAN_INSTALL_DOCDIR} COMPONENT runtime)

# --- CMake package and pkg-config ------------------------------------------------------------
if(ORVAN_CLIENT_TARGETS)
  install(EXPORT OrvanMusicEngineTargets NAMESPACE OrvanMusicEngine::
    DESTINATION ${ORVAN_INSTALL_CMAKEDIR} COMPONENT development)
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/OrvanMusicEngineConfig.cmake.in
    ${PROJECT_BINARY_DIR}/cmake/OrvanMusicEngineConfig.cmake
    INSTALL_DESTINATION ${ORVAN_INSTALL_CMAKEDIR})
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/cmake/OrvanMusicEngineConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/cmake/OrvanMusicEngineConfig.cmake
    ${PROJECT_BINARY_DIR}/cmake/OrvanMusicEngineConfigVersion.cmake
    DESTINATION ${ORVAN_INSTALL_CMAKEDIR} COMPONENT development)
endif()

# orvan-music-engine: a client that creates the class by identity through the component
# runtime. It finds its prefix from where it is.
if(TARGET orvan_comrt)
  set(ORVAN_PC_NAME orvan-music-engine)
  set(ORVAN_PC_DESCRIPTION "Orvan Music Engine: create the OrvanMusic component by class identity")
  set(ORVAN_PC_CFLAGS "-I\${includedir}")
  set(ORVAN_PC_LIBS "-L\${libdir} -lorvan_comrt")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/orvan-music-engine.pc.in
    ${PROJECT_BINARY_DIR}/pkgconfig/orvan-music-engine.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/orvan-music-engine.pc
    DESTINATION ${ORVAN_INSTALL_PKGCONFIGDIR} COMPONENT development)
endif()

include(PythonPackage)
include(${PROJECT_SOURCE_DIR}/packaging/Debian.cmake)

if(ORVAN_BUILD_TESTS)
  include(${PROJECT_SOURCE_DIR}/tests/install/InstallTests.cmake)
endif()
