# What `cmake --install` puts where, by component (the Debian packages of cmake/Package.cmake
# follow the components):
#   plugin    the plug-in, alone in its plug-in folder ${libdir}/activity-report/
#   services  the stand-in service libraries in ${libdir}/activity-report/services/, their headers
#             in ${includedir}/activity-report/
#   runtime   the host program, the templates and catalogues in ${datadir}/activity-report/
# The stand-ins stay out of ${libdir} and ${includedir}: names such as libconfig.so and config.h
# belong to other packages there, and nothing but the plug-in and the host program links to them.
# Every RUNPATH is relative to the binary, so an install tree can be moved as a whole.
include(GNUInstallDirs)

set(ARL_PLUGIN_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/activity-report)
set(ARL_SERVICES_INSTALL_DIR ${ARL_PLUGIN_INSTALL_DIR}/services)
set(ARL_DATA_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/activity-report)

# The stand-in services: versioned sonames, each finding the others beside it.
set(ARL_SERVICE_HEADERS log/log.h config/config.h jobtracker/jtapi.h sniffer/sniffer.h
    translation/translation.h streameditor/streameditor.h print/print.h)
foreach(service IN LISTS ARL_ALL_SERVICES)
  if(TARGET ${service})
    set_target_properties(${service} PROPERTIES VERSION ${PROJECT_VERSION}
      SOVERSION ${PROJECT_VERSION_MAJOR} INSTALL_RPATH "$ORIGIN")
    install(TARGETS ${service} LIBRARY DESTINATION ${ARL_SERVICES_INSTALL_DIR} COMPONENT services)
  endif()
endforeach()
list(TRANSFORM ARL_SERVICE_HEADERS PREPEND ${PROJECT_SOURCE_DIR}/services/)
install(FILES ${ARL_SERVICE_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/activity-report
        COMPONENT services)

# The plug-in is loaded with dlopen, so it has no soname version; it finds the services below it.
if(TARGET activityReport)
  set_target_properties(activityReport PROPERTIES INSTALL_RPATH "$ORIGIN/services")
  install(TARGETS activityReport LIBRARY DESTINATION ${ARL_PLUGIN_INSTALL_DIR} COMPONENT plugin)
endif()

# The host program, and the data it and the plug-in read: the generated templates and the
# catalogues as the build lays them out (templates/ and catalog/ CMakeLists.txt).
file(RELATIVE_PATH services_from_bindir /${CMAKE_INSTALL_BINDIR} /${ARL_SERVICES_INSTALL_DIR})
set_target_properties(activity-report PROPERTIES INSTALL_RPATH "$ORIGIN/${services_from_bindir}")
install(TARGETS activity-report RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(DIRECTORY ${ARL_TEMPLATE_DIR} ${ARL_CATALOG_DIR} DESTINATION ${ARL_DATA_INSTALL_DIR}
        COMPONENT runtime)
