# KV_SANITIZE=address runs AddressSanitizer with UndefinedBehaviorSanitizer; =thread runs ThreadSanitizer.
set(KV_SANITIZE "" CACHE STRING "address or thread")
# Every test of a sanitized build runs with KV_SANITIZE_ENV (inherited by the programs it starts)
# and KV_SANITIZE_TIME_FACTOR times its usual time-out. A report aborts the process, so that a
# harness that only watches exit codes or signals, like the end-to-end tests', sees it too.
set(KV_SANITIZE_ENV "")
set(KV_SANITIZE_TIME_FACTOR 1)
set(KV_SANITIZER_DIR ${PROJECT_SOURCE_DIR}/cmake/sanitizers)
if(KV_SANITIZE STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
    set(KV_SANITIZE_ENV
        "ASAN_OPTIONS=abort_on_error=1:detect_leaks=1"
        "LSAN_OPTIONS=suppressions=${KV_SANITIZER_DIR}/lsan.supp:print_suppressions=0"
        "UBSAN_OPTIONS=print_stacktrace=1:abort_on_error=1"
        # Mesa's GLX driver, which a widgets program on X does not need, leaks from a module it
        # unloads before the leak check, where no suppression can name it.
        "QT_XCB_GL_INTEGRATION=none")
    set(KV_SANITIZE_TIME_FACTOR 2)
elseif(KV_SANITIZE STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
    # Shows ThreadSanitizer the order Qt keeps between threads; kv_add_test links it.
    find_package(Qt5 5.15 REQUIRED COMPONENTS Core)
    add_library(kvqthandover OBJECT ${PROJECT_SOURCE_DIR}/cmake/sanitizers/QtHandOver.cpp)
    target_link_libraries(kvqthandover PUBLIC Qt5::Core)
    target_compile_options(kvqthandover PRIVATE -Wall -Wextra -Wshadow -Werror)
    set(KV_SANITIZE_ENV
        "TSAN_OPTIONS=suppressions=${KV_SANITIZER_DIR}/tsan.supp:halt_on_error=1:abort_on_error=1:second_deadlock_stack=1:print_suppressions=0")
    set(KV_SANITIZE_TIME_FACTOR 3)
elseif(NOT KV_SANITIZE STREQUAL "")
    message(FATAL_ERROR "KV_SANITIZE must be address, thread or empty")
endif()
