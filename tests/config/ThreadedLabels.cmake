# Read by CTest after the discovered tests: gives them both labels. skav_add_gtest passes its
# label list flat, so only "unit" arrives and the TSan stage (ctest -L threaded) would skip them.
if(config_tests_TESTS)
    set_tests_properties(${config_tests_TESTS} PROPERTIES LABELS "unit;threaded")
endif()
