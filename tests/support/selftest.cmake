# Self-test of the loopback HTTP fixture. Path is anchored here so any CMakeLists may include it.
nq_test(test_loopbackserver ${CMAKE_CURRENT_LIST_DIR}/loopbackserver_test.cpp LIBS nq_testsupport)
