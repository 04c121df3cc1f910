# Read by CTest after every test is defined. KV_TEST_ORDER names a file with
# one test name a line: the run then takes the tests in that order, lane by
# lane (each lane's tests one after another, the lanes side by side), the
# session's fixtures still around them. Tests outside the lanes keep the
# order among themselves.
if(DEFINED ENV{KV_TEST_ORDER})
    file(STRINGS "$ENV{KV_TEST_ORDER}" kv_order)
    foreach(kv_test IN LISTS kv_order)
        set(kv_lane host)
        if(DEFINED "kv_lane_of_${kv_test}")
            set(kv_lane "${kv_lane_of_${kv_test}}")
        endif()
        if(DEFINED "kv_previous_${kv_lane}")
            set_tests_properties("${kv_test}" PROPERTIES DEPENDS "${kv_previous_${kv_lane}}")
        endif()
        set("kv_previous_${kv_lane}" "${kv_test}")
    endforeach()
endif()
