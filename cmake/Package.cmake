# Debian packages, one per install component (cmake/Install.cmake), built by `make package`:
#   activity-report-plugin    the plug-in
#   activity-report-services  the stand-in service libraries and their headers
#   activity-report           the host program, its man page, the templates and catalogues
#   activity-report-dev       the plug-in's header, CMake package and pkg-config file
# The version is the project's; a description's first line is its package's summary. Dependencies
# on Debian's libraries come from dpkg-shlibdeps; those between our packages are declared here,
# because the stand-ins are private libraries that no shlibs file describes. Every package has
# one: the development files name the plug-in's path, so they come with the plug-in they describe.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME activity-report)
set(CPACK_PACKAGE_VENDOR "The Internet Fax Activity Report developers")
set(CPACK_PACKAGE_CONTACT
  "The Internet Fax Activity Report developers <developers@activity-report.example.org>")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL plugin services runtime dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps finds the stand-ins in the build tree and leaves them out of the dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_COMPONENT_PLUGIN_DESCRIPTION "Internet Fax Activity Report plug-in
Prints a PostScript report of the completed Internet Fax jobs, in the language
of the device's user.")
set(CPACK_COMPONENT_PLUGIN_DEPENDS services)

set(CPACK_COMPONENT_SERVICES_DESCRIPTION "Stand-ins of the device services the activity report uses
Job tracker, configuration, logging, translation, encoding sniffer, stream
editor and print submission, with their headers.")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME activity-report)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "Prints the Internet Fax Activity Report as the device does
The host program activity-report, the report templates and the translation
catalogues.")
set(CPACK_COMPONENT_RUNTIME_DEPENDS plugin services)
# Ghostscript renders the report for --pdf and --png only.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS ghostscript)

set(CPACK_COMPONENT_DEV_DESCRIPTION "Internet Fax Activity Report plug-in: development files
The header of the plug-in's entry point, a CMake package and a pkg-config file.")
set(CPACK_COMPONENT_DEV_DEPENDS plugin)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)

# Every package carries the licence where Debian looks for it.
foreach(component IN ITEMS plugin services dev)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE RENAME copyright
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/activity-report-${component}
          COMPONENT ${component})
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE RENAME copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/activity-report COMPONENT runtime)

include(CPack)
