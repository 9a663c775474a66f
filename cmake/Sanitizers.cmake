# STIQLET_SANITIZE=ON builds every target that follows with AddressSanitizer (LeakSanitizer
# included) and UndefinedBehaviorSanitizer, with gcc or clang. Undefined behaviour stops the
# program at the first report instead of printing and going on, so that a test run fails.
# Run the tests with the options of test.sh (tests/lsan.supp holds the known leaks of the
# libraries below us).
option(STIQLET_SANITIZE "Build with AddressSanitizer, LeakSanitizer and UBSan" OFF)

if(STIQLET_SANITIZE)
  if(MSVC)
    message(FATAL_ERROR "STIQLET_SANITIZE needs gcc or clang")
  endif()
  set(stiqlet_sanitize_flags -fsanitize=address,undefined -fno-sanitize-recover=all
      -fno-omit-frame-pointer)
  add_compile_options(${stiqlet_sanitize_flags})
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # gcc's bounds warnings misfire on instrumented code (accesses its own size checks rule
    # out); the uninstrumented build keeps them.
    add_compile_options(-Wno-array-bounds)
  endif()
  add_link_options(-fsanitize=address,undefined)
  message(STATUS "Sanitizers: address, leak, undefined")
endif()

# STIQLET_SANITIZE_THREAD=ON builds every target that follows with ThreadSanitizer, for the tests
# of the code that runs on several threads (label "threads"). Qt's own libraries are not
# instrumented: races inside them go unseen, races in our code are reported.
option(STIQLET_SANITIZE_THREAD "Build with ThreadSanitizer" OFF)

if(STIQLET_SANITIZE_THREAD)
  if(MSVC OR STIQLET_SANITIZE)
    message(FATAL_ERROR "STIQLET_SANITIZE_THREAD needs gcc or clang, without STIQLET_SANITIZE")
  endif()
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
  message(STATUS "Sanitizers: thread")
endif()
