find_package(GTest REQUIRED)

# kv_add_test(NAME SOURCES... [LIBS ...] [INTERNALS library...] [LABELS ...] [TIMEOUT s]
#             [RESOURCE_LOCK name] [ENV VAR=value...] [NO_GTEST_MAIN])
# One test program per test file; every program is a CTest test of the same name, labelled with
# the module its name begins with (core_..., ui_...) so that ctest -L selects a module's tests.
# INTERNALS: the test sees every header of each library, as kv_internals below.
# NO_GTEST_MAIN: the test brings its own main, e.g. to create the Qt application object first.
function(kv_add_test name)
    cmake_parse_arguments(ARG "NO_GTEST_MAIN" "TIMEOUT;RESOURCE_LOCK"
        "SOURCES;LIBS;INTERNALS;LABELS;ENV" ${ARGN})
    foreach(source ${ARG_SOURCES})
        if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${source} AND NOT IS_ABSOLUTE ${source})
            message(FATAL_ERROR "${name}: ${CMAKE_CURRENT_SOURCE_DIR}/${source} does not exist")
        endif()
    endforeach()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest Threads::Threads)
    kv_internals(${name} PRIVATE ${ARG_INTERNALS})
    if(TARGET kvqthandover)
        target_link_libraries(${name} PRIVATE kvqthandover)
    endif()
    if(NOT ARG_NO_GTEST_MAIN)
        target_link_libraries(${name} PRIVATE GTest::gtest_main)
    endif()
    kv_warnings(${name})
    add_test(NAME ${name} COMMAND ${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    math(EXPR ARG_TIMEOUT "${ARG_TIMEOUT} * ${KV_SANITIZE_TIME_FACTOR}")
    string(REGEX MATCH "^[a-z0-9]+" labels ${name})
    list(APPEND labels ${ARG_LABELS})
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${labels}"
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;KV_SOURCE_DIR=${PROJECT_SOURCE_DIR};KV_BINARY_DIR=${PROJECT_BINARY_DIR};${KV_SANITIZE_ENV};${ARG_ENV}")
    if(ARG_RESOURCE_LOCK)
        set_tests_properties(${name} PROPERTIES RESOURCE_LOCK ${ARG_RESOURCE_LOCK})
    endif()
endfunction()

# kv_internals(TARGET PRIVATE|PUBLIC library...): TARGET sees every header of each library, public
# or not. Only for a module's own tests and their helpers, in that module's folder under tests/:
# no other code may reach into a module's internals.
function(kv_internals target scope)
    foreach(library ${ARGN})
        target_include_directories(${target} ${scope}
            $<TARGET_PROPERTY:${library},INCLUDE_DIRECTORIES>)
    endforeach()
endfunction()
