# What `cmake --install` puts where, by component (the Debian packages of cmake/Package.cmake
# follow the components):
#   plugin    the plug-in, alone in its plug-in folder ${libdir}/activity-report/
#   services  the stand-in service libraries in ${libdir}/activity-report/services/, their headers
#             in ${includedir}/activity-report/
#   runtime   the host program, its man page, the templates and catalogues in
#             ${datadir}/activity-report/
#   dev       activityReport.h, the CMake package ActivityReport and the pkg-config file
#             activity-report.pc, which give integrators the header and the plug-in's folder
# The stand-ins stay out of ${libdir} and ${includedir}: names such as libconfig.so and config.h
# belong to other packages there, and of what is installed only the plug-in and the host program
# link to them.
# Every RUNPATH is relative to the binary, so an install tree can be moved as a whole.
include(CMakePackageConfigHelpers)

# Installs `target` with the RUNPATH `installed`; in the build tree it runs with the folders
# `built` first. CMake would rewrite a build-tree RUNPATH when installing, but it makes the room
# for that by padding the build tree's with empty entries, which the loader reads as the current
# folder. So each binary is linked once with both lists, and the install keeps the installed one,
# which always fits in the room the two took.
function(arl_install_with_runpath target kind destination component built installed)
  set_target_properties(${target} PROPERTIES BUILD_WITH_INSTALL_RPATH ON
    INSTALL_RPATH "${built};${installed}")
  install(TARGETS ${target} ${kind} DESTINATION ${destination} COMPONENT ${component})
  set(file "\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${destination}/$<TARGET_FILE_NAME:${target}>")
  install(CODE "file(RPATH_SET FILE \"${file}\" NEW_RPATH \"${installed}\")"
          COMPONENT ${component})
endfunction()

# The stand-in services: versioned sonames, each finding the others beside it, in the build tree
# as in the install tree.
set(ARL_SERVICE_HEADERS log/log.h config/config.h jobtracker/jtapi.h sniffer/sniffer.h
    translation/translation.h streameditor/streameditor.h print/print.h)
foreach(service IN LISTS ARL_ALL_SERVICES)
  if(TARGET ${service} AND NOT ARL_PLUGIN_ONLY)
    set_target_properties(${service} PROPERTIES VERSION ${PROJECT_VERSION}
      SOVERSION ${PROJECT_VERSION_MAJOR} INSTALL_RPATH "$ORIGIN" BUILD_WITH_INSTALL_RPATH ON)
    install(TARGETS ${service} LIBRARY DESTINATION ${ARL_SERVICES_INSTALL_DIR} COMPONENT services)
  endif()
endforeach()
list(TRANSFORM ARL_SERVICE_HEADERS PREPEND ${PROJECT_SOURCE_DIR}/services/)
if(NOT ARL_PLUGIN_ONLY)
  install(FILES ${ARL_SERVICE_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/activity-report
          COMPONENT services)
endif()

# The plug-in is loaded with dlopen, so it has no soname version. It finds the services below it
# once installed, and in the build tree beside it or in the device SDK's folders (DeviceSdk.cmake).
if(TARGET activityReport)
  set(built "$ORIGIN")
  if(ARL_PLUGIN_ONLY)
    set(built ${ARL_SDK_RUNTIME_DIRS})
  endif()
  arl_install_with_runpath(activityReport LIBRARY ${ARL_PLUGIN_INSTALL_DIR} plugin "${built}"
                           "$ORIGIN/services")
endif()

# The host program, and the data it and the plug-in read: the generated templates and the
# catalogues as the build lays them out (templates/ and catalog/ CMakeLists.txt).
if(TARGET activity-report)
  file(RELATIVE_PATH services_from_bindir /${CMAKE_INSTALL_BINDIR} /${ARL_SERVICES_INSTALL_DIR})
  arl_install_with_runpath(activity-report RUNTIME ${CMAKE_INSTALL_BINDIR} runtime "$ORIGIN/../lib"
                           "$ORIGIN/${services_from_bindir}")
endif()
if(ARL_PLUGIN_ONLY)
  return()  # a device SDK brings the rest
endif()
install(DIRECTORY ${ARL_TEMPLATE_DIR} ${ARL_CATALOG_DIR} DESTINATION ${ARL_DATA_INSTALL_DIR}
        COMPONENT runtime)

# Debian installs man pages compressed.
set(manpage ${CMAKE_BINARY_DIR}/share/man/man1/activity-report.1.gz)
add_custom_command(OUTPUT ${manpage}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/share/man/man1
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/docs/activity-report.1 > ${manpage}
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/activity-report.1)
add_custom_target(manpage ALL DEPENDS ${manpage})
install(FILES ${manpage} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)

# The plug-in's header, as the imported target ActivityReport::headers of the CMake package: a
# plain include folder, which a consumer's CMake reads whatever its version (a file set would
# need 3.23 there, where device SDKs often bring an older one).
add_library(activityReport_headers INTERFACE)
target_include_directories(activityReport_headers INTERFACE
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
set_target_properties(activityReport_headers PROPERTIES EXPORT_NAME headers)
install(TARGETS activityReport_headers EXPORT ActivityReportTargets COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/activityReport/src/activityReport.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)

# The CMake package; its paths are relative to where it is installed.
set(cmake_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/ActivityReport)
install(EXPORT ActivityReportTargets NAMESPACE ActivityReport:: DESTINATION ${cmake_package_dir}
        COMPONENT dev)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/ActivityReportConfig.cmake.in
  ${CMAKE_BINARY_DIR}/cmake/ActivityReportConfig.cmake INSTALL_DESTINATION ${cmake_package_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/cmake/ActivityReportConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/cmake/ActivityReportConfig.cmake
              ${CMAKE_BINARY_DIR}/cmake/ActivityReportConfigVersion.cmake
        DESTINATION ${cmake_package_dir} COMPONENT dev)

# The pkg-config file names the prefix the files are installed for (`--prefix` of the install,
# /usr in the packages), written when they are installed: pkg-config then adds a sysroot to the
# include folder alone and knows /usr/include for a system folder.
set(pkgconfig_file ${CMAKE_BINARY_DIR}/pkgconfig/activity-report.pc)
install(CODE "set(ARL_INSTALL_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(CMAKE_INSTALL_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(ARL_PLUGIN_INSTALL_DIR \"${ARL_PLUGIN_INSTALL_DIR}\")
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  configure_file(\"${CMAKE_CURRENT_LIST_DIR}/activity-report.pc.in\" \"${pkgconfig_file}\" @ONLY)"
  COMPONENT dev)
install(FILES ${pkgconfig_file} DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
