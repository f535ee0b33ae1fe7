# Fails when the RUNPATH (or RPATH) of a binary holds an empty entry: the loader reads one as the
# folder the program is run from, and looks there for the C library before the system folders.
# Every ELF file below each folder is checked; a folder without any fails too, as a sign that
# nothing was built or installed there.
if(NOT FOLDERS OR NOT READELF)
  message(FATAL_ERROR "usage: cmake -DREADELF=readelf -DFOLDERS=dir;dir... -P check-runpaths.cmake")
endif()
set(failures "")
foreach(folder IN LISTS FOLDERS)
  file(GLOB_RECURSE files LIST_DIRECTORIES false "${folder}/*")
  set(binaries 0)
  foreach(file IN LISTS files)
    execute_process(COMMAND ${READELF} -d ${file} RESULT_VARIABLE status
                    OUTPUT_VARIABLE dynamic ERROR_QUIET)
    if(NOT status EQUAL 0)
      continue()  # not an ELF file
    endif()
    math(EXPR binaries "${binaries} + 1")
    string(REGEX MATCHALL "R(UN)?PATH\\)[^\n]*" entries "${dynamic}")
    foreach(entry IN LISTS entries)
      string(REGEX REPLACE "^[^[]*\\[(.*)\\]$" "\\1" runpath "${entry}")
      if(runpath MATCHES "(^|:)(:|$)")
        string(APPEND failures "\n  ${file}: ${runpath}")
      endif()
    endforeach()
  endforeach()
  if(binaries EQUAL 0)
    string(APPEND failures "\n  ${folder}: no binary")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "RUNPATHs with an empty entry:${failures}")
endif()
