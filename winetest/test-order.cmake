# Read by CTest after every test is defined. KV_TEST_ORDER names a file with
# one test name a line: the run then takes the tests in that order, the
# session's fixtures still around them.
if(DEFINED ENV{KV_TEST_ORDER})
    file(STRINGS "$ENV{KV_TEST_ORDER}" kv_order)
    set(kv_previous "")
    foreach(kv_test IN LISTS kv_order)
        if(kv_previous)
            set_tests_properties("${kv_test}" PROPERTIES DEPENDS "${kv_previous}")
        endif()
        set(kv_previous "${kv_test}")
    endforeach()
endif()
