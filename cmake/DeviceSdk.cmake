# The plug-in alone, built against the service libraries of a device SDK (ARL_PLUGIN_ONLY=ON).
#
# Each service library is looked up under the name of its stand-in (liblog.so, libconfig.so,
# libjobtracker.so, libsniffer.so, libtranslation.so, libstreameditor.so, libprint.so): only in
# ARL_SDK_LIBRARY_DIR when it is set, else only in the system folders of the toolchain (below its
# sysroot in a cross build). CMAKE_PREFIX_PATH and the environment's folders are never searched:
# a library of the same name there belongs to something else. The search runs at each configure,
# so a changed folder is followed at once, and configure prints the library taken for each
# service. ARL_<SERVICE>_LIBRARY, when set, names one service's library instead.
# The headers come from ARL_SDK_INCLUDE_DIR when it is set, else from this tree's services/
# folders (the contracts). Nothing else is needed: no SQLite, CUPS, uchardet, gettext, GoogleTest
# or Google Benchmark.
set(ARL_SDK_LIBRARY_DIR "" CACHE PATH "Folder of the device's service libraries")
set(ARL_SDK_INCLUDE_DIR "" CACHE PATH "Folder of the device's service headers")

if(ARL_SDK_LIBRARY_DIR)
  set(search_folders PATHS ${ARL_SDK_LIBRARY_DIR} NO_DEFAULT_PATH)
  set(searched "${ARL_SDK_LIBRARY_DIR}")
else()
  set(search_folders NO_PACKAGE_ROOT_PATH NO_CMAKE_PATH NO_CMAKE_ENVIRONMENT_PATH
                     NO_SYSTEM_ENVIRONMENT_PATH)
  set(searched "the toolchain's system folders")
endif()
set(include_dir ${ARL_SDK_INCLUDE_DIR})
foreach(service IN LISTS ARL_ALL_SERVICES)
  string(TOUPPER ${service} SERVICE)
  set(ARL_${SERVICE}_LIBRARY "" CACHE FILEPATH "The device's ${service} library, if not searched")
  unset(library)
  if(ARL_${SERVICE}_LIBRARY)
    set(library ${ARL_${SERVICE}_LIBRARY})
  else()
    find_library(library NAMES ${service} ${search_folders} NO_CACHE)
  endif()
  if(NOT library)
    message(FATAL_ERROR "The device's ${service} library (lib${service}.so) is not in ${searched}: "
                        "set ARL_SDK_LIBRARY_DIR or ARL_${SERVICE}_LIBRARY.")
  endif()
  message(STATUS "Device SDK: ${service} library ${library}")

  if(NOT ARL_SDK_INCLUDE_DIR)
    set(include_dir ${PROJECT_SOURCE_DIR}/services/${service})
  endif()
  add_library(${service} SHARED IMPORTED)
  set_target_properties(${service} PROPERTIES IMPORTED_LOCATION ${library}
    INTERFACE_INCLUDE_DIRECTORIES ${include_dir})
  get_filename_component(folder ${library} DIRECTORY)
  list(APPEND ARL_SDK_RUNTIME_DIRS ${folder})
endforeach()
# The plug-in of the build tree runs against the SDK's libraries where they are.
list(REMOVE_DUPLICATES ARL_SDK_RUNTIME_DIRS)
