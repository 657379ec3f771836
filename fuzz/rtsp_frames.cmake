kavrel_add_fuzzer(rtsp_frames SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/RtspFramesFuzz.cpp LIBS kavrel_source)
