# Builds Arduino sketches for the AVR toolchain (cmake/avr-atmega328p.cmake) as the Arduino IDE
# would: the core's sources from Debian's arduino-core-avr, the sketch as gnu++11 with
# <Arduino.h> before it, the same flags; then the .hex, and the flash and RAM use.

# The Arduino core as a static library. Debian's core 1.8.7 with gcc-avr 5.4 needs DECIMAL_DIG
# for WString.cpp, which that compiler defines only under its reserved name.
function(add_arduino_core name avr_dir)
  set(core ${avr_dir}/cores/arduino)
  if(NOT EXISTS ${core}/Arduino.h)
    message(FATAL_ERROR "No Arduino core in ${avr_dir} (Debian: arduino-core-avr); "
                        "give its folder with -DARDUINO_AVR_DIR=...")
  endif()
  file(GLOB sources ${core}/*.c ${core}/*.cpp ${core}/*.S)
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${core} ${avr_dir}/variants/standard)
  target_compile_definitions(${name}
    PUBLIC ARDUINO=10807 ARDUINO_AVR_UNO ARDUINO_ARCH_AVR
    PRIVATE DECIMAL_DIG=__DECIMAL_DIG__)
  target_compile_options(${name} PUBLIC
    -Os -ffunction-sections -fdata-sections
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-threadsafe-statics>
    PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-fpermissive> -w)
  set_target_properties(${name} PROPERTIES
    C_STANDARD 11 C_EXTENSIONS ON CXX_STANDARD 11 CXX_EXTENSIONS ON
    INTERPROCEDURAL_OPTIMIZATION ON)
endfunction()

# A sketch's .elf and .hex; prints its flash and RAM use when it is built. ARGN: definitions.
function(add_sketch name ino core)
  set(unit ${CMAKE_CURRENT_BINARY_DIR}/${name}.cpp)
  file(CONFIGURE OUTPUT ${unit} CONTENT "#include <Arduino.h>\n#include \"${ino}\"\n")
  add_executable(${name} ${unit})
  set_target_properties(${name} PROPERTIES
    SUFFIX .elf CXX_STANDARD 11 CXX_EXTENSIONS ON INTERPROCEDURAL_OPTIMIZATION ON)
  target_compile_definitions(${name} PRIVATE ${ARGN})
  target_compile_options(${name} PRIVATE -Wall -Wextra
    $<$<BOOL:${STEER_WARNINGS_AS_ERRORS}>:-Werror>)
  target_link_libraries(${name} PRIVATE ${core})
  target_link_options(${name} PRIVATE -Os -Wl,--gc-sections)
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND ${AVR_OBJCOPY} -O ihex -R .eeprom $<TARGET_FILE:${name}> ${name}.hex
    COMMAND ${CMAKE_COMMAND} -E echo "${CMAKE_CURRENT_BINARY_DIR}/${name}.hex:"
    COMMAND ${AVR_SIZE} --format=avr --mcu=${AVR_MCU} $<TARGET_FILE:${name}>
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    BYPRODUCTS ${name}.hex
    VERBATIM)
endfunction()
