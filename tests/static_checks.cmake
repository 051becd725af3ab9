# Checks of a static link3g (the musl toolchains set LINK3G_STATIC): it is
# static with no program interpreter, it starts here (under the emulator
# for another processor) and does nothing for an unknown command word,
# it keeps within LINK3G_MAX_BYTES when that is set, and with
# LINK3G_CHECK_MIPS32 (the MIPS toolchain's) it is soft-float with no FPU
# or MIPS32 release 2 instruction.
set(LINK3G_MAX_BYTES "" CACHE STRING "Largest size of the stripped binary in bytes (empty: no limit)")
find_program(LINK3G_READELF NAMES ${CMAKE_READELF} readelf REQUIRED)
set(link3g_objdump "")
if(LINK3G_CHECK_MIPS32)
  find_program(LINK3G_OBJDUMP NAMES ${CMAKE_OBJDUMP} REQUIRED)
  set(link3g_objdump ${LINK3G_OBJDUMP})
endif()
add_test(NAME static_binary
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/static_binary.sh ${LINK3G_READELF} $<TARGET_FILE:link3g>
          "${LINK3G_MAX_BYTES}" ${link3g_objdump})
add_test(NAME starts_and_does_nothing COMMAND link3g --cmd nothing)
set_tests_properties(starts_and_does_nothing PROPERTIES FAIL_REGULAR_EXPRESSION ".")
