# Writes OUTPUT, a header defining LINK3G_VERSION as what scripts/version
# answers for the checkout SOURCE_DIR, and rewrites it only when that
# changes: a new commit rebuilds the one file that includes it, an
# unchanged checkout rebuilds nothing.
#
#   cmake -DSOURCE_DIR=... -DOUTPUT=... -P version_header.cmake
execute_process(COMMAND ${SOURCE_DIR}/scripts/version
  OUTPUT_VARIABLE version OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE failed ERROR_QUIET)
if(failed OR version STREQUAL "")
  set(version "unknown")
endif()
# A C string literal: backslashes and quotes escaped.
string(REPLACE "\\" "\\\\" version "${version}")
string(REPLACE "\"" "\\\"" version "${version}")
set(text "#define LINK3G_VERSION \"${version}\"\n")
set(old "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()
