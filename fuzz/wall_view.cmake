kavrel_add_fuzzer(wall_view SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/WallViewFuzz.cpp LIBS kavrel_settings)
