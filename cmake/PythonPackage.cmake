# The Python package orvan (python/orvan): installed into the Python path of the prefix it is
# installed under, bound to that tree's component runtime; its tests run under ctest.
#
# Which folder Python reads depends on the prefix, and CPack installs under a prefix of its
# own, so the folder is chosen at install time (python/install_package.cmake): Debian's
# folder for system packages, lib/python3/dist-packages, under a prefix named usr (/usr and
# a package's staging tree); lib/python3.X/dist-packages, which Debian's Python reads under
# /usr/local, elsewhere. ORVAN_INSTALL_PYTHONDIR fixes it instead.
if(NOT TARGET orvan_comrt)
  return()
endif()
# The system's interpreter unless told otherwise: the one whose folders the package goes
# into and for which scripts/install-deps.sh installs pytest.
if(NOT DEFINED Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
  set(Python3_EXECUTABLE /usr/bin/python3)
endif()
find_package(Python3 3.8 COMPONENTS Interpreter)
if(NOT Python3_Interpreter_FOUND)
  message(STATUS "No Python 3 interpreter: the orvan package is neither installed nor tested")
  return()
endif()

set(ORVAN_INSTALL_PYTHONDIR "" CACHE STRING
    "Folder of the Python package, relative to the prefix (empty: chosen for the prefix)")
install(CODE "
  set(ORVAN_PYTHON_PACKAGE_DIR \"${PROJECT_SOURCE_DIR}/python/orvan\")
  set(ORVAN_PYTHON_STAGING_DIR \"${CMAKE_CURRENT_BINARY_DIR}/python-install\")
  set(ORVAN_PYTHONDIR \"${ORVAN_INSTALL_PYTHONDIR}\")
  set(ORVAN_PYTHON_VERSION ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR})
  set(ORVAN_RUNTIME_LIBRARY_PATH
      \"${CMAKE_INSTALL_LIBDIR}/$<TARGET_SONAME_FILE_NAME:orvan_comrt>\")
  include(\"${PROJECT_SOURCE_DIR}/python/install_package.cmake\")
" COMPONENT runtime)
# A package that ships a Python module depends on the interpreter (Debian's Python policy).
set(ORVAN_DEB_PYTHON_DEPENDS ", python3:any")

if(ORVAN_BUILD_TESTS AND TARGET Tovel AND TARGET orvan-regsvr)
  # The tests use the build tree's runtime, component and orvan-regsvr, and a registry
  # store of their own.
  set(ORVAN_PYTHON_TEST_ENVIRONMENT
    "ORVAN_RUNTIME_LIBRARY=$<TARGET_FILE:orvan_comrt>"
    "ORVAN_TOVEL_LIBRARY=$<TARGET_FILE:Tovel>"
    "ORVAN_REGSVR=$<TARGET_FILE:orvan-regsvr>"
    "PYTHONDONTWRITEBYTECODE=1")
  set(ORVAN_PYTHON_TEST_COMMAND ${Python3_EXECUTABLE} -m pytest -q -p no:cacheprovider
    ${PROJECT_SOURCE_DIR}/python/tests)
  # The interpreter is not instrumented, so a sanitized build's libraries need their
  # sanitizer runtime loaded before anything else. Leak checking is off under ASan: the
  # interpreter keeps memory until exit on purpose, and the runtime's own leaks are the C++
  # suites' business. Under TSan the test is skipped: the package calls each object on its
  # own thread only and adds no concurrency inside the engine, whose threads the C++
  # suites check under TSan; an interpreter with a preloaded TSan runtime is not a setup
  # this project maintains.
  if(ORVAN_SANITIZE STREQUAL "address")
    set(preload)
    foreach(runtime libasan.so libubsan.so)
      execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
        OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
      list(APPEND preload ${path})
    endforeach()
    list(JOIN preload ":" preload)
    list(APPEND ORVAN_PYTHON_TEST_ENVIRONMENT "LD_PRELOAD=${preload}"
      "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1")
  elseif(ORVAN_SANITIZE STREQUAL "thread")
    set(ORVAN_PYTHON_TEST_COMMAND ${CMAKE_COMMAND} -E echo
      "SKIP: not run under ThreadSanitizer; the engine's threads are checked by the C++ suites")
    set(ORVAN_PYTHON_SKIP_REGULAR_EXPRESSION "SKIP: ")
  endif()
  add_test(NAME python.orvan COMMAND ${ORVAN_PYTHON_TEST_COMMAND})
  set_tests_properties(python.orvan PROPERTIES
    ENVIRONMENT "${ORVAN_PYTHON_TEST_ENVIRONMENT}" TIMEOUT 600)
  if(ORVAN_PYTHON_SKIP_REGULAR_EXPRESSION)
    set_tests_properties(python.orvan PROPERTIES
      SKIP_REGULAR_EXPRESSION "${ORVAN_PYTHON_SKIP_REGULAR_EXPRESSION}")
  endif()
endif()
