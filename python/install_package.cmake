# Install-time half of cmake/PythonPackage.cmake: copies the package into the Python folder
# chosen for CMAKE_INSTALL_PREFIX and records, beside it, where the runtime library is
# relative to the package, so that an installed tree finds its own runtime wherever it is
# moved. Variables come from the install rule: ORVAN_PYTHON_PACKAGE_DIR,
# ORVAN_PYTHON_STAGING_DIR, ORVAN_PYTHONDIR, ORVAN_PYTHON_VERSION, ORVAN_RUNTIME_LIBRARY_PATH.
if(NOT ORVAN_PYTHONDIR)
  get_filename_component(prefix_name "${CMAKE_INSTALL_PREFIX}" NAME)
  if(prefix_name STREQUAL "usr")
    set(ORVAN_PYTHONDIR lib/python3/dist-packages)
  else()
    set(ORVAN_PYTHONDIR lib/python${ORVAN_PYTHON_VERSION}/dist-packages)
  endif()
endif()

file(RELATIVE_PATH runtime_from_package /prefix/${ORVAN_PYTHONDIR}/orvan
  /prefix/${ORVAN_RUNTIME_LIBRARY_PATH})
file(WRITE ${ORVAN_PYTHON_STAGING_DIR}/_installed_tree.py
  "# Written at installation: the component runtime of the tree this package came with,\n"
  "# relative to the package's folder.\n"
  "RUNTIME_LIBRARY = \"${runtime_from_package}\"\n")

file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${ORVAN_PYTHONDIR}" TYPE DIRECTORY
  FILES "${ORVAN_PYTHON_PACKAGE_DIR}" FILES_MATCHING PATTERN "*.py"
  PATTERN "__pycache__" EXCLUDE)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${ORVAN_PYTHONDIR}/orvan" TYPE FILE
  FILES "${ORVAN_PYTHON_STAGING_DIR}/_installed_tree.py")
