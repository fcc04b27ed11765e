# Per-package settings, read by cpack for each generator.
if(CPACK_GENERATOR STREQUAL "DEB")
  # The package manager puts the program in /usr; the bundle's launcher stays out.
  set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
  set(CPACK_COMPONENTS_ALL app)
elseif(CPACK_GENERATOR STREQUAL "TXZ")
  # The bundle: one folder "Mivra Video" with AppRun at its top.
  set(CPACK_PACKAGE_FILE_NAME "Mivra Video")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_COMPONENTS_ALL app bundle)
endif()

# Only the chosen install components, whatever else the build installs.
list(GET CPACK_INSTALL_CMAKE_PROJECTS 0 mivra_build_dir)
set(CPACK_INSTALL_CMAKE_PROJECTS "")
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  list(APPEND CPACK_INSTALL_CMAKE_PROJECTS ${mivra_build_dir} MivraVideo ${component} /)
endforeach()
