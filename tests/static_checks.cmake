# Checks of a static link3g (the musl toolchains set LINK3G_STATIC): it is
# static with no program interpreter, it starts here (under the emulator
# for another processor) and does nothing for an unknown command word,
# and it keeps within LINK3G_MAX_BYTES when that is set.
set(LINK3G_MAX_BYTES "" CACHE STRING "Largest size of the stripped binary in bytes (empty: no limit)")
find_program(LINK3G_READELF NAMES ${CMAKE_READELF} readelf REQUIRED)
add_test(NAME static_binary
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/static_binary.sh ${LINK3G_READELF} $<TARGET_FILE:link3g> ${LINK3G_MAX_BYTES})
add_test(NAME starts_and_does_nothing COMMAND link3g --cmd nothing)
set_tests_properties(starts_and_does_nothing PROPERTIES FAIL_REGULAR_EXPRESSION ".")
