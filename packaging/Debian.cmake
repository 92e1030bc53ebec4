# The Debian package, made by CPack from the install rules: `cpack -G DEB` in the build tree.
#
# One package, orvan-music-engine, installed under /usr. Its dependencies come from the
# shared libraries its files link (dpkg-shlibdeps), plus a General MIDI SoundFont, which the
# synthesizer loads at run time. The maintainer scripts register the component in the
# system registry store after installation and unregister it before removal.

set(ORVAN_DEB_PREFIX /usr)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${ORVAN_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Orvan Music Engine developers")
set(CPACK_PACKAGE_CONTACT "${ORVAN_DEB_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX ${ORVAN_DEB_PREFIX})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "in-process music playback engine with effects")
# CPack puts the summary first and turns blank lines into paragraph breaks.
set(CPACK_PACKAGE_DESCRIPTION "Orvan Music Engine plays Standard MIDI and RMID files through FluidSynth
and SDL2, with repeat counts, seeking, master tempo and volume, a chain of up
to four effects (distortion, chorus, waves reverb, I3DL2 reverb) and DLS
instrument collections. Each OrvanMusic object is one independent channel.

The engine is offered as the in-process component Tovel, created by class
identity through the included component runtime. The package holds the
component and the libraries behind it, the runtime, the client headers, a
CMake package and a pkg-config file, the Python module orvan, the command-line
player tovel-play, the registration tool, and the demonstration programs Seek
and Duvane. The
component is registered system-wide when the package is installed.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ORVAN_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Our own libraries are in the package; dpkg-shlibdeps reads their sonames from the
# shlibs file made here instead of looking for another package that provides them.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "timgm6mb-soundfont | sf2-soundfont-gm${ORVAN_DEB_PYTHON_DEPENDS}")
if(TARGET Seek OR TARGET Duvane)
  # The window programs need a Qt platform plugin to open a window on X11 or Wayland.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-qpa-plugins")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)

# The maintainer scripts name the installed files by their place under /usr.
set(ORVAN_DEB_REGSVR ${ORVAN_DEB_PREFIX}/${CMAKE_INSTALL_BINDIR}/orvan-regsvr)
set(ORVAN_DEB_TOVEL ${ORVAN_DEB_PREFIX}/${CMAKE_INSTALL_LIBDIR}/${ORVAN_TOVEL_FILE})
set(ORVAN_DEB_SYSTEM_STORE_DIR /var/lib/orvan)
set(ORVAN_DEB_SCRIPTS)
if(TARGET Tovel AND TARGET orvan-regsvr)
  foreach(script postinst prerm postrm)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/${script}.in
      ${PROJECT_BINARY_DIR}/packaging/debian/${script} @ONLY
      FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
        WORLD_READ WORLD_EXECUTE)
    list(APPEND ORVAN_DEB_SCRIPTS ${PROJECT_BINARY_DIR}/packaging/debian/${script})
  endforeach()
endif()
# The package's libraries are in the loader's default folder: ldconfig must see them.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${ORVAN_DEB_SCRIPTS}
  ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)

# Warnings that a one-package layout raises on purpose; the file says why.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${ORVAN_PACKAGE_NAME}
  COMPONENT runtime)

include(CPack)
