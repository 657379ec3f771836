kavrel_add_fuzzer(protocol_engine SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ProtocolEngineFuzz.cpp LIBS kavrel_protocol)
