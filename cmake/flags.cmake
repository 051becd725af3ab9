# Reads flags.mk, the one list of the daemon's own flags, into CMake lists
# of the same names. A line ending in a backslash goes on on the next one.
file(READ ${PROJECT_SOURCE_DIR}/flags.mk link3g_flags_text)
string(REGEX REPLACE "\\\\\n" " " link3g_flags_text "${link3g_flags_text}")
string(REPLACE "\n" ";" link3g_flags_lines "${link3g_flags_text}")
foreach(line IN LISTS link3g_flags_lines)
  if(line MATCHES "^(LINK3G_[A-Z_]+) = (.*)$")
    separate_arguments(words UNIX_COMMAND "${CMAKE_MATCH_2}")
    set(${CMAKE_MATCH_1} ${words})
  endif()
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/flags.mk)
