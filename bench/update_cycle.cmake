# bench/update_cycle: the whole update cycle against loopback nginx beside
# curl, with the libraries' ceiling. Not a test: run it by hand.
add_executable(update_cycle ${CMAKE_CURRENT_LIST_DIR}/update_cycle.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/servers.cpp)
target_link_libraries(update_cycle PRIVATE corvane_bench_crypto corvane_release corvane_warnings)
target_compile_definitions(update_cycle PRIVATE
  CORVANE_KEYS_DIR="${PROJECT_SOURCE_DIR}/keys"
  CORVANE_TEST_SUPPORT_DIR="${PROJECT_SOURCE_DIR}/tests/support")
