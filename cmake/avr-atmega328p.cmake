# Cross build for the board: an ATmega328P at 16 MHz (Arduino Uno or Nano), with Debian's
# gcc-avr, avr-libc and binutils-avr. The top-level CMakeLists.txt builds only the firmware then.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR avr)

set(CMAKE_C_COMPILER avr-gcc)
set(CMAKE_CXX_COMPILER avr-g++)
set(CMAKE_ASM_COMPILER avr-gcc)
find_program(AVR_OBJCOPY avr-objcopy REQUIRED)
find_program(AVR_SIZE avr-size REQUIRED)

set(AVR_MCU atmega328p)
set(AVR_F_CPU 16000000L)
set(CMAKE_C_FLAGS_INIT "-mmcu=${AVR_MCU} -DF_CPU=${AVR_F_CPU}")
set(CMAKE_CXX_FLAGS_INIT "-mmcu=${AVR_MCU} -DF_CPU=${AVR_F_CPU}")
set(CMAKE_ASM_FLAGS_INIT "-mmcu=${AVR_MCU} -DF_CPU=${AVR_F_CPU}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-mmcu=${AVR_MCU}")

# There is no operating system to run a test program on: check the compilers with a library.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
