kavrel_add_fuzzer(profile_file SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ProfileFileFuzz.cpp LIBS kavrel_config)
kavrel_add_fuzzer(history_entry SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/HistoryEntryFuzz.cpp LIBS kavrel_settings)
