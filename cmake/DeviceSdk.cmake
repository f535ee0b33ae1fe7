# The plug-in alone, built against the service libraries of a device SDK (ARL_PLUGIN_ONLY=ON).
#
# Each service library is looked up with find_library under the name of its stand-in (liblog.so,
# libconfig.so, libjobtracker.so, libsniffer.so, libtranslation.so, libstreameditor.so,
# libprint.so), first in ARL_SDK_LIBRARY_DIR, then where the toolchain's sysroot keeps libraries.
# Each result is the cache variable ARL_<SERVICE>_LIBRARY, which an integrator may also set
# directly when the device names a library differently. The headers come from
# ARL_SDK_INCLUDE_DIR when it is set, else from this tree's services/ folders (the contracts).
# Nothing else is needed: no SQLite, CUPS, uchardet, gettext, GoogleTest or Google Benchmark.
set(ARL_SDK_LIBRARY_DIR "" CACHE PATH "Folder of the device's service libraries")
set(ARL_SDK_INCLUDE_DIR "" CACHE PATH "Folder of the device's service headers")

foreach(service IN LISTS ARL_ALL_SERVICES)
  string(TOUPPER ${service} SERVICE)
  find_library(ARL_${SERVICE}_LIBRARY NAMES ${service} HINTS ${ARL_SDK_LIBRARY_DIR})
  if(NOT ARL_${SERVICE}_LIBRARY)
    message(FATAL_ERROR "The device's ${service} library was not found: set ARL_SDK_LIBRARY_DIR "
                        "or ARL_${SERVICE}_LIBRARY.")
  endif()
  add_library(${service} SHARED IMPORTED)
  set(include_dir ${PROJECT_SOURCE_DIR}/services/${service})
  if(ARL_SDK_INCLUDE_DIR)
    set(include_dir ${ARL_SDK_INCLUDE_DIR})
  endif()
  set_target_properties(${service} PROPERTIES IMPORTED_LOCATION ${ARL_${SERVICE}_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${include_dir})
  get_filename_component(folder ${ARL_${SERVICE}_LIBRARY} DIRECTORY)
  list(APPEND ARL_SDK_RUNTIME_DIRS ${folder})
endforeach()
# The plug-in of the build tree runs against the SDK's libraries where they are.
list(REMOVE_DUPLICATES ARL_SDK_RUNTIME_DIRS)
