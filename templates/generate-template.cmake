# Writes the report template of one printer encoding: the common source with the encoding's name
# and its fonts filled in. Run in script mode with
#   -DSOURCE=activityReport.ps.in -DVECTOR=encodings/<ENCODING>.ps -DENCODING=<ENCODING>
#   -DOUTPUT=<file>
# The encoding file of a single-byte encoding holds the glyph names of its 256 codes, for fonts
# re-encoded with them (fonts-single-byte.ps.in); that of a multi-byte encoding defines the CMap,
# the CID-keyed fonts, the two-byte codes, the ellipsis and the colons of composite fonts
# (fonts-composite.ps.in).
foreach(variable SOURCE VECTOR ENCODING OUTPUT)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "generate-template.cmake: ${variable} is not set")
  endif()
endforeach()

# The encoding file begins with comment lines for its reader; the template needs the rest only.
file(STRINGS ${VECTOR} lines REGEX "^/")
list(JOIN lines "\n" ARL_ENCODING_VECTOR)
if(ARL_ENCODING_VECTOR MATCHES "^/ar_cmap ")
  set(ARL_FONT_KIND composite)
  foreach(name ar_cmap ar_cidFont ar_cidFontBold ar_leadByteRanges ar_ellipsis ar_colons)
    if(NOT ARL_ENCODING_VECTOR MATCHES "(^|\n)/${name} ")
      message(FATAL_ERROR "${VECTOR}: /${name} is not defined")
    endif()
  endforeach()
else()
  set(ARL_FONT_KIND single-byte)
  string(REGEX MATCHALL "/[^ \n]+" names "${ARL_ENCODING_VECTOR}")
  list(LENGTH names count)
  if(NOT count EQUAL 256)
    message(FATAL_ERROR "${VECTOR}: expected 256 glyph names, found ${count}")
  endif()
endif()

get_filename_component(directory ${SOURCE} DIRECTORY)
file(READ ${directory}/fonts-${ARL_FONT_KIND}.ps.in fonts)
string(CONFIGURE "${fonts}" ARL_FONTS @ONLY)
string(STRIP "${ARL_FONTS}" ARL_FONTS)
set(ARL_PRINTER_ENCODING ${ENCODING})
configure_file(${SOURCE} ${OUTPUT} @ONLY NEWLINE_STYLE UNIX)
