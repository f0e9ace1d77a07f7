# Warnings are errors for the project's own targets only; third-party headers come in as SYSTEM.
function(kv_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Werror)
    if(KV_SANITIZE STREQUAL "address" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        # GCC's address instrumentation makes it see uninitialised reads in inlined standard
        # library code (std::regex's automaton) that plain builds do not.
        target_compile_options(${target} PRIVATE -Wno-maybe-uninitialized)
    endif()
endfunction()

# kv_library(NAME SOURCES... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...])
function(kv_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
    kv_warnings(${name})
endfunction()
