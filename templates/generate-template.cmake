# Writes the report template of one printer encoding: the common source with the encoding's
# name and glyph-name vector filled in. Run in script mode with
#   -DSOURCE=activityReport.ps.in -DVECTOR=encodings/<ENCODING>.ps -DENCODING=<ENCODING> -DOUTPUT=<file>
foreach(variable SOURCE VECTOR ENCODING OUTPUT)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "generate-template.cmake: ${variable} is not set")
  endif()
endforeach()

# The vector file begins with comment lines for its reader; the template needs the names only.
file(STRINGS ${VECTOR} lines REGEX "^/")
list(LENGTH lines count)
if(NOT count EQUAL 32)
  message(FATAL_ERROR "${VECTOR}: expected 32 lines of 8 glyph names, found ${count}")
endif()
list(JOIN lines "\n" ARL_ENCODING_VECTOR)
set(ARL_PRINTER_ENCODING ${ENCODING})
configure_file(${SOURCE} ${OUTPUT} @ONLY NEWLINE_STYLE UNIX)
