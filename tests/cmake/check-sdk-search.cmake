# The plug-in-only build takes each service library from ARL_SDK_LIBRARY_DIR alone, never a
# library of the same name on CMAKE_PREFIX_PATH, and takes it anew when the folder changes.
# LIBRARIES is a folder of service libraries; the build is configured, not built, in WORK.
foreach(variable SOURCE LIBRARIES WORK GENERATOR)
  if(NOT ${variable})
    message(FATAL_ERROR "usage: cmake -DSOURCE= -DLIBRARIES= -DWORK= -DGENERATOR= -P <this file>")
  endif()
endforeach()
get_filename_component(WORK ${WORK} ABSOLUTE)
file(REMOVE_RECURSE ${WORK})
file(WRITE ${WORK}/decoy/lib/libconfig.so "")
file(GLOB libraries ${LIBRARIES}/lib*.so*)
file(COPY ${libraries} DESTINATION ${WORK}/other-sdk)

function(expect_config_library_from sdk)
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK}/build -G ${GENERATOR}
    -DARL_PLUGIN_ONLY=ON -DCMAKE_PREFIX_PATH=${WORK}/decoy -DARL_SDK_LIBRARY_DIR=${sdk}
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
  string(FIND "${output}" "Device SDK: config library ${sdk}/libconfig.so\n" at)
  if(NOT status EQUAL 0 OR at EQUAL -1)
    message(FATAL_ERROR "ARL_SDK_LIBRARY_DIR=${sdk} was not followed:\n${output}${errors}")
  endif()
endfunction()
expect_config_library_from(${LIBRARIES})
expect_config_library_from(${WORK}/other-sdk)
