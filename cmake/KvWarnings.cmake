# Warnings are errors for the project's own targets only; third-party headers come in as SYSTEM.
function(kv_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Werror)
endfunction()

# kv_library(NAME SOURCES... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...])
function(kv_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
    kv_warnings(${name})
endfunction()
