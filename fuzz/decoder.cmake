kavrel_add_fuzzer(decoder SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/DecoderFuzz.cpp LIBS kavrel_video)
