kavrel_add_fuzzer(onvif_replies SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/OnvifRepliesFuzz.cpp LIBS kavrel_onvif)
