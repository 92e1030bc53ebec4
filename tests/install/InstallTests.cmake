# Tests of the installed tree and of the Debian package. Both work on the build tree the
# suite runs in: they install (or package) what is already built, never build it again.
set(ORVAN_INSTALL_TEST_FLAGS "")
if(ORVAN_SANITIZE STREQUAL "address")
  set(ORVAN_INSTALL_TEST_FLAGS "-fsanitize=address,undefined -fno-omit-frame-pointer")
elseif(ORVAN_SANITIZE STREQUAL "thread")
  set(ORVAN_INSTALL_TEST_FLAGS "-fsanitize=thread -fno-omit-frame-pointer")
endif()
set(ORVAN_INSTALL_TEST_HAVE_COMPONENT 0)
if(TARGET Tovel AND TARGET orvan-regsvr AND TARGET orvan_comrt AND TARGET orvan_engine)
  set(ORVAN_INSTALL_TEST_HAVE_COMPONENT 1)
endif()

# Installs into a temporary prefix, builds the example clients against it with the
# project's compiler and sanitizer flags (programs built otherwise cannot load sanitized
# libraries), runs them, moves the prefix and does it all again.
add_test(NAME install.tree_and_clients
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/installed_tree_test.sh
    ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR} ${CMAKE_CXX_COMPILER}
    "${ORVAN_INSTALL_TEST_FLAGS}" ${ORVAN_INSTALL_TEST_HAVE_COMPONENT}
    ${CMAKE_INSTALL_LIBDIR})
# Builds the .deb with CPack and checks its control data, scripts and files; lintian too
# where it is installed and the build is not sanitized.
add_test(NAME install.debian_package
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/debian_package_test.sh
    ${PROJECT_BINARY_DIR} ${ORVAN_INSTALL_TEST_HAVE_COMPONENT} "${ORVAN_SANITIZE}"
    ${CMAKE_INSTALL_LIBDIR})
set_tests_properties(install.tree_and_clients install.debian_package PROPERTIES
  SKIP_RETURN_CODE 77 TIMEOUT 900)

# Embeds the source tree in a consumer project (add_subdirectory and FetchContent), builds its
# client of OrvanMusicEngine::component and plays through this build's component.
if(ORVAN_INSTALL_TEST_HAVE_COMPONENT AND TARGET theme-mid)
  add_test(NAME install.embedded_in_a_consumer
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/embedding_test.sh
      ${PROJECT_SOURCE_DIR} ${CMAKE_CXX_COMPILER} ${CMAKE_C_COMPILER}
      "${ORVAN_INSTALL_TEST_FLAGS}" $<TARGET_FILE:Tovel> $<TARGET_FILE:orvan-regsvr>
      ${PROJECT_BINARY_DIR}/media/Theme.mid)
  set_tests_properties(install.embedded_in_a_consumer PROPERTIES TIMEOUT 1800)
endif()

# No run path of the build tree lets the loader search the working directory.
add_test(NAME install.build_tree_run_paths
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/run_paths_test.sh ${PROJECT_BINARY_DIR})
