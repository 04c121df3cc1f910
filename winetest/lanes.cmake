# Lanes: the Wine tests of a directory are dealt in turn to KV_TEST_LANES
# lanes. Each lane has its own prefix, wineserver and display (KV_LANE picks
# them in wine-env.sh) and runs one test at a time (a resource lock), so that
# `ctest -j<lanes>` keeps every core busy while no two tests share state.
# The assignment is written for test-order.cmake, which chains an ordered
# run lane by lane.
set(KV_TEST_LANES 2 CACHE STRING "Wine test lanes: prefixes run side by side")

function(kv_assign_lanes)
    get_property(tests DIRECTORY PROPERTY TESTS)
    set(lane 0)
    set(map "")
    foreach(test IN LISTS tests)
        get_test_property(${test} FIXTURES_REQUIRED fixtures)
        if(NOT "wine" IN_LIST fixtures)
            continue()
        endif()
        set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT KV_LANE=${lane})
        set_property(TEST ${test} APPEND PROPERTY RESOURCE_LOCK kv_lane_${lane})
        string(APPEND map "set(\"kv_lane_of_${test}\" ${lane})\n")
        math(EXPR lane "(${lane} + 1) % ${KV_TEST_LANES}")
    endforeach()
    file(WRITE ${CMAKE_BINARY_DIR}/winetest/lane-map.cmake "${map}")
endfunction()
