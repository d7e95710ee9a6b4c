# skav_add_gtest(<target> SOURCES ... [LIBS ...] [THREADED] [ONE_PROCESS])
# One GoogleTest executable, each case registered with CTest. THREADED marks the
# tests that the ThreadSanitizer build runs. ONE_PROCESS registers the program as one test
# instead, for cases that share something costly to make (a database server).
function(skav_add_gtest target)
    cmake_parse_arguments(A "THREADED;ONE_PROCESS" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${target} ${A_SOURCES})
    target_link_libraries(${target} PRIVATE ${A_LIBS} skav_test_support GTest::gmock
                          GTest::gtest_main Threads::Threads)
    # One label each: the discovered tests' properties arrive as one flat list, which a
    # list of labels would be split into.
    set(label unit)
    if(A_THREADED)
        set(label threaded)
    endif()
    if(A_ONE_PROCESS)
        add_test(NAME ${target} COMMAND ${target})
        set_tests_properties(${target} PROPERTIES LABELS ${label} TIMEOUT 300)
        return()
    endif()
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60
                         PROPERTIES LABELS ${label} TIMEOUT 120)
endfunction()
